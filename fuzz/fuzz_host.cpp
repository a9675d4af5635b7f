#include "fuzz_host.h"

#include <unistd.h>

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
    orvo::mem_abort_on_bad_free(true);
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

void clear_folder() {
    std::error_code ec;
    for (auto &e : std::filesystem::directory_iterator(start_host(), ec)) std::filesystem::remove_all(e.path(), ec);
}

}  // namespace fuzz
