// Shared pieces of the host object-system tests: a fixture without plug-ins and
// a plain class made by name.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace host_test {

using orvo_test::Atoms;

// Any function as an untyped method (the registered types say how it is called).
template <class F>
method M(F *f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)()>(f));
}

inline t_atom as_atom(t_atom_long v) { return t_atom{A_LONG, {.w_long = v}}; }
inline t_atom as_atom(double v) { return t_atom{A_FLOAT, {.w_float = v}}; }
inline t_atom as_atom(t_symbol *v) { return t_atom{A_SYM, {.w_sym = v}}; }

// "L1 F2.5 S[word]": atoms with their types, exactly.
inline std::string describe(const t_atom *argv, long argc) {
    std::string out;
    for (long i = 0; i < argc; ++i) {
        char b[80] = "?";
        const t_atom &a = argv[i];
        if (a.a_type == A_LONG) std::snprintf(b, sizeof b, "L%lld", (long long)a.a_w.w_long);
        if (a.a_type == A_FLOAT) std::snprintf(b, sizeof b, "F%.17g", a.a_w.w_float);
        if (a.a_type == A_SYM) std::snprintf(b, sizeof b, "S[%s]", a.a_w.w_sym->s_name);
        out += (i ? " " : "") + std::string(b);
    }
    return out;
}
inline std::string describe(const Atoms &a) { return describe(a.argv, a.argc); }

// "thingtest" in "box", created from (optional long, optional symbol, optional float).
struct Thing {
    t_object ob;
    t_atom_long n;
    t_symbol *s;
    double f;
};
inline t_class *thing_class();
inline void *thing_new(t_atom_long n, t_symbol *s, double f) {
    auto *x = (Thing *)object_alloc(thing_class());
    *x = Thing{x->ob, n, s, f};
    return x;
}
inline t_class *thing_class() {
    static t_class *c =
        class_new("thingtest", M(thing_new), nullptr, sizeof(Thing), 0, A_DEFLONG, A_DEFSYM, A_DEFFLOAT, 0);
    class_register(gensym("box"), c);
    return c;
}

// box() makes host classes ("print") here: no plug-ins are loaded.
class ObjTest : public orvo_test::BufferTest {
  protected:
    bool wants_plugins() const override { return false; }
    void SetUp() override {
        BufferTest::SetUp();
        thing_class();  // registers "thingtest"
    }
};

// A fixture holding one fresh instance x_ of a class; TearDown's block count
// also shows that every host memory block made meanwhile was freed.
template <class T, t_class *(*Class)()>
class InstanceTest : public ObjTest {
  protected:
    void SetUp() override {
        ObjTest::SetUp();
        x_ = (T *)object_alloc(Class());
        boxes_.push_back((t_object *)x_);
    }
    T *x_ = nullptr;
};

}  // namespace host_test
