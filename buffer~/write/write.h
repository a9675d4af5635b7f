// File writing: the worker behind the write messages and its helpers. The
// message handlers themselves (buffer_write, buffer_writeaiff, ...) and the
// format settings are declared with the rest of the message table in core/buffer.h.
#pragma once
#include "../core/buffer.h"

// Writes the whole buffer as a sound file. s names the file (the empty symbol
// opens the save dialog); type is the one container the dialog may offer, or 0
// for the four writable ones. Returns -1 when the dialog was cancelled, else the
// sound-file object's "writefloats" result (0 = success). Stores the type written
// in b_filetype and owes a bang either way, except after a cancel. [any thread]
t_atom_long buffer_dowrite(t_buffer *x, t_symbol *s, t_fourcc type);

// Sets b_filetype to "NxTS" and writes it; not a message of its own.
void buffer_writeau(t_buffer *x, t_symbol *s);

// The name the save dialog offers for b_filetype; name holds ORVO_PATH_CHARS bytes.
void buffer_defaultfilename(t_buffer *x, char *name);

// The container type a file name asks for by its extension ("wav", "flac",
// "aif", "aiff", case-sensitive), or current when it names none of them.
t_fourcc buffer_extensiontype(const char *filename, t_fourcc current);
