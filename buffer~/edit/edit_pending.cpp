// Messages whose work is not built yet: each says so in one console line and changes nothing.
#include "../core/buffer.h"

void buffer_normalize(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}

void buffer_crop(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}

void buffer_apply(t_buffer *x, t_symbol *s, long argc, t_atom *argv) {
    (void)argc;
    (void)argv;
    buffer_not_available(x, s);
}
