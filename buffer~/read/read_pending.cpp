// Messages whose work is not built yet: each says so in one console line and changes nothing.
#include "../core/buffer.h"

void buffer_read(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}

void buffer_doread(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s ? s : gensym("read"));
}

void buffer_readagain(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}

long buffer_read_direct(t_buffer *x, short path, const char *name) {
    (void)path;
    (void)name;
    buffer_not_available(x, gensym("read_direct"));
    return -1;
}
