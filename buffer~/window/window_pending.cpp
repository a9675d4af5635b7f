// Messages whose work is not built yet: each says so in one console line and changes nothing.
#include "../core/buffer.h"

void buffer_open(t_buffer *x) { buffer_not_available(x, gensym("open")); }

void buffer_wclose(t_buffer *x) { buffer_not_available(x, gensym("wclose")); }

void buffer_dblclick(t_buffer *x) { buffer_not_available(x, gensym("dblclick")); }
