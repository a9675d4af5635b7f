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

typedef t_orvo_err (*attr_getter)(t_buffer *x, t_object *attr, long *argc, t_atom **argv);
typedef t_orvo_err (*attr_setter)(t_buffer *x, t_object *attr, long argc, t_atom *argv);

static void buffer_addattr(t_class *c, const char *name, t_symbol *type, attr_getter get, attr_setter set,
                           long offset) {
    t_object *attr = attr_offset_new(name, type, 0, nullptr, nullptr, offset);
    if (get) object_method(attr, gensym("setmethod"), gensym("get"), ORVO_FN(get));
    if (set) object_method(attr, gensym("setmethod"), gensym("set"), ORVO_FN(set));
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

    class_addmethod_typed<buffer_dirtymsg, A_PRIVATE>(c, "dirty");
    class_addmethod_typed<buffer_read, A_ANY>(c, "read");
    class_addmethod_typed<buffer_read_direct, A_PRIVATE>(c, "read_direct");
    class_addmethod_typed<buffer_write_direct, A_PRIVATE>(c, "write_direct");
    class_addmethod_typed<buffer_read, A_ANY>(c, "import");
    class_addmethod_typed<buffer_read, A_ANY>(c, "importreplace");
    class_addmethod_typed<buffer_write, A_DEFSYM>(c, "write");
    class_addmethod_typed<buffer_writeaiff, A_DEFSYM>(c, "writeaiff");
    class_addmethod_typed<buffer_writewave, A_DEFSYM>(c, "writewave");
    class_addmethod_typed<buffer_writeflac, A_DEFSYM>(c, "writeflac");
    class_addmethod_typed<buffer_writeraw, A_DEFSYM>(c, "writeraw");
    class_addmethod_typed<buffer_sizeinsamps, A_LONG, A_DEFLONG>(c, "sizeinsamps");
    class_addmethod_typed<buffer_name, A_SYM>(c, "name");
    class_addmethod_typed<buffer_name, A_SYM>(c, "set");
    class_addmethod_typed<buffer_clear>(c, "clear");
    class_addmethod_typed<buffer_clearlow>(c, "clearlow");
    class_addmethod_typed<buffer_fill, A_ANY>(c, "fill");
    class_addmethod_typed<buffer_sr, A_DEFFLOAT>(c, "sr");
    class_addmethod_typed<buffer_read, A_ANY>(c, "replace");
    class_addmethod_typed<buffer_readagain, A_ANY>(c, "readagain");
    class_addmethod_typed<buffer_open>(c, "open");
    class_addmethod_typed<buffer_wclose>(c, "wclose");
    class_addmethod_typed<buffer_format, A_ANY>(c, "format");
    class_addmethod_typed<buffer_samptype, A_SYM>(c, "samptype");
    class_addmethod_typed<buffer_filetype, A_SYM>(c, "filetype");
    class_addmethod_typed<buffer_printmodtime>(c, "printmodtime");
    class_addmethod_typed<buffer_enumerate>(c, "enumerate");
    class_addmethod_typed<buffer_normalize, A_ANY>(c, "normalize");
    class_addmethod_typed<buffer_crop, A_ANY>(c, "crop");
    class_addmethod_typed<buffer_apply, A_ANY>(c, "apply");
    class_addmethod_typed<buffer_duplicate, A_SYM>(c, "duplicate");
    class_addmethod_typed<buffer_getname, A_PRIVATE>(c, "getname");
    class_addmethod_typed<buffer_getsampleptr, A_PRIVATE>(c, "getsampleptr");
    class_addmethod_typed<buffer_set_custom_error_handler, A_PRIVATE>(c, "set_custom_error_handler");
    class_addmethod_typed<buffer_dblclick, A_PRIVATE>(c, "dblclick");
    class_addmethod_typed<buffer_assist, A_PRIVATE>(c, "assist");
    class_addmethod_typed<buffer_bang>(c, "bang");
    class_addmethod_typed<buffer_fileusage, A_PRIVATE>(c, "fileusage");
    class_addmethod_typed<buffer_dsp64, A_PRIVATE>(c, "dsp64");
    class_addmethod_typed<buffer_acceptsdrag, A_PRIVATE>(c, "acceptsdrag_unlocked");
    class_addmethod_typed<buffer_acceptsdrag, A_PRIVATE>(c, "acceptsdrag_locked");
    class_addmethod_typed<method_true, A_PRIVATE>(c, "(remote)");
    buffer_markmethod(c, "(remote)", "documentable", gensym("long"), "1");
    class_addmethod_typed<buffer_size, A_FLOAT, A_DEFLONG>(c, "setsize");
    buffer_markmethod(c, "setsize", "introduced", gensym("symbol"), str_tr("7.0.0"));

    buffer_addattr(c, "size", gensym("float64"), buffer_getsize, buffer_setsize, 0);
    buffer_addattr(c, "samps", gensym("float64"), buffer_getsizeinsamps, buffer_setsizeinsamps, 0);
    buffer_addattr(c, "padding", gensym("long"), nullptr, buffer_setpadding, offsetof(t_buffer, b_padding));
    class_attr_addattr_parse(c, "padding", "invisible", gensym("long"), 0, "1");
    // Not one of the classic three: 1 lets the read messages load in the background.
    buffer_addattr(c, "async", gensym("long"), buffer_getasync, buffer_setasync, 0);

    class_addmethod_typed<buffer_releaseresources, A_PRIVATE>(c, "releaseresources");
    class_addmethod_typed<buffer_resize_and_copy, A_PRIVATE>(c, "resizeandcopy");
    buffer_markmethod(c, "resizeandcopy", "undocumented", _common_symbols->s_long, "1");

    z_sysinit();
    class_register(_common_symbols->s_box, c);
    s_buffer_class = c;

    c = class_new("bufferwindow", ORVO_FN(bufferwindow_new), ORVO_FN(bufferwindow_free),
                  (long)sizeof(t_bufferwindow), 0L, 0);
    class_addmethod_typed<bufferwindow_updatecommand, A_PRIVATE>(c, "updatecommand");
    class_addmethod_typed<bufferwindow_notify, A_PRIVATE>(c, "notify");
    class_addmethod_typed<bufferwindow_mouse, A_ANY>(c, "mouse");
    class_addmethod_typed<bufferwindow_display, A_ANY>(c, "display");
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
