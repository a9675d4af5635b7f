// Entry point, message table and the small handlers of buffer~.
#include <cstring>

#include "../edit/edit.h"
#include "../read/read.h"
#include "../window/window.h"
#include "../write/write.h"
#include "buffer.h"

t_class *s_buffer_class = nullptr;
t_class *s_bufferwindow_class = nullptr;
t_symbol *ps_nothing, *ps_replace;
t_symbol *ps_int8, *ps_int16, *ps_int24, *ps_int32, *ps_float32, *ps_float64, *ps_mulaw, *ps_alaw;
t_symbol *ps_aiff, *ps_wave, *ps_raw, *ps_au;
t_symbol *ps_audiofile, *ps_moviefile;
t_symbol *ps_buffer_modified, *ps_read_failed;

// Adds a marking to a registered message; skipped when the entry is not there.
static void buffer_markmethod(t_class *c, const char *msg, const char *mark, t_symbol *type, const char *text) {
    t_object *methods = class_extra_lookup(c, gensym("methods"));
    t_object *entry = nullptr;
    if (methods && hashtab_lookup(methods, gensym(msg), &entry) == 0 && entry)
        object_addattr_parse(entry, mark, type, 0, text);
}

static void buffer_addattr(t_class *c, const char *name, t_symbol *type, method get, method set, long offset) {
    t_object *attr = attr_offset_new(name, type, 0, nullptr, nullptr, offset);
    if (get) object_method(attr, gensym("setmethod"), gensym("get"), get);
    if (set) object_method(attr, gensym("setmethod"), gensym("set"), set);
    class_addattr(c, attr);
}

void ext_main(void *module) {
    (void)module;
    if (orvo_host_api_version() != ORVO_HOST_API_VERSION) {
        object_error(nullptr, "buffer~: built for host interface %d, host has %ld", ORVO_HOST_API_VERSION,
                     orvo_host_api_version());
        return;
    }
    common_symbols_init();

    t_class *c = class_new("buffer~", ORVO_FN(buffer_new), ORVO_FN(buffer_free), (long)sizeof(t_buffer), 0L, A_ANY, 0);

    class_addmethod(c, ORVO_FN(buffer_dirty), "dirty", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_read), "read", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_read_direct), "read_direct", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_write_direct), "write_direct", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_read), "import", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_read), "importreplace", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_write), "write", A_DEFSYM, 0);
    class_addmethod(c, ORVO_FN(buffer_writeaiff), "writeaiff", A_DEFSYM, 0);
    class_addmethod(c, ORVO_FN(buffer_writewave), "writewave", A_DEFSYM, 0);
    class_addmethod(c, ORVO_FN(buffer_writeflac), "writeflac", A_DEFSYM, 0);
    class_addmethod(c, ORVO_FN(buffer_writeraw), "writeraw", A_DEFSYM, 0);
    class_addmethod(c, ORVO_FN(buffer_sizeinsamps), "sizeinsamps", A_LONG, A_DEFLONG, 0);
    class_addmethod(c, ORVO_FN(buffer_name), "name", A_SYM, 0);
    class_addmethod(c, ORVO_FN(buffer_name), "set", A_SYM, 0);
    class_addmethod(c, ORVO_FN(buffer_clear), "clear", 0);
    class_addmethod(c, ORVO_FN(buffer_clearlow), "clearlow", 0);
    class_addmethod(c, ORVO_FN(buffer_fill), "fill", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_sr), "sr", A_DEFFLOAT, 0);
    class_addmethod(c, ORVO_FN(buffer_read), "replace", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_readagain), "readagain", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_open), "open", 0);
    class_addmethod(c, ORVO_FN(buffer_wclose), "wclose", 0);
    class_addmethod(c, ORVO_FN(buffer_format), "format", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_samptype), "samptype", A_SYM, 0);
    class_addmethod(c, ORVO_FN(buffer_filetype), "filetype", A_SYM, 0);
    class_addmethod(c, ORVO_FN(buffer_printmodtime), "printmodtime", 0);
    class_addmethod(c, ORVO_FN(buffer_enumerate), "enumerate", 0);
    class_addmethod(c, ORVO_FN(buffer_normalize), "normalize", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_crop), "crop", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_apply), "apply", A_ANY, 0);
    class_addmethod(c, ORVO_FN(buffer_duplicate), "duplicate", A_SYM, 0);
    class_addmethod(c, ORVO_FN(buffer_getname), "getname", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_getsampleptr), "getsampleptr", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_set_custom_error_handler), "set_custom_error_handler", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_dblclick), "dblclick", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_assist), "assist", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_bang), "bang", 0);
    class_addmethod(c, ORVO_FN(buffer_fileusage), "fileusage", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_dsp64), "dsp64", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_acceptsdrag), "acceptsdrag_unlocked", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_acceptsdrag), "acceptsdrag_locked", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(method_true), "(remote)", A_PRIVATE, 0);
    buffer_markmethod(c, "(remote)", "documentable", gensym("long"), "1");
    class_addmethod(c, ORVO_FN(buffer_size), "setsize", A_FLOAT, A_DEFLONG, 0);
    buffer_markmethod(c, "setsize", "introduced", gensym("symbol"), str_tr("7.0.0"));

    buffer_addattr(c, "size", gensym("float64"), ORVO_FN(buffer_getsize), ORVO_FN(buffer_setsize), 0);
    buffer_addattr(c, "samps", gensym("float64"), ORVO_FN(buffer_getsizeinsamps), ORVO_FN(buffer_setsizeinsamps), 0);
    buffer_addattr(c, "padding", gensym("long"), nullptr, ORVO_FN(buffer_setpadding), offsetof(t_buffer, b_padding));
    class_attr_addattr_parse(c, "padding", "invisible", gensym("long"), 0, "1");

    class_addmethod(c, ORVO_FN(buffer_releaseresources), "releaseresources", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(buffer_resize_and_copy), "resizeandcopy", A_PRIVATE, 0);
    buffer_markmethod(c, "resizeandcopy", "undocumented", _common_symbols->s_long, "1");

    z_sysinit();
    class_register(_common_symbols->s_box, c);
    s_buffer_class = c;

    c = class_new("bufferwindow", ORVO_FN(bufferwindow_new), ORVO_FN(bufferwindow_free),
                  (long)sizeof(t_bufferwindow), 0L, 0);
    class_addmethod(c, ORVO_FN(bufferwindow_updatecommand), "updatecommand", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(bufferwindow_notify), "notify", A_PRIVATE, 0);
    class_addmethod(c, ORVO_FN(bufferwindow_mouse), "mouse", A_ANY, 0);
    class_addmethod(c, ORVO_FN(bufferwindow_display), "display", A_ANY, 0);
    s_bufferwindow_class = c;

    ps_nothing = gensym("");
    ps_replace = gensym("replace");
    ps_int8 = gensym("int8");
    ps_int16 = gensym("int16");
    ps_int24 = gensym("int24");
    ps_int32 = gensym("int32");
    ps_float32 = gensym("float32");
    ps_float64 = gensym("float64");
    ps_mulaw = gensym("mulaw");
    ps_alaw = gensym("alaw");
    ps_aiff = gensym("aiff");
    ps_wave = gensym("wave");
    ps_raw = gensym("raw");
    ps_au = gensym("au");
    ps_audiofile = gensym("audiofile");
    ps_moviefile = gensym("moviefile");
    ps_buffer_modified = gensym("buffer_modified");
    ps_read_failed = gensym("read_failed");
}

t_symbol *buffer_getname(t_buffer *x, t_symbol **where) {
    if (where) *where = x->b_name;
    return x->b_name;
}

float *buffer_getsampleptr(t_buffer *x) { return x->b_samples; }

void buffer_set_custom_error_handler(t_buffer *x, void (*fn)(void *, t_atom_long), void *arg) {
    x->b_errfn = fn;
    x->b_errarg = arg;
}

// The host hands a text buffer of at least 512 bytes.
void buffer_assist(t_buffer *x, void *box, long kind, long index, char *text) {
    (void)x;
    (void)box;
    const long ASSIST_INLET = 1;
    if (!text) return;
    if (kind == ASSIST_INLET)
        std::strcpy(text, "size Resizes, File Operations: read, write");
    else if (index == 1)
        std::strcpy(text, "bang When File Read Operation Completed");
    else
        std::strcpy(text, "msec Mouse Position in Editing Window");
}

void buffer_bang(t_buffer *x) { bufferwindow_invalidate(x->b_window); }

void buffer_fileusage(t_buffer *x, void *context) {
    (void)x;
    fileusage_addfilename(context, 0, "waveform~");
}

void buffer_dsp64(t_buffer *x) { (void)x; }

long buffer_acceptsdrag(t_buffer *x, t_object *drag, t_object *view) {
    (void)view;
    if (jdrag_matchdragrole(drag, ps_audiofile, 0)) {
        jdrag_object_add(drag, &x->b_obj, ps_replace);
        return 1;
    }
    if (jdrag_matchdragrole(drag, ps_moviefile, 0)) {
        jdrag_object_add(drag, &x->b_obj, gensym("import"));
        return 1;
    }
    return 0;
}
