#include "buffer_test.h"

#include <algorithm>

namespace orvo_test {

Atoms::Atoms(const std::string &text) {
    if (!text.empty()) atom_setparse(&argc, &argv, text.c_str());
}

Atoms::~Atoms() {
    if (argv) sysmem_freeptr(argv);
}

void BufferTest::TearDown() {
    for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) object_free(*it);
    boxes_.clear();
    for (auto *w : watchers_) object_free(w);
    watchers_.clear();
    HostTest::TearDown();
}

t_object *BufferTest::box(const std::string &cls, const std::string &args) {
    Atoms a(args);
    auto *x = (t_object *)object_new_typed(gensym("box"), gensym(cls.c_str()), a.argc, a.argv);
    if (x) boxes_.push_back(x);
    return x;
}

void BufferTest::free_box(t_object *x) {
    boxes_.erase(std::remove(boxes_.begin(), boxes_.end(), x), boxes_.end());
    object_free(x);
}

t_orvo_err BufferTest::send(void *x, const std::string &sel, const std::string &args) {
    Atoms a(args);
    return object_method_typed(x, gensym(sel.c_str()), a.argc, a.argv, nullptr);
}

void BufferTest::send_sched(void *x, const std::string &sel, const std::string &args) {
    orvo::run_on_scheduler([&] { send(x, sel, args); });
}

void BufferTest::watch(const std::string &name) { watchers_.push_back(orvo::watch(name)); }

}  // namespace orvo_test
