// Interned symbols. Symbols live for the whole process: their addresses are
// compared by identity everywhere, so none is ever freed or moved.
#include <atomic>
#include <cstring>
#include <deque>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "objects_internal.h"

namespace {

struct SymbolTable {
    std::shared_mutex mutex;
    // Keys view the symbols' own text, so lookups need no allocation.
    std::unordered_map<std::string_view, t_symbol *> map;
    std::deque<t_symbol> storage;  // stable addresses
    std::atomic<unsigned long> unique_counter{0};
};

SymbolTable &table() {
    static SymbolTable *t = new SymbolTable;  // never destroyed: symbols outlive static destructors
    return *t;
}

t_symbol *intern_locked(SymbolTable &t, std::string_view text) {
    auto it = t.map.find(text);
    if (it != t.map.end()) return it->second;
    char *copy = new char[text.size() + 1];
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    t.storage.push_back(t_symbol{copy, nullptr});
    t_symbol *s = &t.storage.back();
    t.map.emplace(std::string_view(copy, text.size()), s);
    return s;
}

}  // namespace

extern "C" t_symbol *gensym(const char *s) {
    if (!s) s = "";
    SymbolTable &t = table();
    std::string_view text(s);
    {
        std::shared_lock lock(t.mutex);
        auto it = t.map.find(text);
        if (it != t.map.end()) return it->second;
    }
    std::unique_lock lock(t.mutex);
    return intern_locked(t, text);
}

extern "C" t_symbol *symbol_unique(void) {
    SymbolTable &t = table();
    std::unique_lock lock(t.mutex);
    for (;;) {
        std::string name = "u" + std::to_string(++t.unique_counter);
        if (t.map.find(name) == t.map.end()) return intern_locked(t, name);
    }
}

extern "C" const char *str_tr(const char *s) { return s; }

extern "C" t_common_symbols_table *common_symbols_gettable(void) {
    static t_common_symbols_table *tab = [] {
        auto *t = new t_common_symbols_table;
        t->s_nothing = gensym("");
        t->s_bang = gensym("bang");
        t->s_int = gensym("int");
        t->s_float = gensym("float");
        t->s_list = gensym("list");
        t->s_anything = gensym("anything");
        t->s_symbol = gensym("symbol");
        t->s_long = gensym("long");
        t->s_float32 = gensym("float32");
        t->s_float64 = gensym("float64");
        t->s_char = gensym("char");
        t->s_object = gensym("object");
        t->s_pointer = gensym("pointer");
        t->s_box = gensym("box");
        t->s_nobox = gensym("nobox");
        t->s_methods = gensym("methods");
        t->s_get = gensym("get");
        t->s_set = gensym("set");
        t->s_setmethod = gensym("setmethod");
        t->s_notify = gensym("notify");
        t->s_free = gensym("free");
        t->s_attr_modified = gensym("attr_modified");
        t->s_getname = gensym("getname");
        t->s_name = gensym("name");
        t->s_rect = gensym("rect");
        t->s_open = gensym("open");
        t->s_setsamplerate = gensym("setsamplerate");
        t->s_close = gensym("close");
        t->s_jsoundfile = gensym("jsoundfile");
        t->s_jpatcher = gensym("jpatcher");
        t->s_vis = gensym("vis");
        t->s_title = gensym("title");
        t->s_dirty = gensym("dirty");
        return t;
    }();
    return tab;
}
