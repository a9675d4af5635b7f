// Named binding: one object announced under a name, and clients that follow
// the name whether or not anything is bound to it.
#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "objects_internal.h"

namespace {

struct Name {
    t_object *bound = nullptr;
    orvo::detail::ObjectList clients;
};

struct Names {
    std::mutex mutex;
    std::unordered_map<t_symbol *, Name> map;
};

Names &names() {
    static Names *n = new Names;
    return *n;
}

}  // namespace

namespace orvo::detail {

void binding_forget(void *x) {
    Names &n = names();
    std::lock_guard lock(n.mutex);
    for (auto &[sym, name] : n.map) {
        name.clients.remove((t_object *)x);
        if (name.bound == x) {
            name.bound = nullptr;
            if (sym->s_thing == x) sym->s_thing = nullptr;
        }
    }
}

}  // namespace orvo::detail

extern "C" {

t_orvo_err globalsymbol_bind(t_object *x, const char *name, long) {
    if (!x || !name) return ORVO_ERR_INVALID_PTR;
    t_symbol *s = gensym(name);
    Names &n = names();
    std::lock_guard lock(n.mutex);
    n.map[s].bound = x;
    s->s_thing = x;
    return ORVO_ERR_NONE;
}

void globalsymbol_unbind(t_object *x, const char *name, long) {
    if (!x || !name) return;
    t_symbol *s = gensym(name);
    Names &n = names();
    std::lock_guard lock(n.mutex);
    auto it = n.map.find(s);
    if (it == n.map.end() || it->second.bound != x) return;
    it->second.bound = nullptr;
    if (s->s_thing == x) s->s_thing = nullptr;
}

void globalsymbol_notify(t_object *x, const char *name, t_symbol *msg, void *data) {
    if (!name) return;
    t_symbol *s = gensym(name);
    Names &n = names();
    std::vector<t_object *> clients;
    {
        std::lock_guard lock(n.mutex);
        auto it = n.map.find(s);
        if (it == n.map.end()) return;
        clients = it->second.clients.members();
    }
    t_symbol *notify = gensym("notify");
    for (t_object *client : clients) {
        {
            // A client detached (or freed) by an earlier one hears nothing more.
            std::lock_guard lock(n.mutex);
            if (!n.map[s].clients.contains(client)) continue;
        }
        object_method_imp(client, notify, s, msg, x, data, nullptr, nullptr, nullptr, nullptr);
    }
}

void *globalsymbol_attach(t_object *client, const char *name) {
    if (!client || !name) return nullptr;
    t_symbol *s = gensym(name);
    Names &n = names();
    std::lock_guard lock(n.mutex);
    Name &entry = n.map[s];
    entry.clients.add(client);
    return entry.bound;
}

void globalsymbol_detach(t_object *client, const char *name) {
    if (!client || !name) return;
    t_symbol *s = gensym(name);
    Names &n = names();
    std::lock_guard lock(n.mutex);
    auto it = n.map.find(s);
    if (it != n.map.end()) it->second.clients.remove(client);
}

}  // extern "C"
