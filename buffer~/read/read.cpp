// The read messages: argument parsing, file lookup or the open dialog, then the load driver.
#include "read.h"

#include <cstring>

const t_fourcc buffer_read_types[BUFFER_READ_NTYPES] = {
    FOURCC('A', 'I', 'F', 'F'), FOURCC('A', 'I', 'F', 'C'), FOURCC('U', 'L', 'A', 'W'), FOURCC('W', 'A', 'V', 'E'),
    FOURCC('F', 'L', 'A', 'C'), FOURCC('S', 'd', '2', 'f'), FOURCC('Q', 'Q', 'Q', 'Q'), FOURCC('B', 'I', 'N', 'A'),
    FOURCC('N', 'x', 'T', 'S'), FOURCC('M', 'p', '3', ' '), FOURCC('D', 'A', 'T', 'A'), FOURCC('M', '4', 'a', ' '),
    FOURCC('C', 'A', 'F', ' '),
};

void buffer_read(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    defer(x, ORVO_FN(buffer_doread), s, (short)argc, argv);
}

void buffer_readagain(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    defer(x, ORVO_FN(buffer_doreadagain), s, (short)argc, argv);
}

static bool buffer_isreplace(t_symbol *s) { return s && (s == ps_replace || s == gensym("importreplace")); }

void buffer_read_argparse(t_buffer *x, t_symbol *s, long argc, t_atom *argv, t_symbol **name, float *start, float *dur,
                          t_atom_long *chans) {
    bool replace = buffer_isreplace(s);
    long numbers = 0;
    *chans = 0;
    if (argc <= 0 || !argv) {
        *name = ps_nothing;
        *start = 0.0f;
        *dur = replace ? -1.0f : 0.0f;
        *chans = replace ? -1 : 0;
    } else {
        t_atom *num = argv;
        numbers = argc;
        if (atom_gettype(argv) == A_SYM) {
            *name = atom_getsym(argv);
            num++;
            numbers--;
        } else {
            *name = ps_nothing;
        }
        *start = (float)atom_getfloatarg(0, numbers, num);
        *dur = (float)atom_getfloatarg(1, numbers, num);
        if (replace) {
            // Every replace reaches the driver with a negative duration; -1 is kept for "none",
            // so a duration of exactly 1 becomes -1.01.
            if (numbers < 2 || *dur == 0.0f)
                *dur = -1.0f;
            else if (*dur == 1.0f)
                *dur = -1.01f;
            else if (*dur > 0.0f)
                *dur = -*dur;
            *chans = -1;
        }
        if (numbers >= 3) *chans = atom_getintarg(2, numbers, num);
    }
    if (*dur == 0.0f && x->b_frames == 0) *dur = -1.0f;
    if (numbers == 4 && *chans == 0) *chans = -1;
}

// The offset for the report; out-of-range values are clamped rather than converted undefined.
static long buffer_mstolong(float ms) {
    if (!(ms > -9.2e18f)) return INT64_MIN;
    if (ms >= 9.2e18f) return INT64_MAX;
    return (long)ms;
}

long buffer_argcheck(t_buffer *x, t_symbol *s, float *start) {
    if (*start < 0.0f) {
        object_error(&x->b_obj, "%s: bad offset %ld", s ? s->s_name : "read", buffer_mstolong(*start));
        return 1;
    }
    return 0;
}

void buffer_doread(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    t_symbol *name;
    float start, dur;
    t_atom_long chans;
    buffer_read_argparse(x, s, argc, argv, &name, &start, &dur, &chans);
    if (buffer_argcheck(x, s, &start)) return;

    char filename[ORVO_PATH_CHARS];
    short path = 0;
    t_fourcc type = 0;
    if (name != ps_nothing) {
        // A name that does not fit the name buffer could only be found cut short: refuse it.
        bool found = false;
        if (std::strlen(name->s_name) < sizeof filename) {
            std::strcpy(filename, name->s_name);
            found = locatefile_extended(filename, &path, &type, buffer_read_types, BUFFER_READ_NTYPES) == 0;
        }
        if (!found) {
            object_error(&x->b_obj, "%s: can't open", name->s_name);
            return;
        }
    } else {
        filename[0] = 0;
        if (open_dialog(filename, &path, &type, buffer_read_types, BUFFER_READ_NTYPES)) return;
    }
    if (type == FOURCC('B', 'I', 'N', 'A') || type == FOURCC('?', '?', '?', '?')) type = FOURCC('N', 'x', 'T', 'S');
    // The creation-time read (no selector) stays synchronous.
    if (s && buffer_isasync(x))
        buffer_fileread_async(x, filename, path, chans, type, start, dur);
    else
        buffer_fileread(x, filename, path, chans, type, start, dur);
}

void buffer_doreadagain(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (!x->b_filename || x->b_filename == ps_nothing) {
        object_error(&x->b_obj, "readagain: no file previously specified");
        return;
    }
    t_symbol *readagain = gensym("readagain");
    t_symbol *ignored;
    float start, dur;
    t_atom_long chans;
    buffer_read_argparse(x, readagain, argc, argv, &ignored, &start, &dur, &chans);
    if (buffer_argcheck(x, readagain, &start)) return;
    if (buffer_isasync(x))
        buffer_fileread_async(x, x->b_filename->s_name, x->b_filepath, chans, 0, start, dur);
    else
        buffer_fileread(x, x->b_filename->s_name, x->b_filepath, chans, 0, start, dur);
}

long buffer_read_direct(t_buffer *x, short path, const char *name) {
    t_symbol *ignored;
    float start, dur;
    t_atom_long chans;
    buffer_read_argparse(x, gensym("read"), 0, nullptr, &ignored, &start, &dur, &chans);
    return buffer_fileread(x, name ? name : "", path, chans, 0, start, dur);
}
