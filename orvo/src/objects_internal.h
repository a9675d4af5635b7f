// The object system's own records and the helpers its files share, for the
// host's sources and its tests; plug-ins see only the C interface of buffer~/host.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "../../buffer~/host/orvo_host.h"

namespace orvo::detail {

// One argument slot of a call assembled at run time: integers and pointers
// travel in integer registers, doubles in SSE registers.
struct Slot {
    bool is_double;
    intptr_t i;
    double d;
};
inline Slot slot_int(intptr_t v) { return Slot{false, v, 0.0}; }
inline Slot slot_ptr(const void *p) { return Slot{false, (intptr_t)p, 0.0}; }
inline Slot slot_double(double v) { return Slot{true, 0, v}; }

// Any function as an untyped method; the registered argument types say how it is called.
template <class F>
method as_method(F *f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)()>(f));
}

// Calls fn with the slots as its arguments, typed by their kinds. At most
// kMaxSlots; returns the function's integer result register as a pointer.
constexpr size_t kMaxSlots = 7;
void *call_slots(method fn, const Slot *slots, size_t n);

// Typed arguments a method can declare after its receiver.
constexpr size_t kMaxTypedArgs = kMaxSlots - 1;

// A message of a class: a host object of class "method" (so markings can be
// attached to it) held in the class's "methods" table.
struct MethodEntry {
    t_object ob;
    t_symbol *name;
    method fn;
    short types[kMaxTypedArgs];
    short ntypes;
    bool is_private;  // A_PRIVATE: object_method_imp and direct lookup only
    bool is_any;      // A_ANY: fn(x, selector, argc, argv)
};

// The "methods" table of a class: a host object of class "hashtab".
struct Hashtab {
    t_object ob;
    std::unordered_map<t_symbol *, t_object *> *map;
};

// An attribute: a host object of class "attr".
struct Attr {
    t_object ob;
    t_symbol *name;
    t_symbol *type;
    long flags;
    method get;  // never null: the default accessor of the type when none was given
    method set;
    long offset;
};

struct Outlet;

// A marking: an attribute of an attribute or of a method entry ("invisible" "1").
struct Marking {
    t_symbol *name;
    t_symbol *type;
    t_symbol *text;  // canonical text of the parsed value, interned so it stays valid
};

// Atoms parsed from text (see atom_setparse), without host memory.
std::vector<t_atom> parse_atoms(const char *text);
// The atoms as readable text: words separated by blanks, floats as %g.
std::string atoms_text(long argc, const t_atom *argv);
inline std::string atoms_text(const std::vector<t_atom> &v) { return atoms_text((long)v.size(), v.data()); }

// The tag of a console line for x: its class name, with its box id in
// parentheses when it has one, or "orvo".
std::string console_tag(const void *x);
// Formats and prints "TAG: TEXT" / "TAG: error: TEXT".
void post_line(const std::string &tag, const std::string &text);
void error_line(const std::string &tag, const std::string &text);

// ---- objects ----------------------------------------------------------------

// Host classes the object system itself uses, made in init_objects.
t_class *hashtab_class();
t_class *method_class();
t_class *attr_class();

// The extra bookkeeping of a live object (outlets, attachments, markings).
t_objextra *extra_of(void *x);
// Serialises changes to the bookkeeping of all objects; never held while
// calling out to a method.
std::recursive_mutex &objects_mutex();

// The entry of the class's message s, or null.
MethodEntry *find_method(t_class *c, t_symbol *s);
// The class's attribute s, or null.
Attr *find_attr(t_class *c, t_symbol *s);
t_class *find_class(t_symbol *name_space, t_symbol *name);

// The arguments of one call, built without touching the heap.
struct SlotList {
    Slot s[kMaxSlots];
    size_t n = 0;
    void push(Slot v) {
        if (n < kMaxSlots) s[n++] = v;
    }
};

// Converts typed atoms to the declared argument kinds, appending slots. False
// (nothing usable) when a required argument is missing or has the wrong type.
bool convert_args(const short *types, short ntypes, long argc, const t_atom *argv, SlotList &out);

// Run when x is freed: its outlets go, and so do connections into it;
void outlets_forget(void *x);
// it leaves every name it was bound to or attached to.
void binding_forget(void *x);
// Drops work deferred for x that has not run yet (sched.cpp).
void forget_deferred(void *x);

// Prints one console line (used by print, watch and the console functions).
void console_write(const std::string &line);
// Drops the box id of a freed object (console.cpp).
void console_forget(const void *x);

// Dictionaries, for host classes that are created from one (jpatcher).
bool dictionary_is(const void *x);
// The atoms stored under key, or null when absent.
const std::vector<t_atom> *dictionary_lookup(const t_object *dict, t_symbol *key);
// The keys in the order they were first set.
std::vector<t_symbol *> dictionary_keys(const t_object *dict);

// Objects in the order they joined. Joining, leaving and asking take constant
// time (amortised), so that a window of a hundred thousand views opens and
// closes in a moment: a leaver's slot is emptied, and the slots are packed once
// more than half of them are empty.
class ObjectList {
  public:
    bool contains(t_object *o) const { return at_.count(o) != 0; }
    // False when o is already in the list.
    bool add(t_object *o) {
        if (!at_.emplace(o, order_.size()).second) return false;
        order_.push_back(o);
        return true;
    }
    // False when o was not in the list.
    bool remove(t_object *o) {
        auto it = at_.find(o);
        if (it == at_.end()) return false;
        order_[it->second] = nullptr;
        at_.erase(it);
        if (order_.size() > 16 && 2 * at_.size() < order_.size()) pack();
        return true;
    }
    // The members, in the order they joined.
    std::vector<t_object *> members() const {
        std::vector<t_object *> v;
        v.reserve(at_.size());
        for (t_object *o : order_)
            if (o) v.push_back(o);
        return v;
    }

  private:
    void pack() {
        size_t k = 0;
        for (t_object *o : order_)
            if (o) at_[o] = k, order_[k++] = o;
        order_.resize(k);
    }
    std::vector<t_object *> order_;
    std::unordered_map<t_object *, size_t> at_;
};

}  // namespace orvo::detail

// The records behind the opaque pointers of the C interface.
struct t_class {
    t_symbol *c_name;
    method c_new;
    method c_free;
    long c_size;
    long c_flags;
    short c_argtypes[orvo::detail::kMaxTypedArgs];
    short c_nargs;
    bool c_anyargs;
    t_symbol *c_namespace;                      // null until registered
    orvo::detail::Hashtab *c_methods;           // message name -> MethodEntry object
    std::vector<orvo::detail::Attr *> c_attrs;  // in the order added
};

struct t_objextra {
    t_class *cls;
    bool dying;                                   // object_free has begun
    std::vector<orvo::detail::Outlet *> outlets;  // index 0 is the leftmost
    orvo::detail::ObjectList clients;             // attached to this object
    orvo::detail::ObjectList servers;             // objects this one is attached to
    std::vector<orvo::detail::Marking> markings;
};
