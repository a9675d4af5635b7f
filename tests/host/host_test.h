// Shared pieces of the host object-system tests: a fixture without plug-ins
// and a small record type for test classes.
#pragma once
#include <string>
#include <vector>

#include "orvo_test.h"

namespace host_test {

// Any function as an untyped method (the registered types say how it is called).
template <class F>
method M(F *f) {
    return reinterpret_cast<method>(reinterpret_cast<void (*)()>(f));
}

class ObjTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
};

// Atoms parsed from text into a vector (no host memory involved).
inline std::vector<t_atom> atoms(const std::string &text) {
    std::vector<t_atom> v(64);
    long n = (long)v.size();
    t_atom *p = v.data();
    atom_setparse(&n, &p, text.c_str());
    v.resize((size_t)n);
    return v;
}

}  // namespace host_test
