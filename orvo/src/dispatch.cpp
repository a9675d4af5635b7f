// Message dispatch: calls by plain pointers, typed messages converted to each
// method's declared signature, direct lookup, and notification between objects.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "objects_internal.h"

namespace orvo::detail {

namespace {

template <class K>
K slot_value(const Slot &s);
template <>
intptr_t slot_value<intptr_t>(const Slot &s) {
    return s.i;
}
template <>
double slot_value<double>(const Slot &s) {
    return s.d;
}

template <class... K, size_t... I>
void *invoke(method fn, const Slot *slots, std::index_sequence<I...>) {
    // The declared types fix which register each argument travels in (x86-64
    // SysV: integers and pointers in integer registers, doubles in SSE
    // registers); the cast gives the compiler exactly that signature.
    using F = void *(*)(K...);
    auto f = reinterpret_cast<F>(reinterpret_cast<void (*)()>(fn));
    return f(slot_value<K>(slots[I])...);
}

// Chooses, slot by slot, the instantiation whose parameter kinds match.
template <size_t N, class... K>
void *dispatch_kinds(method fn, const Slot *slots) {
    if constexpr (sizeof...(K) == N) {
        return invoke<K...>(fn, slots, std::index_sequence_for<K...>{});
    } else {
        if (slots[sizeof...(K)].is_double) return dispatch_kinds<N, K..., double>(fn, slots);
        return dispatch_kinds<N, K..., intptr_t>(fn, slots);
    }
}

template <size_t... N>
void *call_n(method fn, const Slot *slots, size_t n, std::index_sequence<N...>) {
    void *result = nullptr;
    (void)((n == N ? (result = dispatch_kinds<N>(fn, slots), true) : false) || ...);
    return result;
}

}  // namespace

void *call_slots(method fn, const Slot *slots, size_t n) {
    if (!fn || n > kMaxSlots) return nullptr;
    return call_n(fn, slots, n, std::make_index_sequence<kMaxSlots + 1>{});
}

bool convert_args(const short *types, short ntypes, long argc, const t_atom *argv, SlotList &out) {
    for (short i = 0; i < ntypes; ++i) {
        short t = types[i];
        const t_atom *a = (argv && i < argc) ? argv + i : nullptr;
        bool number = a && (a->a_type == A_LONG || a->a_type == A_FLOAT);
        switch (t) {
            case A_LONG:
            case A_DEFLONG:
                if (number)
                    out.push(slot_int((intptr_t)atom_getlong(a)));
                else if (!a && t == A_DEFLONG)
                    out.push(slot_int(0));
                else
                    return false;
                break;
            case A_FLOAT:
            case A_DEFFLOAT:
                if (number)
                    out.push(slot_double(atom_getfloat(a)));
                else if (!a && t == A_DEFFLOAT)
                    out.push(slot_double(0.0));
                else
                    return false;
                break;
            case A_SYM:
            case A_DEFSYM:
                if (a && a->a_type == A_SYM)
                    out.push(slot_ptr(atom_getsym(a)));
                else if (!a && t == A_DEFSYM)
                    out.push(slot_ptr(gensym("")));
                else
                    return false;
                break;
            case A_OBJ:
                if (a && a->a_type == A_OBJ)
                    out.push(slot_ptr(a->a_w.w_obj));
                else
                    return false;
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace orvo::detail

using orvo::detail::MethodEntry;

extern "C" {

void *object_method_imp(void *x, t_symbol *s, void *p1, void *p2, void *p3, void *p4, void *p5, void *p6, void *p7,
                        void *p8) {
    MethodEntry *m = orvo::detail::find_method(object_class(x), s);
    if (!m) return nullptr;
    using F = void *(*)(void *, void *, void *, void *, void *, void *, void *, void *, void *);
    return ((F)(void (*)())m->fn)(x, p1, p2, p3, p4, p5, p6, p7, p8);
}

t_orvo_err object_method_typed(void *x, t_symbol *s, long argc, t_atom *argv, t_atom *rv) {
    using namespace orvo::detail;
    t_class *c = object_class(x);
    if (!c || !s) {
        error_line("orvo", std::string("message \"") + (s ? s->s_name : "") + "\" sent to something not an object");
        return ORVO_ERR_INVALID_PTR;
    }
    if (argc < 0 || !argv) argc = 0;
    MethodEntry *m = find_method(c, s);
    if (m && m->is_private) m = nullptr;
    if (!m) {
        if (find_attr(c, s)) return object_attr_setvalueof(x, s, argc, argv);
        // A class that takes any message has the last word on selectors it lacks.
        static t_symbol *const s_anything = gensym("anything");
        MethodEntry *any = find_method(c, s_anything);
        if (any && any->is_any && !any->is_private) m = any;
    }
    if (!m) {
        error_line(c->c_name->s_name, std::string("doesn't understand \"") + s->s_name + "\"");
        return ORVO_ERR_NOT_FOUND;
    }
    SlotList slots;
    slots.push(slot_ptr(x));
    if (m->is_any) {
        slots.push(slot_ptr(s));
        slots.push(slot_int(argc));  // a full register: read as long or as short alike
        slots.push(slot_ptr(argv));
    } else if (!convert_args(m->types, m->ntypes, argc, argv, slots)) {
        error_line(c->c_name->s_name, std::string("bad arguments for message \"") + s->s_name + "\"");
        return ORVO_ERR_BAD_ARGS;
    }
    void *result = call_slots(m->fn, slots.s, slots.n);
    if (rv) atom_setobj(rv, result);
    return ORVO_ERR_NONE;
}

t_orvo_err object_method_parse(void *x, t_symbol *s, const char *text, t_atom *rv) {
    std::vector<t_atom> atoms = orvo::detail::parse_atoms(text);
    return object_method_typed(x, s, (long)atoms.size(), atoms.data(), rv);
}

method object_method_direct_getmethod(t_object *x, t_symbol *s) {
    MethodEntry *m = orvo::detail::find_method(object_class(x), s);
    return m ? m->fn : nullptr;
}

void *object_method_direct_getobject(t_object *x, t_symbol *s) {
    return orvo::detail::find_method(object_class(x), s) ? x : nullptr;
}

long object_hasmethod(void *x, t_symbol *s) { return orvo::detail::find_method(object_class(x), s) != nullptr; }

t_orvo_err object_attach_byptr(void *client, void *server) {
    using namespace orvo::detail;
    if (!client || !server || client == server) return ORVO_ERR_INVALID_PTR;
    std::lock_guard lock(objects_mutex());
    t_objextra *ce = extra_of(client), *se = extra_of(server);
    if (!ce || !se || se->dying || ce->dying) return ORVO_ERR_INVALID_PTR;
    if (se->clients.add((t_object *)client)) ce->servers.add((t_object *)server);
    return ORVO_ERR_NONE;
}

t_orvo_err object_detach_byptr(void *client, void *server) {
    using namespace orvo::detail;
    std::lock_guard lock(objects_mutex());
    t_objextra *ce = extra_of(client), *se = extra_of(server);
    if (!ce || !se) return ORVO_ERR_INVALID_PTR;
    bool removed = se->clients.remove((t_object *)client);
    ce->servers.remove((t_object *)server);
    return removed ? ORVO_ERR_NONE : ORVO_ERR_NOT_FOUND;
}

t_orvo_err object_notify(void *x, t_symbol *msg, void *data) {
    using namespace orvo::detail;
    std::vector<t_object *> clients;
    t_symbol *classname;
    {
        std::lock_guard lock(objects_mutex());
        t_objextra *e = extra_of(x);
        if (!e) return ORVO_ERR_INVALID_PTR;
        clients = e->clients.members();
        classname = e->cls->c_name;
    }
    static t_symbol *const notify = gensym("notify");
    for (t_object *client : clients) {
        {
            // A client that an earlier one detached or freed hears nothing more.
            std::lock_guard lock(objects_mutex());
            t_objextra *e = extra_of(x);
            if (!e || !e->clients.contains(client)) continue;
        }
        object_method_imp(client, notify, classname, msg, x, data, nullptr, nullptr, nullptr, nullptr);
    }
    return ORVO_ERR_NONE;
}

}  // extern "C"
