// orvo [--sr RATE] [--search DIR]... [--plugins DIR] [SCRIPT]
//
// Runs a script of statements against the host, or reads them from standard
// input: interactively, in real time, when that is a terminal; otherwise in
// deterministic time, exactly like a script.
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#ifdef ORVO_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

#include "interpreter.h"

namespace {

void usage(FILE *to) {
    fprintf(to,
            "usage: orvo [--sr RATE] [--search DIR]... [--plugins DIR] [SCRIPT]\n"
            "  --sr RATE       system sample rate (default 44100)\n"
            "  --search DIR    add a folder to the file search path (repeatable)\n"
            "  --plugins DIR   load the plug-ins of DIR instead of the build's\n"
            "  SCRIPT          statements to run; standard input when absent\n");
}

struct Options {
    double sr = 44100.0;
    bool sr_given = false;
    std::vector<std::string> search;
    std::string plugins;
    std::string script;
};

// 0 when parsed, else the exit status to leave with.
int parse_options(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&](const char *opt) -> const char * {
            if (i + 1 >= argc) {
                fprintf(stderr, "orvo: %s needs a value\n", opt);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "-h" || a == "--help") {
            usage(stdout);
            return -1;
        } else if (a == "--sr") {
            const char *v = value("--sr");
            if (!v) return 2;
            char *end = nullptr;
            o->sr = strtod(v, &end);
            if (end == v || *end || !(o->sr >= 0 && o->sr <= 1e7)) {
                fprintf(stderr, "orvo: bad sample rate \"%s\"\n", v);
                return 2;
            }
            o->sr_given = true;
        } else if (a == "--search") {
            const char *v = value("--search");
            if (!v) return 2;
            o->search.push_back(v);
        } else if (a == "--plugins") {
            const char *v = value("--plugins");
            if (!v) return 2;
            o->plugins = v;
        } else if (a.size() > 1 && a[0] == '-') {
            fprintf(stderr, "orvo: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        } else if (o->script.empty()) {
            o->script = a;
        } else {
            fprintf(stderr, "orvo: one script only\n");
            return 2;
        }
    }
    return 0;
}

int run_stream(std::istream &in, orvo_cli::Interpreter &interp) {
    std::string text;
    long lineno = 0;
    while (std::getline(in, text)) interp.line(text, ++lineno);
    interp.finish();
    return interp.any_malformed() ? 1 : 0;
}

#ifdef ORVO_HAVE_LIBEDIT
// The interactive console: lines are edited with libedit while the host keeps
// running, so clocks and deferred work happen as time passes.
const char *const kPrompt = "orvo> ";
std::vector<std::string> g_pending;
bool g_done = false;

// Lines are only collected here and run once libedit has finished with the
// terminal, so their output does not land inside the prompt.
void on_line(char *text) {
    if (!text) {
        g_done = true;
    } else {
        if (*text) add_history(text);
        g_pending.emplace_back(text);
        free(text);
    }
    rl_callback_handler_remove();
}

int run_interactive(orvo_cli::Interpreter &interp) {
    long lineno = 0;
    rl_callback_handler_install(kPrompt, on_line);
    while (!g_done) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) rl_callback_read_char();
        if (!g_pending.empty() || g_done) {
            for (auto &l : g_pending) interp.line(l, ++lineno);
            g_pending.clear();
            orvo::pump(0);
            fflush(stdout);
            if (!g_done) rl_callback_handler_install(kPrompt, on_line);
        } else {
            orvo::pump(0);
        }
    }
    printf("\n");
    interp.finish();
    return interp.any_malformed() ? 1 : 0;
}
#endif

}  // namespace

int main(int argc, char **argv) {
    Options o;
    int rc = parse_options(argc, argv, &o);
    if (rc) return rc < 0 ? 0 : rc;

    std::ifstream script;
    if (!o.script.empty()) {
        script.open(o.script);
        if (!script) {
            fprintf(stderr, "orvo: cannot open %s\n", o.script.c_str());
            return 2;
        }
    }
    bool interactive = false;
#ifdef ORVO_HAVE_LIBEDIT
    interactive = o.script.empty() && isatty(STDIN_FILENO);
#endif

    orvo::runtime_start(interactive);
    orvo::set_sr(o.sr);
    for (auto &d : o.search) orvo::add_search_dir(d);
    orvo::load_plugins(o.plugins.empty() ? orvo::default_plugin_dir() : o.plugins);

    orvo_cli::Interpreter interp(interactive);
#ifdef ORVO_HAVE_LIBEDIT
    if (interactive)
        rc = run_interactive(interp);
    else
#endif
        rc = o.script.empty() ? run_stream(std::cin, interp) : run_stream(script, interp);
    fflush(stdout);
    orvo::runtime_stop();
    return rc;
}
