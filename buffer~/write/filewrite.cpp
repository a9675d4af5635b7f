// Writing the whole buffer as a sound file through its jsoundfile object. This
// side decides folder, name and container; the sound-file object encodes.
#include <cstring>

#include "write.h"

namespace {

const t_fourcc TYPE_AIFF = FOURCC('A', 'I', 'F', 'F');
const t_fourcc TYPE_WAVE = FOURCC('W', 'A', 'V', 'E');
const t_fourcc TYPE_DATA = FOURCC('D', 'A', 'T', 'A');
const t_fourcc TYPE_FLAC = FOURCC('F', 'L', 'A', 'C');
const t_fourcc TYPE_NEXT = FOURCC('N', 'x', 'T', 'S');

// Copies at most ORVO_PATH_CHARS - 1 characters: longer names are cut, never overrun.
void copy_pathname(char *dst, const char *src) {
    size_t n = src ? strnlen(src, ORVO_PATH_CHARS - 1) : 0;
    if (n) std::memcpy(dst, src, n);
    dst[n] = '\0';
}

bool is_float_encoding(t_atom_long samptype) {
    return samptype == FOURCC('F', 'L', '3', '2') || samptype == FOURCC('F', 'L', '6', '4');
}

// Splits a typed-in name into folder id and file name. A folder that cannot be
// found falls back to the default one without a word: the user still gets a file.
void resolve_pathname(const char *given, char *filename, short *path) {
    char full[ORVO_PATH_CHARS];
    copy_pathname(full, given);
    if (!std::strchr(full, path_getseparator())) {
        copy_pathname(filename, full);
        *path = path_getdefault();
        return;
    }
    char folder[ORVO_PATH_CHARS] = "";
    char unused[ORVO_PATH_CHARS] = "";
    filename[0] = '\0';
    if (path_splitnames(full, folder, filename) != 0) copy_pathname(filename, full);
    // A folder name that resolves to a file name inside its parent names no folder either.
    if (!folder[0] || path_frompathname(folder, path, unused) != 0 || unused[0]) *path = path_getdefault();
}

// Drives the sound-file object through one write and owes the bang, whatever the outcome.
t_atom_long write_soundfile(t_buffer *x, short path, const char *name, t_fourcc type, long floatflag) {
    t_object *sf = x->b_soundfile;
    t_atom_long err = -1;
    // Asked of the file system, not by reading: a failed write must not delete a file the user cannot read.
    bool existed = path_exists(name, path) == 0;
    if (sf) {
        object_method(sf, gensym("format"), (t_atom_long)type);

        // Open and set-sample-rate go by direct lookup: the rate is a double,
        // which the pointer-sized message path cannot carry.
        object_method_direct(sf, _common_symbols->s_open, (long)path, name, 0L, 0L);
        object_method_direct(sf, _common_symbols->s_setsamplerate, (double)x->b_sr);
        // "writefloats" carries only a size and a float flag: G.711 is asked for beforehand.
        object_method(sf, gensym("setencoding"), (t_atom_long)x->b_samptype);
        err = (t_atom_long)(intptr_t)object_method(sf, gensym("writefloats"), x->b_samples, x->b_frames, x->b_nchans,
                                                   (long)(x->b_outsampsize * 8), floatflag);
    }
    if (err) {
        object_error(&x->b_obj, "could not create file: %s", name);
        if (!existed) path_deletefile(name, path);
    }
    if (sf) object_method(sf, _common_symbols->s_close);
    x->b_modified = 1;
    buffer_dirty(x);
    return err;
}

// "write" offers every writable type.
void dowrite_anytype(t_buffer *x, t_symbol *s) { buffer_dowrite(x, s, 0); }

// The typed write messages: the record keeps the type they were asked for.
void write_typed(t_buffer *x, t_symbol *s, t_fourcc type) {
    x->b_filetype = type;
    buffer_dowrite(x, s, type);
}

}  // namespace

void buffer_defaultfilename(t_buffer *x, char *name) {
    const char *def;
    switch (x->b_filetype) {
        case FOURCC('.', 's', 'n', 'd'):
        case TYPE_NEXT:
            def = "Untitled.snd";
            break;
        case TYPE_AIFF:
            def = "Untitled.aif";
            break;
        case FOURCC('S', 'd', '2', 'f'):
            def = "Untitled.sd";
            break;
        case TYPE_WAVE:
            def = "Untitled.wav";
            break;
        default:
            def = "Untitled.raw";
            break;
    }
    std::strcpy(name, def);  // every default is far below ORVO_PATH_CHARS
}

t_fourcc buffer_extensiontype(const char *filename, t_fourcc current) {
    const char *dot = filename ? std::strrchr(filename, '.') : nullptr;
    if (!dot) return current;
    const char *ext = dot + 1;
    if (!std::strcmp(ext, "wav")) return TYPE_WAVE;
    if (!std::strcmp(ext, "flac")) return TYPE_FLAC;
    if (!std::strcmp(ext, "aif") || !std::strcmp(ext, "aiff")) return TYPE_AIFF;
    return current;
}

t_atom_long buffer_dowrite(t_buffer *x, t_symbol *s, t_fourcc type) {
    const t_fourcc all_types[] = {TYPE_AIFF, TYPE_WAVE, TYPE_DATA, TYPE_FLAC};
    long floatflag = is_float_encoding(x->b_samptype) ? 1 : 0;
    const t_fourcc *types = type ? &type : all_types;
    short ntypes = type ? 1 : 4;
    t_fourcc chosen = (t_fourcc)x->b_filetype;
    char name[ORVO_PATH_CHARS];
    short path = 0;

    if (!s || !s->s_name[0]) {
        buffer_defaultfilename(x, name);
        saveas_autoextension(1);
        saveas_setselectedtype(chosen);
        if (saveasdialog_extended(name, &path, &chosen, types, ntypes) != 0) return -1;
    } else {
        // A typed-in name is trusted over the message's type: writeaiff take.wav writes WAVE.
        resolve_pathname(s->s_name, name, &path);
        chosen = buffer_extensiontype(name, chosen);
    }
    x->b_filetype = chosen;
    return write_soundfile(x, path, name, chosen, floatflag);
}

void buffer_write(t_buffer *x, t_symbol *s) { buffer_defersym<dowrite_anytype>(x, s); }

void buffer_writeaiff(t_buffer *x, t_symbol *s) { write_typed(x, s, TYPE_AIFF); }

void buffer_writewave(t_buffer *x, t_symbol *s) { write_typed(x, s, TYPE_WAVE); }

void buffer_writeflac(t_buffer *x, t_symbol *s) { write_typed(x, s, TYPE_FLAC); }

void buffer_writeraw(t_buffer *x, t_symbol *s) { write_typed(x, s, TYPE_DATA); }

void buffer_writeau(t_buffer *x, t_symbol *s) { write_typed(x, s, TYPE_NEXT); }

long buffer_write_direct(t_buffer *x, short path, const char *name) {
    char file[ORVO_PATH_CHARS];
    copy_pathname(file, name);
    long floatflag = is_float_encoding(x->b_samptype) ? 1 : 0;
    x->b_filetype = TYPE_AIFF;
    return (long)write_soundfile(x, path, file, TYPE_AIFF, floatflag);
}
