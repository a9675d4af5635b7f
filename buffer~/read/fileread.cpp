// The file load driver: opens a located file through the box's jsoundfile, decides the
// buffer's size, lets the parser write floats into the owner's memory, and notifies.
#include "../window/window.h"
#include "read.h"

static t_atom_long buffer_parserlong(void *answer) { return (t_atom_long)(t_ptr_int)answer; }

// The parser's integer answers of 32 bits (sample rate, channel count).
static long buffer_parserint(void *answer) { return (long)(int32_t)(t_ptr_int)answer; }

void buffer_readfailed(t_buffer *x, t_atom_long code) {
    globalsymbol_notify(&x->b_obj, x->b_name->s_name, ps_read_failed, (void *)(t_ptr_int)code);
}

// Closes the parser; raw data is read as 16-bit integers again until a load asks otherwise.
void buffer_closeparser(t_object *sf) {
    object_attr_setchar(sf, gensym("forcefloat"), 0);
    object_method(sf, _common_symbols->s_close);
}

// A frame position of ms milliseconds at M samples per ms, rounded; huge values saturate
// (they then fail as out of memory or read nothing) instead of converting undefined.
t_atom_ulong buffer_mstoframes(double ms, float msr) {
    double f = ms * (double)msr + 0.5;
    if (!(f >= 0.0)) return 0;
    if (f >= 1.8446744073709552e19) return UINT64_MAX;
    return (t_atom_ulong)f;
}

// The memory could not be had: the owner falls back to a cleared block of 100 frames.
static void buffer_readfallback(t_buffer *x, t_buffer *owner, const char *name) {
    object_error(&x->b_obj, "%s: out of memory reading %s", x->b_name->s_name, name);
    buffer_allocfallback(owner);
    buffer_propogate(owner);
    buffer_closeparser(x->b_soundfile);
    buffer_edit_end(x, 0);
    buffer_readfailed(x, -1);
}

long buffer_loadopen(t_buffer *x, t_object *sf, const char *name, short path, t_atom_long chans, t_fourcc type,
                     double start, double dur, t_loadplan *plan) {
    // Without a parser object (its creation failed) nothing can be opened.
    t_atom_long err = sf ? buffer_parserlong(object_method(sf, _common_symbols->s_open, (long)path, name, 0L, 0L)) : -1;
    if (err) {
        if (x->b_errfn)
            x->b_errfn(x->b_errarg, err);
        else {
            object_error(&x->b_obj, "cannot open parser for this file");
            const char *cause = sf ? (const char *)object_method(sf, gensym("getcause")) : nullptr;
            if (cause && *cause) object_error(&x->b_obj, "%s: %s", name, cause);
        }
        buffer_readfailed(x, err);
        return err;
    }
    long rate = buffer_parserint(object_method(sf, gensym("getsr")));
    float msr = (float)((double)rate * 0.001);
    long filechans = buffer_parserint(object_method(sf, gensym("getchannelcount")));

    t_buffer *owner = (t_buffer *)buffer_findowner(x);
    owner->b_filetype = type;

    // Raw data has no header: its length in frames depends on the sample size it is read with.
    bool raw = type == FOURCC('D', 'A', 'T', 'A');
    if (raw) {
        bool isfloat = x->b_samptype == FOURCC('F', 'L', '3', '2') || x->b_samptype == FOURCC('F', 'L', '6', '4');
        object_attr_setchar(sf, gensym("forcefloat"), isfloat ? 1 : 0);
    }

    // A count taken as given at creation may be negative: no use for memory, so the file's.
    t_atom_long nchans = chans == 0 ? (x->b_nchans > 0 ? x->b_nchans : filechans) : chans < 0 ? filechans : chans;
    bool resize = dur < 0.0 || nchans != x->b_nchans;
    double want = dur > 0.0 ? dur : 0.0;
    t_atom_ulong first = buffer_mstoframes(start, msr);
    t_atom_ulong frames;
    if (want == 0.0) {
        // From the start offset to the end of the file; nothing at all when the offset is past it.
        t_atom_long length = buffer_parserlong(object_method(sf, gensym("getlength")));
        frames = length > 0 && (t_atom_ulong)length > first ? (t_atom_ulong)length - first : 0;
    } else {
        frames = buffer_mstoframes(want, msr);
    }
    *plan = t_loadplan{sf, owner, rate, msr, nchans, resize, want, first, frames, type, raw};
    return 0;
}

void buffer_loadfinish(t_buffer *x, const t_loadplan *plan, const char *name, short path, bool cut) {
    t_buffer *owner = plan->owner;
    t_object *sf = plan->sf;
    t_atom_long nchans = plan->nchans;
    t_atom_ulong frames = plan->frames;
    if (!plan->raw && (plan->type == FOURCC('A', 'I', 'F', 'F') || plan->type == FOURCC('A', 'I', 'F', 'C')))
        buffer_instrument(owner, sf);
    else
        buffer_clearinstrument(owner);
    buffer_closeparser(sf);

    owner->b_outsampsize = x->b_outsampsize;
    owner->b_prevchans = x->b_nchans;
    owner->b_nchans = nchans;
    owner->b_frames = (t_atom_long)frames;
    owner->b_sr = (float)plan->rate;
    owner->b_1oversr = 1.0f / owner->b_sr;
    owner->b_msr = plan->msr;
    owner->b_filename = gensym(name);
    owner->b_filepath = path;

    // Without resizing the file filled the whole buffer: clear what lies past the duration.
    t_atom_ulong keep = buffer_mstoframes(plan->want, plan->msr);
    if (cut && keep != 0 && frames > keep)
        set_zero(owner->b_samples + keep * (t_atom_ulong)nchans, (t_ptr_int)((frames - keep) * (t_atom_ulong)nchans));

    buffer_propogate(owner);
    bufferwindow_assign(owner->b_window);
    owner->b_spare32 = 0;

    buffer_edit_end(x, 1);
    if (x->b_window) bufferwindow_updatechans(x->b_window);
    x->b_modified = 1;
    buffer_dirty(x);
}

long buffer_fileread(t_buffer *x, const char *name, short path, t_atom_long chans, t_fourcc type, double start,
                     double dur) {
    buffer_cancelloads(x);  // the last load wins
    t_loadplan plan;
    long err = buffer_loadopen(x, x->b_soundfile, name, path, chans, type, start, dur, &plan);
    if (err) return err;
    t_buffer *owner = plan.owner;
    t_object *sf = plan.sf;
    t_atom_long nchans = plan.nchans;
    bool resize = plan.resize;
    t_atom_ulong frames = plan.frames;

    if (buffer_edit_begin(x)) {
        object_error(&x->b_obj, "can't read file now");
        buffer_closeparser(sf);
        buffer_readfailed(x, -1);
        return -1;
    }
    if (x->b_size == 0) resize = true;

    if (resize) {
        sysmem_freeptr(owner->b_memory);
        owner->b_memory = nullptr;
        owner->b_samples = nullptr;
        t_atom_long size;
        if (frames > (t_atom_ulong)INT64_MAX || __builtin_mul_overflow((t_atom_long)frames, nchans, &size)) size = -1;
        owner->b_size = size;
        owner->b_memory = buffer_allocsamples(size, owner->b_padding, false);
        if (!owner->b_memory) {
            buffer_readfallback(x, owner, name);
            return -1;
        }
    } else {
        if (!owner->b_memory) {
            buffer_closeparser(sf);
            buffer_edit_end(x, 0);
            buffer_readfailed(x, -1);
            return -1;
        }
        frames = (t_atom_ulong)owner->b_frames;
        set_zero(owner->b_memory, (t_ptr_int)(owner->b_size + 2 * owner->b_padding));
    }
    buffer_setguards(owner);

    object_method(sf, gensym("readfloats"), owner->b_samples, plan.first, frames, nchans);
    plan.frames = frames;
    buffer_loadfinish(x, &plan, name, path, true);
    return 0;
}
