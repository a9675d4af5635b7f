// Sound-file reading: the read messages, the load driver and the instrument data.
#pragma once
#include "../core/buffer.h"

// ---- message handlers ----------------------------------------------------------------
// "read", "import", "importreplace", "replace": defers the atoms to buffer_doread.
void buffer_read(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// [main thread] Worker of the read messages: parses, locates the file (or asks), loads it.
void buffer_doread(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// "readagain": defers to buffer_doreadagain.
void buffer_readagain(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
// Private "read_direct": loads name from the folder path at once, no dialog; 0 on success.
long buffer_read_direct(t_buffer *x, short path, const char *name);

// The file types the lookup and the open dialog accept, in the order they are offered.
#define BUFFER_READ_NTYPES 13
extern const t_fourcc buffer_read_types[BUFFER_READ_NTYPES];

// [main thread] The worker of "readagain": reloads b_filename from b_filepath; a name argument is ignored.
void buffer_doreadagain(t_buffer *x, t_symbol *s, long argc, t_atom *argv);

// Turns read-message arguments into a load request. name is the empty symbol when none was
// given; a negative *dur asks the driver to resize to the file; *chans 0 keeps the buffer's
// channel count, a negative one takes the file's.
void buffer_read_argparse(t_buffer *x, t_symbol *s, long argc, t_atom *argv, t_symbol **name, float *start, float *dur,
                          t_atom_long *chans);

// Reports a negative start offset ("%s: bad offset %ld") and returns 1; returns 0 otherwise.
long buffer_argcheck(t_buffer *x, t_symbol *s, float *start);

// Loads a located file into the buffer (the memory goes to the owner of x's name), then
// notifies. chans and dur as from buffer_read_argparse; type is the file's type code or 0.
// [main thread, or the thread of a direct caller] Returns 0 after a complete load, else the
// parser's error code or -1 (the failure has been reported and "read_failed" sent).
long buffer_fileread(t_buffer *x, const char *name, short path, t_atom_long chans, t_fourcc type, double start,
                     double dur);

// Fills the instrument block of x from the open parser sf: the loops resolved from marker ids
// to frames (0 for a loop whose mode is 0), then the pitch, velocity and gain settings.
long buffer_instrument(t_buffer *x, t_object *sf);
// Zeroes the instrument block: the buffer holds no instrument data.
void buffer_clearinstrument(t_buffer *x);
