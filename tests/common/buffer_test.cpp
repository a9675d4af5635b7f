#include "buffer_test.h"

#include <sndfile.h>

#include <algorithm>
#include <fstream>
#include <iterator>

namespace orvo_test {

Atoms::Atoms(const std::string &text) {
    if (!text.empty()) atom_setparse(&argc, &argv, text.c_str());
}

Atoms::~Atoms() {
    if (argv) sysmem_freeptr(argv);
}

void make_sound(const std::string &path, long chans, long frames, int rate, int format) {
    SF_INFO info{0, rate, (int)chans, format ? format : SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE *s = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(s, nullptr) << sf_strerror(nullptr);
    std::vector<float> data((size_t)(chans * frames));
    for (size_t i = 0; i < data.size(); ++i) data[i] = pattern((long)i / chans, (long)i % chans);
    sf_writef_float(s, data.data(), frames);
    sf_close(s);
}

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

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

void BufferTest::sends(void *x, const std::string &messages) {
    for (size_t at = 0; at < messages.size();) {
        size_t end = std::min(messages.find(';', at), messages.size()), space = messages.find(' ', at);
        std::string sel = messages.substr(at, std::min(space, end) - at);
        send(x, sel, space < end ? messages.substr(space + 1, end - space - 1) : "");
        at = end + 1;
    }
}

void BufferTest::send_sched(void *x, const std::string &sel, const std::string &args) {
    orvo::run_on_scheduler([&] { send(x, sel, args); });
}

void BufferTest::watch(const std::string &name) { watchers_.push_back(orvo::watch(name)); }

}  // namespace orvo_test
