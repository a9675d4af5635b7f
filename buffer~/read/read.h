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

// What the quick part of a load decided: the open parser, the owner, the file's rate,
// the channel count, whether to resize, the duration in ms (0: none), the first file
// frame and the frame count (the file's part, before a buffer that keeps its size says
// otherwise), the type code and whether the file is read as raw data.
struct t_loadplan {
    t_object *sf;
    t_buffer *owner;
    long rate;
    float msr;
    t_atom_long nchans;
    bool resize;
    double want;
    t_atom_ulong first, frames;
    t_fourcc type;
    bool raw;
};

// The quick part of a load, through the parser sf: opens the file, asks its rate, channels
// and (without a duration) length, sets the owner's b_filetype and decides the sizes. 0, or
// the parser's error code after the failure was reported and "read_failed" sent.
long buffer_loadopen(t_buffer *x, t_object *sf, const char *name, short path, t_atom_long chans, t_fourcc type,
                     double start, double dur, t_loadplan *plan);
// Inside the edit bracket, once the samples are in the owner's memory (plan->frames of
// them): instrument data, parser closed, the description stored, the part past the
// duration cleared when cut is set, peers and views brought up to date, bracket closed,
// clients notified and a bang owed.
void buffer_loadfinish(t_buffer *x, const t_loadplan *plan, const char *name, short path, bool cut);
// Sends "read_failed" with code to the objects attached to x's name.
void buffer_readfailed(t_buffer *x, t_atom_long code);
// Closes the parser sf; raw data is read as 16-bit integers again until a load asks otherwise.
void buffer_closeparser(t_object *sf);
// A frame position of ms milliseconds at msr samples per ms, rounded; huge values saturate.
t_atom_ulong buffer_mstoframes(double ms, float msr);

// ---- loads in the background (read/asyncload.cpp) -----------------------------------------
// [main thread] A load of the read messages on a box whose "async" attribute is set: the quick
// part here, the samples decoded into a fresh block on a thread of its own, then swapped in
// on the main thread by buffer_loadswap. Returns 0 when the load was started.
long buffer_fileread_async(t_buffer *x, const char *name, short path, t_atom_long chans, t_fourcc type,
                           double start, double dur);
// [any thread] Whether loads of the read messages run in the background on this box.
bool buffer_isasync(t_buffer *x);
t_orvo_err buffer_getasync(t_buffer *x, t_object *attr, long *argc, t_atom **argv);
t_orvo_err buffer_setasync(t_buffer *x, t_object *attr, long argc, t_atom *argv);

// Fills the instrument block of x from the open parser sf: the loops resolved from marker ids
// to frames (0 for a loop whose mode is 0), then the pitch, velocity and gain settings.
long buffer_instrument(t_buffer *x, t_object *sf);
// Zeroes the instrument block: the buffer holds no instrument data.
void buffer_clearinstrument(t_buffer *x);
