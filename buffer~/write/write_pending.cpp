// Messages whose work is not built yet: each says so in one console line and changes nothing.
#include "../core/buffer.h"

long buffer_write_direct(t_buffer *x, short path, const char *name) {
    (void)path;
    (void)name;
    buffer_not_available(x, gensym("write_direct"));
    return -1;
}

void buffer_write(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("write"));
}

void buffer_writeaiff(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("writeaiff"));
}

void buffer_writewave(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("writewave"));
}

void buffer_writeflac(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("writeflac"));
}

void buffer_writeraw(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("writeraw"));
}

void buffer_format(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}

void buffer_samptype(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("samptype"));
}

void buffer_filetype(t_buffer *x, t_symbol *s) {
    (void)s;
    buffer_not_available(x, gensym("filetype"));
}
