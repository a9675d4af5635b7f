// The host's audio library, OrvoAudioAPI.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// [main thread] Prepares the audio library; plug-ins call it once from ext_main.
ORVO_API void z_sysinit(void);
// [any thread] The system sample rate in Hz (44100 unless set; may be 0).
ORVO_API double sys_getsr(void);
// [any thread] Opens the edit bracket on a buffer record: 0 means the memory may be
// replaced now, nonzero means not now (nothing is opened then). Never waits: the
// answer is "not now" while another bracket is open on the same owner's memory,
// or while the sound-file object reads that memory for "writefloats".
ORVO_API t_orvo_err buffer_edit_begin(void *buffer);
// [any thread] Closes the bracket granted to this record: valid 1 leaves the buffer
// valid, 0 invalid, a negative value leaves the valid flag as it is. Without a
// granted bracket it does nothing.
ORVO_API t_orvo_err buffer_edit_end(void *buffer, long valid);
// [any thread] The head of the buffer's name chain, found through the name's slot;
// the buffer itself when its name is bound to nothing of its class.
ORVO_API void *buffer_findowner(void *buffer);
// [any thread] Marks the buffer valid (1) or invalid (0).
ORVO_API void buffer_valid(void *buffer, long way);
// [any thread] Sets n floats to 0.0.
ORVO_API void set_zero(float *p, t_ptr_int n);

ORVO_END_C
