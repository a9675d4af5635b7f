// Names, the chain of boxes sharing one name, rename, duplicate and enumerate.
#include <cstring>

#include "../window/window.h"
#include "buffer.h"

// Whether the object in a name's slot is a buffer of our own class.
static t_buffer *buffer_slotbuffer(t_symbol *name) {
    t_object *thing = name->s_thing;
    if (thing && object_class(thing) == s_buffer_class) return (t_buffer *)thing;
    return nullptr;
}

long buffer_checksymbol(t_buffer *x, t_symbol *name) {
    t_object *thing = name->s_thing;
    if (thing && object_class(thing) != s_buffer_class) {
        object_error(&x->b_obj, "%s: already in use", name->s_name);
        return 1;
    }
    return 0;
}

long buffer_bind(t_buffer *x, t_symbol *name) {
    if (buffer_checksymbol(x, name)) return -1;
    if (name == ps_nothing) {
        x->b_isowner = 1;
        x->b_next = nullptr;
        x->b_name = ps_nothing;
        return 0;
    }
    t_buffer *head = buffer_slotbuffer(name);
    if (head) {
        buffer_addpeer(head, x);
        x->b_name = name;
        return 0;
    }
    name->s_thing = &x->b_obj;
    x->b_isowner = 1;
    x->b_next = nullptr;
    globalsymbol_bind(&x->b_obj, name->s_name, 0);
    x->b_name = name;
    return 0;
}

void buffer_unbind(t_buffer *x) {
    critical_enter(nullptr);
    t_symbol *name = x->b_name;
    if (x->b_isowner) {
        if (x->b_next) {
            t_buffer *next = x->b_next;
            next->b_isowner = 1;
            if (name != ps_nothing) name->s_thing = &next->b_obj;
            x->b_isowner = 0;
            if (name != ps_nothing) {
                globalsymbol_unbind(&x->b_obj, name->s_name, 0);
                globalsymbol_bind(&next->b_obj, name->s_name, 0);
            }
        } else if (name != ps_nothing) {
            if (name->s_thing == &x->b_obj) name->s_thing = nullptr;
            globalsymbol_unbind(&x->b_obj, name->s_name, 0);
        }
        x->b_next = nullptr;
    } else {
        t_buffer *head = buffer_gethead(x);
        if (head) buffer_removepeer(head, x);
    }
    critical_exit(nullptr);
}

bool buffer_inchain(t_buffer *x) {
    if (x->b_isowner) return true;
    for (t_buffer *p = buffer_gethead(x); p; p = p->b_next)
        if (p == x) return true;
    return false;
}

t_buffer *buffer_gethead(t_buffer *x) {
    if (!x->b_name || x->b_name == ps_nothing) return nullptr;
    return buffer_slotbuffer(x->b_name);
}

void buffer_addpeer(t_buffer *head, t_buffer *x) {
    x->b_isowner = 0;
    x->b_next = head->b_next;
    head->b_next = x;
    x->b_name = head->b_name;
    buffer_copydata(head, x);
}

void buffer_removepeer(t_buffer *head, t_buffer *x) {
    if (head && object_class(head) == s_buffer_class) {
        t_buffer *prev = head;
        for (t_buffer *p = head->b_next; p; prev = p, p = p->b_next) {
            if (p == x) {
                prev->b_next = x->b_next;
                break;
            }
        }
    }
    x->b_next = nullptr;
}

void buffer_copydata(t_buffer *from, t_buffer *to) {
    to->b_memory = from->b_memory;
    to->b_samples = from->b_samples;
    to->b_frames = from->b_frames;
    to->b_nchans = from->b_nchans;
    to->b_size = from->b_size;
    to->b_sr = from->b_sr;
    to->b_1oversr = from->b_1oversr;
    to->b_msr = from->b_msr;
    to->b_spare16 = from->b_spare16;
    to->b_susloopstart = from->b_susloopstart;
    to->b_susloopend = from->b_susloopend;
    to->b_relloopstart = from->b_relloopstart;
    to->b_relloopend = from->b_relloopend;
    to->b_basepitch = from->b_basepitch;
    to->b_detune = from->b_detune;
    to->b_lowpitch = from->b_lowpitch;
    to->b_highpitch = from->b_highpitch;
    to->b_lowvel = from->b_lowvel;
    to->b_highvel = from->b_highvel;
    to->b_gain = from->b_gain;
    to->b_filetype = from->b_filetype;
    to->b_filename = from->b_filename;
    to->b_filepath = from->b_filepath;
    to->b_outsampsize = from->b_outsampsize;
    __atomic_store_n(&to->b_modtime, __atomic_load_n(&from->b_modtime, __ATOMIC_RELAXED), __ATOMIC_RELAXED);
    to->b_padding = from->b_padding;
    to->b_realloc = from->b_realloc;
    to->b_valid = from->b_valid;
}

void buffer_propogate(t_buffer *x) {
    t_buffer *start;
    if (x->b_isowner) {
        start = x->b_next;
    } else {
        // A box that left the chain (released) must not hand its memory to the chain.
        if (!buffer_inchain(x)) return;
        start = buffer_gethead(x);
        if (!start) return;
    }
    for (t_buffer *p = start; p; p = p->b_next) {
        if (p == x) continue;
        buffer_copydata(x, p);
        bufferwindow_assign(p->b_window);
    }
}

void buffer_name(t_buffer *x, t_symbol *name) { buffer_defersym<buffer_doname>(x, name); }

void buffer_doname(t_buffer *x, t_symbol *name) {
    if (!name || name == x->b_name || name == ps_nothing || buffer_checksymbol(x, name)) return;
    buffer_cancelloads(x);

    // A box in no chain (its name was taken, or it was released) holds whatever
    // memory it has alone; it is no owner, but that memory is its to keep or free.
    bool held_alone = (x->b_isowner && !x->b_next) || !buffer_inchain(x);
    t_atom_long oldsize = x->b_size;
    float *oldmemory = x->b_memory;
    t_atom_long oldpadding = oldmemory && x->b_samples ? x->b_samples - oldmemory : x->b_padding;

    buffer_unbind(x);
    buffer_bind(x, name);

    if (x->b_isowner && !x->b_next && !held_alone) {
        // The old memory stays with the old name: this box needs a block of its own.
        t_atom_long valid = x->b_valid;
        x->b_valid = 0;
        float *mem = buffer_allocsamples(oldsize, x->b_padding, false);
        if (!mem) {
            object_error(&x->b_obj, "%s: out of memory", name->s_name);
            buffer_allocfallback(x);
        } else if (oldmemory) {
            // The data, not the old block: a padding change still queued has already
            // changed b_padding, but not the layout of the block.
            x->b_memory = mem;
            x->b_size = oldsize;
            buffer_setguards(x);
            std::memcpy(x->b_samples, oldmemory + oldpadding, sizeof(float) * (size_t)oldsize);
            x->b_valid = valid;
        } else {
            // Nothing to copy; keep the guard zones zero as everyone expects.
            std::memset(mem, 0, sizeof(float) * (size_t)(oldsize + 2 * x->b_padding));
            x->b_memory = mem;
            x->b_samples = mem + x->b_padding;
            x->b_size = oldsize;
        }
    }
    // Nobody else holds that memory now: the chain it belonged to was this box alone.
    if (held_alone && oldmemory && x->b_memory != oldmemory) sysmem_freeptr(oldmemory);
    bufferwindow_assign(x->b_window);
}

void buffer_duplicate(t_buffer *x, t_symbol *name) { buffer_defersym<buffer_doduplicate>(x, name); }

void buffer_doduplicate(t_buffer *x, t_symbol *name) {
    t_object *thing = name ? name->s_thing : nullptr;
    t_symbol *cls = thing ? object_classname(thing) : nullptr;
    if (!thing || !cls || std::strcmp(cls->s_name, "buffer~") != 0) {
        object_error(&x->b_obj, "%s is not a valid buffer~ name", name ? name->s_name : "");
        return;
    }
    t_buffer *src = (t_buffer *)thing;
    buffer_edit_begin(src);

    t_atom av[2];
    atom_setlong(av, src->b_frames);
    atom_setlong(av + 1, src->b_nchans);
    defer(x, ORVO_FN(buffer_dosize_insamples), nullptr, 2, av);

    object_attr_setlong(x, gensym("padding"), src->b_padding);
    buffer_edit_begin(x);
    if (x->b_memory && src->b_memory && x->b_samples && src->b_samples) {
        t_atom_long n = x->b_size < src->b_size ? x->b_size : src->b_size;
        // Duplicating a buffer onto its own memory copies nothing.
        if (n > 0 && x->b_samples != src->b_samples)
            std::memmove(x->b_samples, src->b_samples, sizeof(float) * (size_t)n);
    }
    buffer_edit_end(x, 1);
    buffer_edit_end(src, -1);
    buffer_dirty(x);
    buffer_propogate(x);
}

void buffer_enumerate(t_buffer *x) {
    object_post(&x->b_obj, "buffers hanging off %s:", x->b_name->s_name);
    t_buffer *head = buffer_gethead(x);
    long i = 0;
    for (t_buffer *p = head; p; p = p->b_next, i++) {
        if (p == x)
            object_post(&x->b_obj, " %ld: %lx (this one)", i, (unsigned long)(uintptr_t)p);
        else
            object_post(&x->b_obj, " %ld: %lx", i, (unsigned long)(uintptr_t)p);
    }
}
