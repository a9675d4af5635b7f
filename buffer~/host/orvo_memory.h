// Memory blocks.
//
// [any thread] All functions. Sizes are in bytes. Blocks of several MiB come
// straight from the kernel, 2 MiB aligned and advised for huge pages; they are
// already zero, so the clearing variant costs nothing there.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// A block of size bytes (contents undefined), or null when out of memory or size < 0.
ORVO_API char *sysmem_newptr(t_ptr_int size);
// The same, zero-filled.
ORVO_API char *sysmem_newptrclear(t_ptr_int size);
// Frees a block from sysmem_newptr / sysmem_newptrclear; null is ignored.
ORVO_API void sysmem_freeptr(void *p);
// Copies bytes from src to dst (non-overlapping).
ORVO_API void sysmem_copyptr(const void *src, void *dst, t_ptr_int bytes);
// The size a block was allocated with. Host extension.
ORVO_API t_ptr_int sysmem_ptrsize(void *p);

ORVO_END_C
