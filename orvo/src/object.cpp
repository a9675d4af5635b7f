// Classes, instances, the registry of live objects, name spaces, method
// tables and markings.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "objects_internal.h"
#include "orvo/runtime.h"

using orvo::detail::Hashtab;
using orvo::detail::MethodEntry;

namespace {

struct Registry {
    // Every object from object_alloc until its record is released.
    std::unordered_map<const void *, t_objextra *> live;
    std::map<std::pair<t_symbol *, t_symbol *>, t_class *> classes;      // (name space, name)
    std::map<std::pair<t_symbol *, t_symbol *>, t_object *> registered;  // object_register
    std::vector<t_class *> all_classes;  // registered or not; classes live as long as the process
};

Registry &registry() {
    static Registry *r = new Registry;  // objects may be touched by threads still running at exit
    return *r;
}

// Reads a 0-terminated list of argument types from varargs. False when malformed:
// A_ANY or A_PRIVATE together with other types, an unknown type, or too many.
bool read_types(va_list ap, short *types, short &ntypes, bool &is_any, bool &is_private, bool for_method) {
    ntypes = 0;
    is_any = is_private = false;
    bool ok = true;
    for (int guard = 0; guard < 64; ++guard) {
        int t = va_arg(ap, int);
        if (t == A_NOTHING) break;
        if (!ok) continue;  // keep reading to the terminator, the list is rejected anyway
        if (t == A_ANY) {
            if (ntypes || is_any || is_private) ok = false;
            is_any = true;
        } else if (t == A_PRIVATE) {
            if (!for_method || ntypes || is_any || is_private) ok = false;
            is_private = true;
        } else if (t == A_LONG || t == A_FLOAT || t == A_SYM || t == A_OBJ || t == A_DEFLONG || t == A_DEFFLOAT ||
                   t == A_DEFSYM) {
            if (is_any || is_private || ntypes >= (short)orvo::detail::kMaxTypedArgs)
                ok = false;
            else
                types[ntypes++] = (short)t;
        } else {
            ok = false;
        }
    }
    return ok;
}

Hashtab *methods_of(t_class *c) {
    if (!c->c_methods) {
        auto *tab = (Hashtab *)object_alloc(orvo::detail::hashtab_class());
        tab->map = new std::unordered_map<t_symbol *, t_object *>;
        c->c_methods = tab;
    }
    return c->c_methods;
}

}  // namespace

namespace orvo::detail {

std::recursive_mutex &objects_mutex() {
    static auto *m = new std::recursive_mutex;
    return *m;
}

t_objextra *extra_of(void *x) {
    std::lock_guard lock(objects_mutex());
    auto &live = registry().live;
    auto it = live.find(x);
    return it == live.end() ? nullptr : it->second;
}

MethodEntry *find_method(t_class *c, t_symbol *s) {
    if (!c || !s) return nullptr;
    std::lock_guard lock(objects_mutex());
    if (!c->c_methods) return nullptr;
    auto &map = *c->c_methods->map;
    auto it = map.find(s);
    return it == map.end() ? nullptr : (MethodEntry *)it->second;
}

t_class *find_class(t_symbol *name_space, t_symbol *name) {
    std::lock_guard lock(objects_mutex());
    auto &classes = registry().classes;
    auto it = classes.find({name_space, name});
    return it == classes.end() ? nullptr : it->second;
}

t_class *hashtab_class() {
    static t_class *c = class_new("hashtab", nullptr, nullptr, sizeof(Hashtab), 0, 0);
    return c;
}

t_class *method_class() {
    static t_class *c = class_new("method", nullptr, nullptr, sizeof(MethodEntry), 0, 0);
    return c;
}

}  // namespace orvo::detail

extern "C" {

t_class *class_new(const char *name, method newfn, method freefn, long size, long flags, ...) {
    if (!name) return nullptr;
    auto *c = new t_class{};
    va_list ap;
    va_start(ap, flags);
    bool is_private = false;
    bool ok = read_types(ap, c->c_argtypes, c->c_nargs, c->c_anyargs, is_private, false);
    va_end(ap);
    if (!ok) {
        orvo::detail::error_line(name, "malformed creation argument types");
        delete c;
        return nullptr;
    }
    c->c_name = gensym(name);
    c->c_new = newfn;
    c->c_free = freefn;
    c->c_size = size < (long)sizeof(t_object) ? (long)sizeof(t_object) : size;
    c->c_flags = flags;
    // Classes are never freed: their instances and the plug-ins' statics point at them.
    std::lock_guard lock(orvo::detail::objects_mutex());
    registry().all_classes.push_back(c);
    return c;
}

t_orvo_err class_addmethod(t_class *c, method m, const char *name, ...) {
    if (!c || !m || !name) return ORVO_ERR_INVALID_PTR;
    short types[orvo::detail::kMaxTypedArgs];
    short ntypes = 0;
    bool is_any = false, is_private = false;
    va_list ap;
    va_start(ap, name);
    bool ok = read_types(ap, types, ntypes, is_any, is_private, true);
    va_end(ap);
    if (!ok) return ORVO_ERR_BAD_ARGS;
    t_symbol *s = gensym(name);
    std::lock_guard lock(orvo::detail::objects_mutex());
    Hashtab *tab = methods_of(c);
    auto it = tab->map->find(s);
    MethodEntry *e;
    if (it != tab->map->end()) {
        e = (MethodEntry *)it->second;  // re-adding replaces the function, keeps the markings
    } else {
        e = (MethodEntry *)object_alloc(orvo::detail::method_class());
        e->name = s;
        tab->map->emplace(s, &e->ob);
    }
    e->fn = m;
    std::memcpy(e->types, types, sizeof types);
    e->ntypes = ntypes;
    e->is_any = is_any;
    e->is_private = is_private;
    return ORVO_ERR_NONE;
}

t_orvo_err class_register(t_symbol *name_space, t_class *c) {
    if (!name_space || !c) return ORVO_ERR_INVALID_PTR;
    std::lock_guard lock(orvo::detail::objects_mutex());
    auto &classes = registry().classes;
    auto key = std::make_pair(name_space, c->c_name);
    auto it = classes.find(key);
    if (it != classes.end() && it->second != c) return ORVO_ERR_GENERIC;  // the name is taken
    classes[key] = c;
    c->c_namespace = name_space;
    return ORVO_ERR_NONE;
}

t_object *class_extra_lookup(t_class *c, t_symbol *key) {
    if (!c || key != gensym("methods")) return nullptr;
    std::lock_guard lock(orvo::detail::objects_mutex());
    return &methods_of(c)->ob;
}

t_orvo_err hashtab_lookup(t_object *tab, t_symbol *key, t_object **value) {
    if (value) *value = nullptr;
    if (!tab || !value || object_class(tab) != orvo::detail::hashtab_class()) return ORVO_ERR_INVALID_PTR;
    std::lock_guard lock(orvo::detail::objects_mutex());
    auto &map = *((Hashtab *)tab)->map;
    auto it = map.find(key);
    if (it == map.end()) return ORVO_ERR_NOT_FOUND;
    *value = it->second;
    return ORVO_ERR_NONE;
}

void *method_true(void *) { return (void *)1; }

t_symbol *class_nameget(t_class *c) { return c ? c->c_name : nullptr; }

void *object_alloc(t_class *c) {
    if (!c) return nullptr;
    auto *x = (t_object *)std::calloc(1, (size_t)c->c_size);
    if (!x) return nullptr;
    auto *extra = new t_objextra{};
    extra->cls = c;
    x->o_class = c;
    x->o_extra = extra;
    std::lock_guard lock(orvo::detail::objects_mutex());
    registry().live.emplace(x, extra);
    return x;
}

void *object_new_imp(t_symbol *name_space, t_symbol *classname, void *p1, void *p2, void *p3, void *p4, void *p5,
                     void *p6, void *p7, void *p8) {
    t_class *c = name_space && classname ? orvo::detail::find_class(name_space, classname) : nullptr;
    if (!c) {
        orvo::detail::error_line("orvo", std::string("no class \"") + (classname ? classname->s_name : "") +
                                             "\" in \"" + (name_space ? name_space->s_name : "") + "\"");
        return nullptr;
    }
    if (!c->c_new) return object_alloc(c);
    using NewFn = void *(*)(void *, void *, void *, void *, void *, void *, void *, void *);
    return ((NewFn)(void (*)())c->c_new)(p1, p2, p3, p4, p5, p6, p7, p8);
}

void *object_new_typed(t_symbol *name_space, t_symbol *classname, long argc, t_atom *argv) {
    using namespace orvo::detail;
    t_class *c = name_space && classname ? find_class(name_space, classname) : nullptr;
    if (!c) {
        error_line("orvo", std::string("no class \"") + (classname ? classname->s_name : "") + "\" in \"" +
                               (name_space ? name_space->s_name : "") + "\"");
        return nullptr;
    }
    if (!c->c_new) return object_alloc(c);
    SlotList slots;
    if (c->c_anyargs) {
        slots.push(slot_ptr(classname));
        slots.push(slot_int(argc));
        slots.push(slot_ptr(argv));
    } else if (!convert_args(c->c_argtypes, c->c_nargs, argc, argv, slots)) {
        error_line(c->c_name->s_name, "bad creation arguments");
        return nullptr;
    }
    return call_slots(c->c_new, slots.s, slots.n);
}

t_orvo_err object_free(void *x) {
    using namespace orvo::detail;
    if (!x) return ORVO_ERR_INVALID_PTR;
    t_objextra *extra;
    {
        std::lock_guard lock(objects_mutex());
        auto &live = registry().live;
        auto it = live.find(x);
        if (it == live.end() || it->second->dying) return ORVO_ERR_INVALID_PTR;
        extra = it->second;
        extra->dying = true;
    }
    // Clients hear "free" while the object is still whole, so they can still ask it things.
    object_notify(x, gensym("free"), nullptr);
    if (extra->cls->c_free) ((void (*)(void *))(void (*)())extra->cls->c_free)(x);

    forget_deferred(x);
    console_forget(x);
    outlets_forget(x);
    binding_forget(x);
    {
        std::lock_guard lock(objects_mutex());
        Registry &r = registry();
        auto erase_from = [&](t_object *other, orvo::detail::ObjectList t_objextra::*list) {
            auto it = r.live.find(other);
            if (it != r.live.end()) (it->second->*list).remove((t_object *)x);
        };
        for (t_object *server : extra->servers.members()) erase_from(server, &t_objextra::clients);
        for (t_object *client : extra->clients.members()) erase_from(client, &t_objextra::servers);
        for (auto it = r.registered.begin(); it != r.registered.end();) {
            if (it->second == x)
                it = r.registered.erase(it);
            else
                ++it;
        }
        r.live.erase(x);
    }
    delete extra;
    std::free(x);
    return ORVO_ERR_NONE;
}

void freeobject(t_object *x) { object_free(x); }

t_class *object_class(void *x) {
    if (!x) return nullptr;
    std::lock_guard lock(orvo::detail::objects_mutex());
    auto &live = registry().live;
    auto it = live.find(x);
    return it == live.end() ? nullptr : it->second->cls;
}

t_symbol *object_classname(void *x) {
    t_class *c = object_class(x);
    return c ? c->c_name : nullptr;
}

long object_valid(void *x) { return object_class(x) != nullptr; }

void *object_register(t_symbol *name_space, t_symbol *s, void *x) {
    if (!name_space || !s || !object_valid(x)) return nullptr;
    std::lock_guard lock(orvo::detail::objects_mutex());
    auto &reg = registry().registered;
    auto [it, inserted] = reg.emplace(std::make_pair(name_space, s), (t_object *)x);
    return it->second;  // the object already registered under the name, when there is one
}

t_orvo_err object_addattr_parse(t_object *x, const char *markname, t_symbol *type, long, const char *text) {
    using namespace orvo::detail;
    if (!markname || !object_valid(x)) return ORVO_ERR_INVALID_PTR;
    std::vector<t_atom> atoms = parse_atoms(text);
    bool numeric =
        type == gensym("long") || type == gensym("char") || type == gensym("float32") || type == gensym("float64");
    if (numeric && (atoms.empty() || (atoms[0].a_type != A_LONG && atoms[0].a_type != A_FLOAT)))
        return ORVO_ERR_BAD_ARGS;
    Marking m{gensym(markname), type ? type : gensym("symbol"), gensym(atoms_text(atoms).c_str())};
    std::lock_guard lock(objects_mutex());
    t_objextra *e = extra_of(x);
    if (!e) return ORVO_ERR_INVALID_PTR;
    for (Marking &old : e->markings) {
        if (old.name == m.name) {
            old = m;
            return ORVO_ERR_NONE;
        }
    }
    e->markings.push_back(m);
    return ORVO_ERR_NONE;
}

const char *object_marking_get(t_object *x, const char *markname) {
    if (!markname) return "";
    t_symbol *name = gensym(markname);
    std::lock_guard lock(orvo::detail::objects_mutex());
    t_objextra *e = orvo::detail::extra_of(x);
    if (!e) return "";
    for (auto &m : e->markings)
        if (m.name == name) return m.text->s_name;
    return "";
}

}  // extern "C"

namespace orvo {
bool class_exists(const std::string &name_space, const std::string &name) {
    return detail::find_class(gensym(name_space.c_str()), gensym(name.c_str())) != nullptr;
}

std::vector<std::string> class_names(const std::string &name_space) {
    t_symbol *ns = gensym(name_space.c_str());
    std::vector<std::string> out;
    std::lock_guard lock(detail::objects_mutex());
    for (auto &[key, c] : registry().classes)
        if (key.first == ns) out.push_back(c->c_name->s_name);
    std::sort(out.begin(), out.end());
    return out;
}

namespace {
std::string args_text(const MethodEntry &e) {
    if (e.is_any) return "...";
    std::string out;
    for (short i = 0; i < e.ntypes; ++i) {
        const char *t = "";
        switch (e.types[i]) {
            case A_LONG: t = "int"; break;
            case A_FLOAT: t = "float"; break;
            case A_SYM: t = "symbol"; break;
            case A_OBJ: t = "object"; break;
            case A_DEFLONG: t = "[int]"; break;
            case A_DEFFLOAT: t = "[float]"; break;
            case A_DEFSYM: t = "[symbol]"; break;
            default: t = "?"; break;
        }
        if (!out.empty()) out += ' ';
        out += t;
    }
    return out;
}
}  // namespace

bool class_describe(const std::string &name_space, const std::string &name, ClassDesc *out) {
    t_class *c = detail::find_class(gensym(name_space.c_str()), gensym(name.c_str()));
    if (!c || !out) return false;
    *out = ClassDesc{};
    std::lock_guard lock(detail::objects_mutex());
    if (c->c_methods) {
        for (auto &[sym, obj] : *c->c_methods->map) {
            auto *e = (MethodEntry *)obj;
            out->messages.push_back(MessageDesc{sym->s_name, e->is_private ? "" : args_text(*e), e->is_private});
        }
    }
    std::sort(out->messages.begin(), out->messages.end(),
              [](const MessageDesc &a, const MessageDesc &b) { return a.name < b.name; });
    for (const detail::Attr *a : c->c_attrs)
        out->attributes.push_back(AttrDesc{a->name->s_name, a->type ? a->type->s_name : ""});
    return true;
}
}  // namespace orvo
