#include "fuzz_host.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace fuzz {

const std::string &start_host() {
    static std::string folder;
    if (!folder.empty()) return folder;
    char tmpl[] = "/tmp/orvo_fuzz_XXXXXX";
    if (!mkdtemp(tmpl)) fail("no temporary folder");
    folder = tmpl;
    // The host takes the current folder as its default folder; libFuzzer's
    // folders and files stay relative to the one it was started in.
    char here[4096];
    if (!getcwd(here, sizeof here) || chdir(folder.c_str()) != 0) fail("cannot enter " + folder);
    orvo::runtime_start(false);
    if (chdir(here) != 0) fail("cannot return to " + std::string(here));
    orvo::add_search_dir(folder);
    orvo::console_capture(true);
    if (orvo::load_plugins(ORVO_FUZZ_PLUGIN_DIR) < 1) fail("no plug-in in " ORVO_FUZZ_PLUGIN_DIR);
    orvo::console_take();
    // The folder goes with the process, also when libFuzzer ends it on a finding.
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    });
    return folder;
}

void fail(const std::string &what) {
    for (auto &l : orvo::console_take()) fprintf(stderr, "console: %s\n", l.c_str());
    fprintf(stderr, "FUZZ FAILURE: %s\n", what.c_str());
    abort();
}

t_object *new_box(const char *cls, const std::string &args) {
    long argc = 0;
    t_atom *argv = nullptr;
    if (!args.empty()) atom_setparse(&argc, &argv, args.c_str());
    auto *x = (t_object *)object_new_typed(gensym("box"), gensym(cls), argc, argv);
    if (argv) sysmem_freeptr(argv);
    return x;
}

t_buffer *new_buffer(const std::string &args) { return (t_buffer *)new_box("buffer~", args); }

void drain() { orvo::run_until_idle(); }

static std::string describe(const t_buffer *b) {
    char s[256];
    snprintf(s, sizeof s, "%p (memory %p samples %p frames %lld chans %lld size %lld padding %lld)", (void *)b,
             (void *)b->b_memory, (void *)b->b_samples, (long long)b->b_frames, (long long)b->b_nchans,
             (long long)b->b_size, (long long)b->b_padding);
    return s;
}

std::string chain_problems(t_symbol *name) {
    auto *head = (t_buffer *)name->s_thing;
    if (!head) return "";
    std::string where = std::string("buffer ") + name->s_name + ": ";
    if (!head->b_isowner) return where + "head is not the owner: " + describe(head);
    long n = 0;
    for (t_buffer *b = head; b; b = b->b_next) {
        if (++n > 1000) return where + "chain does not end";
        if (b != head && b->b_isowner) return where + "a second owner " + describe(b);
        if (b->b_name != name) return where + "a member under another name " + describe(b);
        if (b->b_memory != head->b_memory || b->b_samples != head->b_samples || b->b_frames != head->b_frames ||
            b->b_nchans != head->b_nchans || b->b_size != head->b_size || b->b_padding != head->b_padding)
            return where + "peer " + describe(b) + " differs from owner " + describe(head);
    }
    const t_buffer *b = head;
    t_atom_long size;
    if (__builtin_mul_overflow(b->b_frames, b->b_nchans, &size) || size != b->b_size)
        return where + "size is not frames x channels: " + describe(b);
    if (b->b_frames < 0 || b->b_size < 0 || b->b_padding < 16) return where + "impossible layout " + describe(b);
    if (!b->b_memory) return "";
    if (b->b_samples != b->b_memory + b->b_padding) return where + "samples not after the front guard " + describe(b);
    for (t_atom_long i = 0; i < b->b_padding; ++i)
        if (b->b_memory[i] != 0.0f || b->b_samples[b->b_size + i] != 0.0f)
            return where + "guard zone not zero " + describe(b);
    return "";
}

long nonfinite_samples(const t_buffer *b) {
    if (!b->b_memory || !b->b_samples) return 0;
    long n = 0;
    for (t_atom_long i = 0; i < b->b_size; ++i) n += !std::isfinite(b->b_samples[i]);
    return n;
}

void clear_folder() {
    std::error_code ec;
    for (auto &e : std::filesystem::directory_iterator(start_host(), ec)) std::filesystem::remove_all(e.path(), ec);
}

}  // namespace fuzz
