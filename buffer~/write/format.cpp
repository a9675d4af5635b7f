// Output format settings: the encoding, sample size and container that the next
// write uses. Only record fields change here; nothing is allocated and no sample
// is touched, so these run on whatever thread delivers them.
#include "write.h"

namespace {

// Encoding named by sym; false for any other symbol (case matters: the symbols are interned).
bool format_bysymbol(t_buffer *x, t_symbol *sym) {
    struct Named {
        t_symbol *const *sym;
        t_atom_long size;
        t_fourcc encoding;
    };
    const t_fourcc NONE = FOURCC('N', 'O', 'N', 'E');
    const Named table[] = {
        {&ps_int8, 1, NONE},
        {&ps_int16, 2, NONE},
        {&ps_int24, 3, NONE},
        {&ps_int32, 4, NONE},
        {&ps_float32, 4, FOURCC('F', 'L', '3', '2')},
        {&ps_float64, 8, FOURCC('F', 'L', '6', '4')},
        {&ps_mulaw, 1, FOURCC('U', 'L', 'A', 'W')},
        {&ps_alaw, 1, FOURCC('A', 'L', 'A', 'W')},
    };
    if (!sym) return false;
    for (const Named &n : table) {
        if (*n.sym == sym) {
            x->b_outsampsize = n.size;
            x->b_samptype = n.encoding;
            return true;
        }
    }
    return false;
}

// A bit depth always means plain integers, even when the depth itself is refused.
void format_bydepth(t_buffer *x, t_atom_long bits) {
    x->b_samptype = FOURCC('N', 'O', 'N', 'E');
    switch (bits) {
        case 8:
        case 16:
        case 24:
        case 32:
            x->b_outsampsize = bits / 8;
            break;
        default:
            object_error(&x->b_obj, "unsupported output bit depth %ld", (long)bits);
            break;
    }
}

}  // namespace

void buffer_format(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)s;
    if (argc < 1 || !argv) return;
    switch (atom_gettype(argv)) {
        case A_SYM:
            format_bysymbol(x, atom_getsym(argv));
            break;
        case A_LONG:
            format_bydepth(x, atom_getlong(argv));
            break;
        default:
            break;
    }
}

void buffer_samptype(t_buffer *x, t_symbol *s) { format_bysymbol(x, s); }

void buffer_filetype(t_buffer *x, t_symbol *s) {
    struct Named {
        t_symbol *const *sym;
        t_fourcc type;
    };
    // "raw" is stored as "????", the code of data with no header; writeraw uses "DATA".
    const Named table[] = {
        {&ps_aiff, FOURCC('A', 'I', 'F', 'F')},
        {&ps_wave, FOURCC('W', 'A', 'V', 'E')},
        {&ps_raw, FOURCC('?', '?', '?', '?')},
        {&ps_au, FOURCC('N', 'x', 'T', 'S')},
    };
    if (!s) return;
    for (const Named &n : table) {
        if (*n.sym == s) {
            x->b_filetype = n.type;
            return;
        }
    }
}
