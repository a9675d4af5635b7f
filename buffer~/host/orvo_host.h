// Everything a plug-in may call in the Orvo host.
#pragma once
#include "orvo_types.h"
#include "orvo_object.h"
#include "orvo_symbol.h"
#include "orvo_sched.h"
#include "orvo_memory.h"
#include "orvo_file.h"
#include "orvo_ui.h"
#include "orvo_audio.h"
#include "commonsyms.h"

ORVO_BEGIN_C
// [any thread] The host's ORVO_HOST_API_VERSION; a plug-in built against another refuses to load.
ORVO_API long orvo_host_api_version(void);
ORVO_END_C
