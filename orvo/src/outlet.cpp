// Outlets and the connections from them to other boxes.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "objects_internal.h"
#include "orvo/runtime.h"

namespace orvo::detail {

struct Outlet {
    t_object *owner;
    t_symbol *type;
    std::vector<t_object *> targets;  // in connection order
};

namespace {

// Every outlet in existence, so a stale or foreign pointer is refused instead of followed.
std::unordered_set<Outlet *> &all_outlets() {
    static auto *s = new std::unordered_set<Outlet *>;
    return *s;
}

// Deep enough for any sensible patch, shallow enough to stop a feedback loop
// before it overflows the thread's stack.
constexpr int kMaxSendDepth = 256;
thread_local int t_send_depth = 0;

void *send(void *o, t_symbol *s, long argc, t_atom *argv) {
    std::vector<t_object *> targets;
    t_object *owner;
    {
        std::lock_guard lock(objects_mutex());
        auto *out = (Outlet *)o;
        if (!o || !all_outlets().count(out)) return nullptr;
        targets = out->targets;
        owner = out->owner;
    }
    if (t_send_depth >= kMaxSendDepth) {
        error_line(console_tag(owner), "stack overflow: message loop through outlets stopped");
        return nullptr;
    }
    ++t_send_depth;
    for (t_object *to : targets) object_method_typed(to, s, argc, argv, nullptr);
    --t_send_depth;
    return o;
}

}  // namespace

void outlets_forget(void *x) {
    std::lock_guard lock(objects_mutex());
    auto &all = all_outlets();
    if (t_objextra *e = extra_of(x)) {
        for (Outlet *o : e->outlets) {
            all.erase(o);
            delete o;
        }
        e->outlets.clear();
    }
    for (Outlet *o : all) std::erase(o->targets, (t_object *)x);
}

}  // namespace orvo::detail

using orvo::detail::Outlet;

extern "C" {

void *outlet_new(void *x, const char *type) {
    using namespace orvo::detail;
    std::lock_guard lock(objects_mutex());
    t_objextra *e = extra_of(x);
    if (!e) return nullptr;
    auto *o = new Outlet{(t_object *)x, gensym(type ? type : ""), {}};
    e->outlets.insert(e->outlets.begin(), o);  // a newer outlet stands to the left
    all_outlets().insert(o);
    return o;
}

void *bangout(void *x) { return outlet_new(x, "bang"); }

void *floatout(void *x) { return outlet_new(x, "float"); }

void *outlet_bang(void *o) { return orvo::detail::send(o, gensym("bang"), 0, nullptr); }

void *outlet_float(void *o, double f) {
    t_atom a;
    atom_setfloat(&a, f);
    return orvo::detail::send(o, gensym("float"), 1, &a);
}

void *outlet_int(void *o, t_atom_long n) {
    t_atom a;
    atom_setlong(&a, n);
    return orvo::detail::send(o, gensym("int"), 1, &a);
}

void *outlet_anything(void *o, t_symbol *s, short argc, t_atom *argv) {
    if (!s) return nullptr;
    return orvo::detail::send(o, s, argc, argv);
}

}  // extern "C"

namespace orvo {

bool connect(t_object *from, long outlet, t_object *to, long inlet) {
    using namespace orvo::detail;
    if (inlet != 0) return false;  // boxes here have one inlet
    std::lock_guard lock(objects_mutex());
    t_objextra *e = extra_of(from);
    if (!e || !extra_of(to) || outlet < 0 || (size_t)outlet >= e->outlets.size()) return false;
    e->outlets[(size_t)outlet]->targets.push_back(to);
    return true;
}

long outlet_count(t_object *x) {
    std::lock_guard lock(detail::objects_mutex());
    t_objextra *e = detail::extra_of(x);
    return e ? (long)e->outlets.size() : 0;
}

}  // namespace orvo
