// buffer~: module-wide state and the core's functions (registration, record,
// names and peers, resizing, notification). Each other subsystem declares its
// own handlers in its folder's header; core/main.cpp registers their union.
#pragma once
#include <type_traits>

#include "../host/buffer_record.h"

// ---- module state (written once by ext_main) ----------------------------------------
extern t_class *s_buffer_class;
extern t_class *s_bufferwindow_class;
extern t_symbol *ps_nothing, *ps_replace;
extern t_symbol *ps_int8, *ps_int16, *ps_int24, *ps_int32, *ps_float32, *ps_float64, *ps_mulaw, *ps_alaw;
extern t_symbol *ps_aiff, *ps_wave, *ps_raw, *ps_au;
extern t_symbol *ps_audiofile, *ps_moviefile;
extern t_symbol *ps_buffer_modified, *ps_read_failed;

#define BUFFER_MIN_PADDING 16
#define BUFFER_FALLBACK_FRAMES 100

// ---- deferral --------------------------------------------------------------------------
// The worker defer calls for Fn, a function of the buffer alone or of the buffer and a
// symbol (which travels as the first atom): defer(x, ORVO_FN(buffer_deferred<buffer_clear>), ...).
template <auto Fn> void buffer_deferred(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if constexpr (std::is_invocable_v<decltype(Fn), t_buffer *>) {
        (void)argc;
        (void)argv;
        Fn(x);
    } else if (argc >= 1) {
        Fn(x, atom_getsym(argv));
    }
}
// Runs Fn(x, name) on the main thread: at once when already there, else queued.
template <auto Fn> void buffer_defersym(t_buffer *x, t_symbol *name) {
    t_atom a;
    atom_setsym(&a, name);
    defer(x, ORVO_FN(buffer_deferred<Fn>), nullptr, 1, &a);
}

// ---- entry and small handlers (core/main.cpp) -------------------------------------------
ORVO_EXPORT void ext_main(void *module);
t_symbol *buffer_getname(t_buffer *x, t_symbol **where);
float *buffer_getsampleptr(t_buffer *x);
void buffer_set_custom_error_handler(t_buffer *x, void (*fn)(void *, t_atom_long), void *arg);
void buffer_assist(t_buffer *x, void *box, long kind, long index, char *text);
void buffer_bang(t_buffer *x);
void buffer_fileusage(t_buffer *x, void *context);
void buffer_dsp64(t_buffer *x);
long buffer_acceptsdrag(t_buffer *x, t_object *drag, t_object *view);

// ---- record, creation, teardown (core/record.cpp) ----------------------------------------
void *buffer_new(t_symbol *s, long argc, t_atom *argv);
void buffer_parseargs(t_buffer *x, long argc, t_atom *argv, float *size, t_symbol **filename);
void buffer_free(t_buffer *x);
void buffer_releaseresources(t_buffer *x);
t_orvo_err buffer_setpadding(t_buffer *x, t_object *attr, long argc, t_atom *argv);
// Points b_samples after the front guard zone and zeroes both guard zones.
void buffer_setguards(t_buffer *x);
// A sample block of size floats plus two guard zones of padding floats; null when it cannot be had.
float *buffer_allocsamples(t_atom_long size, t_atom_long padding, bool clear);
// The out-of-memory fallback: a zeroed block of BUFFER_FALLBACK_FRAMES frames of b_nchans
// channels for x, its fields set to match (no frames when the channels overflow; b_memory
// and b_samples null when even that cannot be had).
void buffer_allocfallback(t_buffer *x);

// ---- names and peers (core/names.cpp) ------------------------------------------------------
long buffer_checksymbol(t_buffer *x, t_symbol *name);
long buffer_bind(t_buffer *x, t_symbol *name);
void buffer_unbind(t_buffer *x);
t_buffer *buffer_gethead(t_buffer *x);
// Whether the box is the owner or a member of its name's chain (false for a box left unbound).
bool buffer_inchain(t_buffer *x);
void buffer_addpeer(t_buffer *head, t_buffer *x);
void buffer_removepeer(t_buffer *head, t_buffer *x);
void buffer_copydata(t_buffer *from, t_buffer *to);
void buffer_propogate(t_buffer *x);
void buffer_name(t_buffer *x, t_symbol *name);
void buffer_doname(t_buffer *x, t_symbol *name);
void buffer_duplicate(t_buffer *x, t_symbol *name);
void buffer_doduplicate(t_buffer *x, t_symbol *name);
void buffer_enumerate(t_buffer *x);

// ---- resizing, sample rate, clearing (core/size.cpp) ------------------------------------------
void buffer_sizeinsamps(t_buffer *x, t_atom_long frames, t_atom_long chans);
void buffer_size(t_buffer *x, double ms, t_atom_long chans);
void buffer_dosize_insamples(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
void buffer_dosize(t_buffer *x, t_symbol *s, long argc, t_atom *argv);
void buffer_resize_and_copy(t_buffer *x, t_atom_long frames, t_atom_long chans, float *src);
void buffer_sr(t_buffer *x, double sr);
void buffer_clear(t_buffer *x);
void buffer_clearlow(t_buffer *x);
t_orvo_err buffer_getsize(t_buffer *x, t_object *attr, long *argc, t_atom **argv);
t_orvo_err buffer_setsize(t_buffer *x, t_object *attr, long argc, t_atom *argv);
t_orvo_err buffer_getsizeinsamps(t_buffer *x, t_object *attr, long *argc, t_atom **argv);
t_orvo_err buffer_setsizeinsamps(t_buffer *x, t_object *attr, long argc, t_atom *argv);

// ---- loads in the background (read/asyncload.cpp) ------------------------------------------------
// [main thread] A replacement of memory, size or name on x's chain: every load of the chain
// still in the background is abandoned (parser closed, its block freed).
void buffer_cancelloads(t_buffer *x);
// [any thread] An edit of the samples in place through x: the chain's background loads will
// not overwrite it (each is abandoned at the latest when it would swap its block in).
void buffer_edited(t_buffer *x);
// [main thread] The box goes: its own background load is abandoned, its setting forgotten.
void buffer_loadfree(t_buffer *x);

// ---- change notification (core/notify.cpp) ------------------------------------------------------
void buffer_dirty(t_buffer *x);
// [any thread] The "dirty" message: buffer_edited, then buffer_dirty.
void buffer_dirtymsg(t_buffer *x);
// Room for one atom in an attribute getter's contract: the host's, else our own; null without memory.
t_atom *buffer_getteratom(long *argc, t_atom **argv);
void buffer_dirty_tick(t_buffer *x);
void buffer_dirty_qfn(t_buffer *x);
void buffer_printmodtime(t_buffer *x);
