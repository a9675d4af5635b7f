// Loading plug-in modules: each is opened once and its ext_main called once;
// modules are never unloaded (their classes stay registered for the process).
#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "objects_internal.h"
#include "orvo/runtime.h"

namespace orvo {

namespace {

std::set<void *> &loaded_handles() {
    static auto *s = new std::set<void *>;
    return *s;
}

}  // namespace

bool load_plugin(const std::string &path) {
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *why = dlerror();
        detail::error_line("orvo", "cannot load " + path + ": " + (why ? why : "unknown reason"));
        return false;
    }
    if (loaded_handles().count(handle)) {
        dlclose(handle);  // drops the extra reference; the module stays loaded
        return true;
    }
    using EntryFn = void (*)(void *);
    auto entry = reinterpret_cast<EntryFn>(dlsym(handle, "ext_main"));
    if (!entry) {
        detail::error_line("orvo", "cannot load " + path + ": no ext_main");
        dlclose(handle);
        return false;
    }
    loaded_handles().insert(handle);
    entry(handle);
    return true;
}

int load_plugins(const std::string &dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::string> paths;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path &p = it->path();
        if (p.extension() == ".so" && it->is_regular_file(ec)) paths.push_back(p.string());
    }
    if (ec) {
        detail::error_line("orvo", "cannot read plug-in folder " + dir + ": " + ec.message());
        return 0;
    }
    std::sort(paths.begin(), paths.end());
    int loaded = 0;
    for (const std::string &p : paths)
        if (load_plugin(p)) ++loaded;
    return loaded;
}

std::string default_plugin_dir() {
    const char *env = std::getenv("ORVO_PLUGIN_DIR");
    if (env && *env) return env;
    return ORVO_BUILD_PLUGIN_DIR;
}

}  // namespace orvo
