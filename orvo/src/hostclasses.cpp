// The host's own small classes: print (a box that writes what it receives to
// the console), watch (a client that reports notifications under a name),
// drag (one dragged item and what was offered to it) and dictionary.
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "init.h"
#include "objects_internal.h"
#include "orvo/runtime.h"

namespace {

// ---- print --------------------------------------------------------------------

struct Print {
    t_object ob;
    t_symbol *prefix;
};

t_class *s_print_class;

void *print_new(t_symbol *, long argc, t_atom *argv) {
    auto *x = (Print *)object_alloc(s_print_class);
    if (!x) return nullptr;
    x->prefix = argc > 0 ? gensym(orvo::detail::atoms_text(1, argv).c_str()) : gensym("print");
    return x;
}

void print_line(Print *x, const std::string &text) {
    orvo::detail::console_write(std::string(x->prefix->s_name) + ": " + text);
}

void *print_bang(Print *x) {
    print_line(x, "bang");
    return nullptr;
}

void *print_int(Print *x, t_atom_long n) {
    print_line(x, std::to_string(n));
    return nullptr;
}

void *print_float(Print *x, double f) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", f);
    print_line(x, buf);
    return nullptr;
}

void *print_anything(Print *x, t_symbol *s, long argc, t_atom *argv) {
    std::string text = s->s_name;
    if (argc > 0) text += " " + orvo::detail::atoms_text(argc, argv);
    print_line(x, text);
    return nullptr;
}

// ---- watch ----------------------------------------------------------------------

struct Watch {
    t_object ob;
    t_symbol *name;
};

t_class *s_watch_class;

void *watch_notify(Watch *, t_symbol *s, t_symbol *msg, void *, void *data) {
    std::string line = std::string("watch ") + s->s_name + ": " + (msg ? msg->s_name : "");
    // Data that is an object (the sender, typically) says nothing readable; anything else is a code.
    if (!object_valid(data)) line += " " + std::to_string((intptr_t)data);
    orvo::detail::console_write(line);
    return nullptr;
}

void watch_free(Watch *x) { globalsymbol_detach(&x->ob, x->name->s_name); }

// ---- drag ------------------------------------------------------------------------

struct Drag {
    t_object ob;
    t_symbol *role;
    std::vector<std::pair<t_object *, t_symbol *>> *offers;
};

t_class *s_drag_class;

Drag *as_drag(void *x) { return object_class(x) == s_drag_class ? (Drag *)x : nullptr; }

void drag_free(Drag *x) { delete x->offers; }

// ---- dictionary --------------------------------------------------------------------

struct Dictionary {
    t_object ob;
    std::vector<std::pair<t_symbol *, std::vector<t_atom>>> *entries;  // in the order first set
};

t_class *s_dictionary_class;

void dictionary_free(Dictionary *x) { delete x->entries; }

Dictionary *as_dictionary(const void *x) {
    return object_class(const_cast<void *>(x)) == s_dictionary_class ? (Dictionary *)x : nullptr;
}

}  // namespace

extern "C" {

long jdrag_matchdragrole(t_object *drag, t_symbol *role, long) {
    Drag *d = as_drag(drag);
    return d && role && d->role == role;
}

void jdrag_object_add(t_object *drag, t_object *obj, t_symbol *msg) {
    if (Drag *d = as_drag(drag)) d->offers->emplace_back(obj, msg);
}

t_object *dictionary_new(void) {
    auto *d = (Dictionary *)object_alloc(s_dictionary_class);
    if (!d) return nullptr;
    d->entries = new std::vector<std::pair<t_symbol *, std::vector<t_atom>>>;
    return &d->ob;
}

t_orvo_err attr_args_dictionary(t_object *dict, short argc, t_atom *argv) {
    Dictionary *d = as_dictionary(dict);
    if (!d) return ORVO_ERR_INVALID_PTR;
    auto is_key = [&](long i) { return argv[i].a_type == A_SYM && argv[i].a_w.w_sym->s_name[0] == '@'; };
    long i = argv ? attr_args_offset(argc, argv) : argc;
    while (argv && i < argc) {
        t_symbol *key = gensym(argv[i].a_w.w_sym->s_name + 1);
        long first = ++i;
        while (i < argc && !is_key(i)) ++i;
        std::vector<t_atom> values(argv + first, argv + i);
        bool replaced = false;
        for (auto &entry : *d->entries) {
            if (entry.first == key) {
                entry.second = values;
                replaced = true;
            }
        }
        if (!replaced) d->entries->emplace_back(key, std::move(values));
    }
    return ORVO_ERR_NONE;
}

}  // extern "C"

namespace orvo::detail {

bool dictionary_is(const void *x) { return as_dictionary(x) != nullptr; }

const std::vector<t_atom> *dictionary_lookup(const t_object *dict, t_symbol *key) {
    Dictionary *d = as_dictionary(dict);
    if (!d) return nullptr;
    for (auto &entry : *d->entries)
        if (entry.first == key) return &entry.second;
    return nullptr;
}

std::vector<t_symbol *> dictionary_keys(const t_object *dict) {
    std::vector<t_symbol *> keys;
    if (Dictionary *d = as_dictionary(dict))
        for (auto &entry : *d->entries) keys.push_back(entry.first);
    return keys;
}

void init_objects() {
    static std::once_flag once;
    std::call_once(once, [] {
        t_common_symbols_table *cs = common_symbols_gettable();
        hashtab_class();
        method_class();
        attr_class();

        s_print_class = class_new("print", as_method(print_new), nullptr, sizeof(Print), 0, A_ANY, 0);
        class_addmethod(s_print_class, as_method(print_bang), "bang", 0);
        class_addmethod(s_print_class, as_method(print_int), "int", A_LONG, 0);
        class_addmethod(s_print_class, as_method(print_float), "float", A_FLOAT, 0);
        class_addmethod(s_print_class, as_method(print_anything), "anything", A_ANY, 0);
        class_register(cs->s_box, s_print_class);

        // watch and drag are made only through the runtime interface, so they stay unregistered.
        s_watch_class = class_new("watch", nullptr, as_method(watch_free), sizeof(Watch), 0, 0);
        class_addmethod(s_watch_class, as_method(watch_notify), "notify", A_PRIVATE, 0);

        s_drag_class = class_new("drag", nullptr, as_method(drag_free), sizeof(Drag), 0, 0);

        s_dictionary_class =
            class_new("dictionary", as_method(dictionary_new), as_method(dictionary_free), sizeof(Dictionary), 0, 0);
        class_register(cs->s_nobox, s_dictionary_class);
    });
}

}  // namespace orvo::detail

namespace orvo {

t_object *watch(const std::string &name) {
    auto *x = (Watch *)object_alloc(s_watch_class);
    if (!x) return nullptr;
    x->name = gensym(name.c_str());
    globalsymbol_attach(&x->ob, name.c_str());
    return &x->ob;
}

t_object *drag_new(const std::string &role) {
    auto *d = (Drag *)object_alloc(s_drag_class);
    if (!d) return nullptr;
    d->role = gensym(role.c_str());
    d->offers = new std::vector<std::pair<t_object *, t_symbol *>>;
    return &d->ob;
}

std::vector<std::pair<t_object *, t_symbol *>> drag_offers(t_object *drag) {
    Drag *d = as_drag(drag);
    return d ? *d->offers : std::vector<std::pair<t_object *, t_symbol *>>{};
}

}  // namespace orvo
