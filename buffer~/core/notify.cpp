// Change notification: "buffer_modified" to the name's clients, on the main thread,
// at most once per scheduler time, and the bang owed after a file operation.
#include "buffer.h"

void buffer_dirty(t_buffer *x) {
    if (systhread_ismainthread())
        buffer_dirty_qfn(x);
    else
        clock_delay(x->b_clock, 0);
}

// "dirty" from another object, which wrote the samples in place: a background load
// still decoding must not swap its file over that writing.
void buffer_dirtymsg(t_buffer *x) {
    buffer_edited(x);
    buffer_dirty(x);
}

void buffer_dirty_tick(t_buffer *x) { qelem_set(x->b_qelem); }

// The time is shared state: an edit on another thread may copy it to this box
// while the main thread notifies, so it is read and written as one atomic word.
void buffer_dirty_qfn(t_buffer *x) {
    t_atom_long now = gettime();
    if (now != __atomic_load_n(&x->b_modtime, __ATOMIC_RELAXED)) {
        globalsymbol_notify(&x->b_obj, x->b_name->s_name, ps_buffer_modified, x);
        __atomic_store_n(&x->b_modtime, now, __ATOMIC_RELAXED);
    }
    if (x->b_modified && x->b_bangout) {
        x->b_modified = 0;
        outlet_bang(x->b_bangout);
    }
}

void buffer_printmodtime(t_buffer *x) {
    object_post(&x->b_obj, "buffer~ %s: mod time %ld", x->b_name->s_name,
                (long)__atomic_load_n(&x->b_modtime, __ATOMIC_RELAXED));
}
