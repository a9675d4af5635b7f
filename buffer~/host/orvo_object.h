// Classes, instances, messages and attributes.
//
// Threads: class registration runs on the main thread before any instance
// exists. Message sending runs the method on the calling thread; the host adds
// no locking around it.
#pragma once
#include "orvo_types.h"

ORVO_BEGIN_C

// ---- classes ----------------------------------------------------------------

// [main thread] A new class. newfn/freefn are the constructor and destructor,
// size the record size (at least sizeof(t_object)). The trailing argument types
// (0-terminated) describe creation arguments: A_ANY passes (classname, argc, argv).
ORVO_API struct t_class *class_new(const char *name, method newfn, method freefn, long size, long flags, ...);
// [main thread] Adds a message. Types follow the name, 0-terminated; A_PRIVATE
// alone makes a method reachable only by object_method_imp and direct lookup.
// Returns 0, or nonzero for an unknown or malformed type list.
ORVO_API t_orvo_err class_addmethod(struct t_class *c, method m, const char *name, ...);
// [main thread] Adds an attribute made by attr_offset_new.
ORVO_API t_orvo_err class_addattr(struct t_class *c, t_object *attr);
// [main thread] Makes the class findable by name in a name space ("box", "nobox").
ORVO_API t_orvo_err class_register(t_symbol *name_space, struct t_class *c);
// [any thread] The class's table under key "methods" (a hashtab of method entries), or null.
ORVO_API t_object *class_extra_lookup(struct t_class *c, t_symbol *key);
// [any thread] Finds key in a hashtab; stores the value (a method entry) or null. Nonzero when absent.
ORVO_API t_orvo_err hashtab_lookup(t_object *tab, t_symbol *key, t_object **value);
// [any thread] The class's attribute of that name, or null.
ORVO_API t_object *class_attr_get(struct t_class *c, t_symbol *attrname);
// [main thread] Adds a marking (an attribute of an attribute) parsed from text.
ORVO_API t_orvo_err class_attr_addattr_parse(struct t_class *c, const char *attrname, const char *markname,
                                             t_symbol *type, long flags, const char *text);
// [main thread] Adds a marking to any object that carries markings (method entries, attributes).
ORVO_API t_orvo_err object_addattr_parse(t_object *x, const char *markname, t_symbol *type, long flags,
                                         const char *text);
// [any thread] A marking's value as text ("" when absent). Host extension, for tools and tests.
ORVO_API const char *object_marking_get(t_object *x, const char *markname);
// [any thread] The method that answers true; registered by plug-ins for "(remote)".
ORVO_API void *method_true(void *x);
// [any thread] The class's name as a symbol.
ORVO_API t_symbol *class_nameget(struct t_class *c);

// ---- instances ----------------------------------------------------------------

// [main thread] A zero-filled record of the class's size with its header set.
ORVO_API void *object_alloc(struct t_class *c);
// [main thread] Creates by class name in a name space, passing plain pointer-sized
// arguments to the constructor. Null when the class is unknown or the constructor fails.
ORVO_API void *object_new_imp(t_symbol *name_space, t_symbol *classname, void *p1, void *p2, void *p3, void *p4,
                              void *p5, void *p6, void *p7, void *p8);
// [main thread] Creates by class name with typed creation arguments.
ORVO_API void *object_new_typed(t_symbol *name_space, t_symbol *classname, long argc, t_atom *argv);
// [main thread] Runs the destructor, notifies attached objects with "free", releases the record.
ORVO_API t_orvo_err object_free(void *x);
// [main thread] Same as object_free, for host objects such as clocks.
ORVO_API void freeobject(t_object *x);
// [any thread] The class name of an object, or null for a pointer that is not a live object.
ORVO_API t_symbol *object_classname(void *x);
ORVO_API struct t_class *object_class(void *x);
// [any thread] Nonzero when x is a live host object. Host extension.
ORVO_API long object_valid(void *x);
// [main thread] Registers an object under a name in a name space; returns it.
ORVO_API void *object_register(t_symbol *name_space, t_symbol *s, void *x);

// ---- messages -------------------------------------------------------------------

// [calling thread] Calls the method named s with up to eight pointer-sized
// arguments, as they are. Returns the method's result, or null when x does not
// understand s (no console line: direct callers test for that).
ORVO_API void *object_method_imp(void *x, t_symbol *s, void *p1, void *p2, void *p3, void *p4, void *p5, void *p6,
                                 void *p7, void *p8);
// [calling thread] Sends a typed message: atoms are converted to the declared
// types (integer to float widened, float to integer truncated, missing optional
// arguments defaulted). An unknown selector or unconvertible arguments post one
// error "CLASS: error: doesn't understand SEL" / "...: bad arguments for message SEL"
// and return nonzero without calling anything. rv, when not null, receives the
// method's result as an A_OBJ atom.
ORVO_API t_orvo_err object_method_typed(void *x, t_symbol *s, long argc, t_atom *argv, t_atom *rv);
// [calling thread] object_method_typed with the arguments parsed from text.
ORVO_API t_orvo_err object_method_parse(void *x, t_symbol *s, const char *text, t_atom *rv);
// [any thread] The method itself, for calling with its real signature (floats included).
ORVO_API method object_method_direct_getmethod(t_object *x, t_symbol *s);
// [any thread] The object to pass as the method's first argument.
ORVO_API void *object_method_direct_getobject(t_object *x, t_symbol *s);
// [any thread] Nonzero when x has a method named s. Host extension.
ORVO_API long object_hasmethod(void *x, t_symbol *s);

// [main thread] client hears server's notifications (its "notify" method is
// called as notify(client, server's class name, msg, sender, data)).
ORVO_API t_orvo_err object_attach_byptr(void *client, void *server);
ORVO_API t_orvo_err object_detach_byptr(void *client, void *server);
// [main thread] Sends msg with data to every object attached to x.
ORVO_API t_orvo_err object_notify(void *x, t_symbol *msg, void *data);

// ---- attributes -------------------------------------------------------------------

// Getter: t_orvo_err get(x, attr, long *argc, t_atom **argv); it may use atom_alloc.
// Setter: t_orvo_err set(x, attr, long argc, t_atom *argv).
// Null accessors give the host's defaults for the field at offset, of the declared
// type ("long", "float64", "float32", "char", "symbol", "object").
ORVO_API t_object *attr_offset_new(const char *name, t_symbol *type, long flags, method get, method set, long offset);
// [main thread] Counts the plain creation arguments before the first "@name".
ORVO_API long attr_args_offset(short argc, t_atom *argv);
// [main thread] Applies every "@name value..." group to x's attributes. An
// unknown attribute posts one error and is skipped; "@name" with no value is skipped.
ORVO_API void attr_args_process(void *x, short argc, t_atom *argv);

// [calling thread] Set or get an attribute through its accessors. Nonzero when x has no such attribute.
ORVO_API t_orvo_err object_attr_setvalueof(void *x, t_symbol *s, long argc, t_atom *argv);
// *argc/*argv may be preset by the caller; otherwise they come from sysmem and the caller frees *argv.
ORVO_API t_orvo_err object_attr_getvalueof(void *x, t_symbol *s, long *argc, t_atom **argv);
ORVO_API t_orvo_err object_attr_setchar(void *x, t_symbol *s, char c);
ORVO_API t_orvo_err object_attr_setlong(void *x, t_symbol *s, t_atom_long n);
ORVO_API t_orvo_err object_attr_setfloat(void *x, t_symbol *s, double f);
ORVO_API t_orvo_err object_attr_setsym(void *x, t_symbol *s, t_symbol *v);
ORVO_API t_orvo_err object_attr_setobj(void *x, t_symbol *s, void *o);
ORVO_API t_atom_long object_attr_getlong(void *x, t_symbol *s);
ORVO_API double object_attr_getfloat(void *x, t_symbol *s);
ORVO_API t_symbol *object_attr_getsym(void *x, t_symbol *s);
ORVO_API t_orvo_err object_attr_get_rect(t_object *x, t_symbol *s, t_rect *r);

ORVO_END_C

#ifdef __cplusplus
#include <type_traits>
namespace orvo_detail {
template <class T> inline void *to_ptr(T *p) { return (void *)p; }
template <class T> inline void *to_ptr(const T *p) { return (void *)p; }
inline void *to_ptr(decltype(nullptr)) { return nullptr; }
template <class T> inline void *to_ptr(T v) {
    static_assert(sizeof(T) <= sizeof(void *) && !std::is_floating_point_v<T>,
                  "object_method passes pointer-sized integers and pointers only; use direct lookup for floats");
    return (void *)(intptr_t)v;
}
}  // namespace orvo_detail

// object_method(x, sel, args...): object_method_imp with the unused slots null.
template <class... A> inline void *object_method(void *x, t_symbol *s, A... a) {
    static_assert(sizeof...(A) <= 8, "at most eight arguments");
    void *p[9] = {orvo_detail::to_ptr(a)..., nullptr};
    return object_method_imp(x, s, p[0], sizeof...(A) > 1 ? p[1] : nullptr, sizeof...(A) > 2 ? p[2] : nullptr,
                             sizeof...(A) > 3 ? p[3] : nullptr, sizeof...(A) > 4 ? p[4] : nullptr,
                             sizeof...(A) > 5 ? p[5] : nullptr, sizeof...(A) > 6 ? p[6] : nullptr,
                             sizeof...(A) > 7 ? p[7] : nullptr);
}
inline void *object_new(t_symbol *ns, t_symbol *cls) {
    return object_new_imp(ns, cls, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

namespace orvo_detail {
// Whether the host, delivering a message of argument types T... (as class_addmethod
// takes them), calls a function of type R(X, P...) with the parameters it declares.
template <e_atomtype T, class P> constexpr bool arg_fits() {
    if constexpr (T == A_LONG || T == A_DEFLONG)
        return std::is_integral_v<P> && sizeof(P) == sizeof(t_atom_long);
    else if constexpr (T == A_FLOAT || T == A_DEFFLOAT)
        return std::is_same_v<P, double>;  // floats arrive widened, never as float
    else if constexpr (T == A_SYM || T == A_DEFSYM)
        return std::is_same_v<P, t_symbol *>;
    else if constexpr (T == A_OBJ)
        return std::is_pointer_v<P>;
    else
        return false;
}
template <e_atomtype... T, class R, class X, class... P> constexpr bool signature_fits(R (*)(X, P...)) {
    if constexpr (!std::is_pointer_v<X>)
        return false;
    else if constexpr (sizeof...(T) == 1 && ((T == A_PRIVATE) && ...))
        return true;  // called directly with its own signature
    else if constexpr (sizeof...(T) == 1 && ((T == A_ANY) && ...))
        return std::is_same_v<void (*)(P...), void (*)(t_symbol *, long, t_atom *)>;
    else if constexpr (sizeof...(T) != sizeof...(P))
        return false;
    else
        return (arg_fits<T, P>() && ...);
}
}  // namespace orvo_detail

// class_addmethod with the argument types checked against the handler's own type at
// compile time: class_addmethod_typed<buffer_sizeinsamps, A_LONG, A_DEFLONG>(c, "sizeinsamps").
template <auto Fn, e_atomtype... T> inline t_orvo_err class_addmethod_typed(struct t_class *c, const char *name) {
    static_assert(orvo_detail::signature_fits<T...>(Fn), "the message's argument types disagree with its handler");
    return class_addmethod(c, ORVO_FN(Fn), name, (int)T..., 0);
}

// Calls the method s of x found by direct lookup, with the real signature
// void(object, A...) given by the arguments' own types; false when x has no such method.
template <class... A> inline bool object_method_direct(t_object *x, t_symbol *s, A... a) {
    method m = object_method_direct_getmethod(x, s);
    if (!m) return false;
    using fn = void (*)(void *, A...);
    reinterpret_cast<fn>(reinterpret_cast<void (*)(void)>(m))(object_method_direct_getobject(x, s), a...);
    return true;
}
#endif
