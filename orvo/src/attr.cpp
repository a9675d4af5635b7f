// Attributes: named values of an object reached through a getter and a setter,
// set by "@name" creation arguments, by messages bearing their name and by the
// object_attr_* functions.
#include <cstring>
#include <string>
#include <vector>

#include "objects_internal.h"

using orvo::detail::Attr;

namespace {

using Getter = t_orvo_err (*)(void *x, Attr *attr, long *argc, t_atom **argv);
using Setter = t_orvo_err (*)(void *x, Attr *attr, long argc, t_atom *argv);

char *field(void *x, Attr *a) { return (char *)x + a->offset; }

template <class T>
T read_field(void *x, Attr *a) {
    T v;
    std::memcpy(&v, field(x, a), sizeof v);
    return v;
}

template <class T>
void write_field(void *x, Attr *a, T v) {
    std::memcpy(field(x, a), &v, sizeof v);
}

struct TypeNames {
    t_symbol *l = gensym("long"), *f64 = gensym("float64"), *f32 = gensym("float32"), *c = gensym("char"),
             *sym = gensym("symbol"), *obj = gensym("object"), *rect = gensym("rect");
};
const TypeNames &types() {
    static const TypeNames t;
    return t;
}

// The host's default accessors, chosen by the declared type.
t_orvo_err default_get(void *x, Attr *a, long *argc, t_atom **argv) {
    const TypeNames &T = types();
    t_symbol *type = a->type;
    if (type == T.rect) {
        if (!*argv || *argc < 4) {
            auto *arr = (t_atom *)sysmem_newptr(4 * sizeof(t_atom));
            if (!arr) return ORVO_ERR_OUT_OF_MEM;
            *argv = arr;
        }
        *argc = 4;
        auto r = read_field<t_rect>(x, a);
        atom_setfloat(*argv + 0, r.x);
        atom_setfloat(*argv + 1, r.y);
        atom_setfloat(*argv + 2, r.width);
        atom_setfloat(*argv + 3, r.height);
        return ORVO_ERR_NONE;
    }
    char alloc;
    if (atom_alloc(argc, argv, &alloc)) return ORVO_ERR_OUT_OF_MEM;
    t_atom *out = *argv;
    if (type == T.l)
        atom_setlong(out, read_field<t_atom_long>(x, a));
    else if (type == T.f64)
        atom_setfloat(out, read_field<double>(x, a));
    else if (type == T.f32)
        atom_setfloat(out, read_field<float>(x, a));
    else if (type == T.c)
        atom_setlong(out, read_field<char>(x, a));
    else if (type == T.sym)
        atom_setsym(out, read_field<t_symbol *>(x, a));
    else if (type == T.obj)
        atom_setobj(out, read_field<t_object *>(x, a));
    else
        return ORVO_ERR_GENERIC;
    return ORVO_ERR_NONE;
}

t_orvo_err default_set(void *x, Attr *a, long argc, t_atom *argv) {
    const TypeNames &T = types();
    t_symbol *type = a->type;
    if (argc < 1 || !argv) return ORVO_ERR_BAD_ARGS;
    if (type == T.l)
        write_field<t_atom_long>(x, a, atom_getlong(argv));
    else if (type == T.f64)
        write_field<double>(x, a, atom_getfloat(argv));
    else if (type == T.f32)
        write_field<float>(x, a, (float)atom_getfloat(argv));
    else if (type == T.c)
        write_field<char>(x, a, (char)atom_getlong(argv));
    else if (type == T.sym)
        write_field<t_symbol *>(x, a, atom_getsym(argv));
    else if (type == T.obj)
        write_field<t_object *>(x, a, atom_getobj(argv));
    else if (type == T.rect && argc >= 4)
        write_field<t_rect>(
            x, a,
            t_rect{atom_getfloat(argv), atom_getfloat(argv + 1), atom_getfloat(argv + 2), atom_getfloat(argv + 3)});
    else
        return ORVO_ERR_BAD_ARGS;
    return ORVO_ERR_NONE;
}

// "setmethod" of an attribute: replaces its getter or setter; null restores the default.
void *attr_setmethod(Attr *a, t_symbol *which, method m) {
    if (which == gensym("get"))
        a->get = m ? m : orvo::detail::as_method(default_get);
    else if (which == gensym("set"))
        a->set = m ? m : orvo::detail::as_method(default_set);
    return nullptr;
}

// "getname": the attribute's name, also stored through slot when given.
void *attr_getname(Attr *a, t_symbol **slot) {
    if (slot) *slot = a->name;
    return a->name;
}

Attr *attr_of(void *x, t_symbol *s) { return orvo::detail::find_attr(object_class(x), s); }

// Reads an attribute into one atom; false when x has no such attribute or the getter failed.
bool get_first(void *x, t_symbol *s, t_atom &out) {
    Attr *a = attr_of(x, s);
    if (!a) return false;
    long argc = 0;
    t_atom *argv = nullptr;
    t_orvo_err err = ((Getter)(void (*)())a->get)(x, a, &argc, &argv);
    bool ok = !err && argc > 0 && argv;
    if (ok) out = argv[0];
    sysmem_freeptr(argv);
    return ok;
}

}  // namespace

namespace orvo::detail {

t_class *attr_class() {
    static t_class *c = [] {
        t_class *k = class_new("attr", nullptr, nullptr, sizeof(Attr), 0, 0);
        class_addmethod(k, (method)attr_setmethod, "setmethod", A_PRIVATE, 0);
        class_addmethod(k, (method)attr_getname, "getname", A_PRIVATE, 0);
        return k;
    }();
    return c;
}

Attr *find_attr(t_class *c, t_symbol *s) {
    if (!c || !s) return nullptr;
    std::lock_guard lock(objects_mutex());
    for (Attr *a : c->c_attrs)
        if (a->name == s) return a;
    return nullptr;
}

}  // namespace orvo::detail

extern "C" {

t_object *attr_offset_new(const char *name, t_symbol *type, long flags, method get, method set, long offset) {
    if (!name || offset < 0) return nullptr;
    auto *a = (Attr *)object_alloc(orvo::detail::attr_class());
    if (!a) return nullptr;
    a->name = gensym(name);
    a->type = type ? type : gensym("long");
    a->flags = flags;
    a->get = get ? get : orvo::detail::as_method(default_get);
    a->set = set ? set : orvo::detail::as_method(default_set);
    a->offset = offset;
    return &a->ob;
}

t_orvo_err class_addattr(t_class *c, t_object *attr) {
    if (!c || object_class(attr) != orvo::detail::attr_class()) return ORVO_ERR_INVALID_PTR;
    auto *a = (Attr *)attr;
    std::lock_guard lock(orvo::detail::objects_mutex());
    for (Attr *&old : c->c_attrs) {
        if (old->name == a->name) {
            old = a;
            return ORVO_ERR_NONE;
        }
    }
    c->c_attrs.push_back(a);
    return ORVO_ERR_NONE;
}

t_object *class_attr_get(t_class *c, t_symbol *attrname) {
    Attr *a = orvo::detail::find_attr(c, attrname);
    return a ? &a->ob : nullptr;
}

t_orvo_err class_attr_addattr_parse(t_class *c, const char *attrname, const char *markname, t_symbol *type, long flags,
                                    const char *text) {
    if (!attrname) return ORVO_ERR_INVALID_PTR;
    t_object *a = class_attr_get(c, gensym(attrname));
    if (!a) return ORVO_ERR_NOT_FOUND;
    return object_addattr_parse(a, markname, type, flags, text);
}

long attr_args_offset(short argc, t_atom *argv) {
    if (!argv || argc <= 0) return 0;
    for (short i = 0; i < argc; ++i)
        if (argv[i].a_type == A_SYM && argv[i].a_w.w_sym && argv[i].a_w.w_sym->s_name[0] == '@') return i;
    return argc;
}

void attr_args_process(void *x, short argc, t_atom *argv) {
    if (!argv || argc <= 0) return;
    long i = attr_args_offset(argc, argv);
    while (i < argc) {
        t_symbol *name = gensym(argv[i].a_w.w_sym->s_name + 1);
        long first = ++i;
        while (i < argc && !(argv[i].a_type == A_SYM && argv[i].a_w.w_sym->s_name[0] == '@')) ++i;
        long count = i - first;
        if (count == 0) continue;
        if (!attr_of(x, name)) {
            orvo::detail::error_line(orvo::detail::console_tag(x),
                                     std::string("unknown attribute \"") + name->s_name + "\"");
            continue;
        }
        object_attr_setvalueof(x, name, count, argv + first);
    }
}

t_orvo_err object_attr_setvalueof(void *x, t_symbol *s, long argc, t_atom *argv) {
    Attr *a = attr_of(x, s);
    if (!a) return ORVO_ERR_NOT_FOUND;
    t_orvo_err err = ((Setter)(void (*)())a->set)(x, a, argc, argv);
    // Attached objects (a window watching its view, say) follow attribute changes.
    if (!err) object_notify(x, gensym("attr_modified"), &a->ob);
    return err;
}

t_orvo_err object_attr_getvalueof(void *x, t_symbol *s, long *argc, t_atom **argv) {
    Attr *a = attr_of(x, s);
    if (!a) return ORVO_ERR_NOT_FOUND;
    if (!argc || !argv) return ORVO_ERR_INVALID_PTR;
    return ((Getter)(void (*)())a->get)(x, a, argc, argv);
}

t_orvo_err object_attr_setchar(void *x, t_symbol *s, char c) {
    t_atom a;
    atom_setlong(&a, c);
    return object_attr_setvalueof(x, s, 1, &a);
}

t_orvo_err object_attr_setlong(void *x, t_symbol *s, t_atom_long n) {
    t_atom a;
    atom_setlong(&a, n);
    return object_attr_setvalueof(x, s, 1, &a);
}

t_orvo_err object_attr_setfloat(void *x, t_symbol *s, double f) {
    t_atom a;
    atom_setfloat(&a, f);
    return object_attr_setvalueof(x, s, 1, &a);
}

t_orvo_err object_attr_setsym(void *x, t_symbol *s, t_symbol *v) {
    t_atom a;
    atom_setsym(&a, v);
    return object_attr_setvalueof(x, s, 1, &a);
}

t_orvo_err object_attr_setobj(void *x, t_symbol *s, void *o) {
    t_atom a;
    atom_setobj(&a, o);
    return object_attr_setvalueof(x, s, 1, &a);
}

t_atom_long object_attr_getlong(void *x, t_symbol *s) {
    t_atom a;
    return get_first(x, s, a) ? atom_getlong(&a) : 0;
}

double object_attr_getfloat(void *x, t_symbol *s) {
    t_atom a;
    return get_first(x, s, a) ? atom_getfloat(&a) : 0.0;
}

t_symbol *object_attr_getsym(void *x, t_symbol *s) {
    t_atom a;
    return get_first(x, s, a) ? atom_getsym(&a) : gensym("");
}

t_orvo_err object_attr_get_rect(t_object *x, t_symbol *s, t_rect *r) {
    if (!r) return ORVO_ERR_INVALID_PTR;
    Attr *a = attr_of(x, s);
    if (!a) return ORVO_ERR_NOT_FOUND;
    long argc = 0;
    t_atom *argv = nullptr;
    t_orvo_err err = ((Getter)(void (*)())a->get)(x, a, &argc, &argv);
    if (!err && (argc < 4 || !argv)) err = ORVO_ERR_BAD_ARGS;
    if (!err)
        *r = t_rect{atom_getfloat(argv), atom_getfloat(argv + 1), atom_getfloat(argv + 2), atom_getfloat(argv + 3)};
    sysmem_freeptr(argv);
    return err;
}

}  // extern "C"
