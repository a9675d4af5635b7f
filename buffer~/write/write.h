// File writing and the output format settings: the write messages, their worker
// and helpers.
#pragma once
#include "../core/buffer.h"

// ---- message handlers ----------------------------------------------------------------
// "write": defers to buffer_dowrite with the file type already set (b_filetype).
void buffer_write(t_buffer *x, t_symbol *s);
// "writeaiff", "writewave", "writeflac", "writeraw": set b_filetype, then write at once.
void buffer_writeaiff(t_buffer *x, t_symbol *s);
void buffer_writewave(t_buffer *x, t_symbol *s);
void buffer_writeflac(t_buffer *x, t_symbol *s);
void buffer_writeraw(t_buffer *x, t_symbol *s);
// Private "write_direct": writes an AIFF file name into the folder path at once; 0 on success.
long buffer_write_direct(t_buffer *x, short path, const char *name);
// "format": the output encoding or bit depth from its first argument, at once.
void buffer_format(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// "samptype": the output sample encoding by name, at once.
void buffer_samptype(t_buffer *x, t_symbol *s);
// "filetype": the output file type by name, at once.
void buffer_filetype(t_buffer *x, t_symbol *s);

// ---- worker and helpers ----------------------------------------------------------------

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
