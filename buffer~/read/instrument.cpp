// Loop points and instrument settings of AIFF and AIFC files, asked of the open parser.
#include "read.h"

static t_atom_long buffer_ask(t_object *sf, const char *query) {
    return (t_atom_long)(t_ptr_int)object_method(sf, gensym(query));
}

static t_atom_long buffer_marker(t_object *sf, t_atom_long id) {
    return (t_atom_long)(t_ptr_int)object_method(sf, gensym("searchmarkers"), id);
}

// The block keeps 16 bits of each setting, as the file stores them.
static int16_t buffer_low16(t_atom_long v) { return (int16_t)(uint16_t)(v & 0xFFFF); }

long buffer_instrument(t_buffer *x, t_object *sf) {
    t_atom_long susmode = buffer_ask(sf, "getsustainloopmode");
    t_atom_long susstart = buffer_ask(sf, "getsustainloopstart");
    t_atom_long susend = buffer_ask(sf, "getsustainloopend");
    t_atom_long relmode = buffer_ask(sf, "getreleaseloopmode");
    t_atom_long relstart = buffer_ask(sf, "getreleaseloopstart");
    t_atom_long relend = buffer_ask(sf, "getreleaseloopend");

    // A loop that is off has no points, whatever marker ids the file names for it.
    if (susmode) {
        x->b_susloopstart = buffer_marker(sf, susstart);
        x->b_susloopend = buffer_marker(sf, susend);
    } else {
        x->b_susloopstart = x->b_susloopend = 0;
    }
    if (relmode) {
        x->b_relloopstart = buffer_marker(sf, relstart);
        x->b_relloopend = buffer_marker(sf, relend);
    } else {
        x->b_relloopstart = x->b_relloopend = 0;
    }

    x->b_basepitch = buffer_low16(buffer_ask(sf, "getbasepitch"));
    x->b_detune = buffer_low16(buffer_ask(sf, "getdetune"));
    x->b_lowpitch = buffer_low16(buffer_ask(sf, "getlowpitch"));
    x->b_highpitch = buffer_low16(buffer_ask(sf, "gethighpitch"));
    x->b_lowvel = buffer_low16(buffer_ask(sf, "getlowvelocity"));
    x->b_highvel = buffer_low16(buffer_ask(sf, "gethighvelocity"));
    x->b_gain = buffer_low16(buffer_ask(sf, "getgain"));
    return 0;
}

void buffer_clearinstrument(t_buffer *x) {
    x->b_susloopstart = x->b_susloopend = x->b_relloopstart = x->b_relloopend = 0;
    x->b_basepitch = x->b_detune = x->b_lowpitch = x->b_highpitch = x->b_lowvel = x->b_highvel = x->b_gain = 0;
}
