// orvo [--sr RATE] [--search DIR]... [--plugins DIR] [--display NAME | --headless] [SCRIPT]
//
// Runs a script of statements against the host, or reads them from standard
// input: interactively, in real time, when that is a terminal; otherwise in
// deterministic time, exactly like a script. Windows open on the display when
// there is one, and close when orvo ends.
#include <dirent.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef ORVO_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

#include "display.h"
#include "interpreter.h"

namespace {

void usage(FILE *to) {
    fprintf(to,
            "usage: orvo [--sr RATE] [--search DIR]... [--plugins DIR] [--display NAME | --headless] [SCRIPT]\n"
            "  --sr RATE       system sample rate (default 44100)\n"
            "  --search DIR    add a folder to the file search path (repeatable)\n"
            "  --plugins DIR   load the plug-ins of DIR instead of the build's\n"
            "  --version       print the version and exit\n"
            "  --display NAME  show windows on display NAME (default: $DISPLAY)\n"
            "  --headless      show no windows, even with a display\n"
            "  SCRIPT          statements to run; standard input when absent\n"
            "In a script or at the prompt, \"help\" lists the statements and classes and\n"
            "\"help buffer~\" the messages of buffer~.\n");
}

struct Options {
    double sr = 44100.0;
    bool sr_given = false;
    std::vector<std::string> search;
    std::string plugins;
    std::string script;
    std::string display;
    bool headless = false;
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
        } else if (a == "--version") {
            printf("orvo %s (host interface %d)\n", ORVO_VERSION, ORVO_HOST_API_VERSION);
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
        } else if (a == "--display") {
            const char *v = value("--display");
            if (!v) return 2;
            o->display = v;
        } else if (a == "--headless") {
            o->headless = true;
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

// While a statement runs on a terminal for more than about a second (a long
// load or write), standard error shows what runs and for how long, on one
// line that is erased when it ends. Nothing is shown when output goes to a
// file or a pipe.
class Progress {
  public:
    Progress() : enabled_(isatty(STDOUT_FILENO) && isatty(STDERR_FILENO)) {
        if (enabled_) thread_ = std::thread([this] { watch(); });
    }
    ~Progress() {
        if (!enabled_) return;
        {
            std::lock_guard lk(m_);
            stop_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    void begin(const std::string &what) {
        if (!enabled_) return;
        std::lock_guard lk(m_);
        what_ = what;
        since_ = std::chrono::steady_clock::now();
        busy_ = true;
        cv_.notify_all();
    }
    void end() {
        if (!enabled_) return;
        std::lock_guard lk(m_);
        busy_ = false;
        if (shown_) {
            fputs("\r\033[K", stderr);
            fflush(stderr);
            shown_ = false;
        }
    }

  private:
    void watch() {
        std::unique_lock lk(m_);
        while (!stop_) {
            if (!busy_) {
                cv_.wait(lk);
                continue;
            }
            cv_.wait_for(lk, std::chrono::milliseconds(250));
            if (!busy_ || stop_) continue;
            double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - since_).count();
            if (s < 1.0) continue;
            std::string what = what_.size() > 60 ? what_.substr(0, 57) + "..." : what_;
            fprintf(stderr, "\r\033[Korvo: %s ... %.1f s", what.c_str(), s);
            fflush(stderr);
            shown_ = true;
        }
    }
    bool enabled_;
    std::thread thread_;
    std::mutex m_;
    std::condition_variable cv_;
    std::string what_;
    std::chrono::steady_clock::time_point since_;
    bool busy_ = false, shown_ = false, stop_ = false;
};

Progress *g_progress = nullptr;

void run_line(orvo_cli::Interpreter &interp, const std::string &text, long lineno) {
    g_progress->begin(orvo_cli::strip_comment(text));
    interp.line(text, lineno);
    g_progress->end();
}

int run_stream(std::istream &in, orvo_cli::Interpreter &interp) {
    std::string text;
    long lineno = 0;
    while (!interp.quit() && std::getline(in, text)) {
        run_line(interp, text, ++lineno);
        orvo_cli::display_pump();
    }
    return interp.finish();
}

#ifdef ORVO_HAVE_LIBEDIT
// The interactive console: lines are edited with libedit while the host keeps
// running, so clocks and deferred work happen as time passes.
const char *const kPrompt = "orvo> ";
std::vector<std::string> g_pending;
bool g_done = false;

orvo_cli::Interpreter *g_interp = nullptr;

// Tab completion: statement words, box ids, class names and the messages of a
// box's class, by where the word stands in the line.
char *complete_next(const char *, int state) {
    static std::vector<std::string> matches;
    static size_t next = 0;
    if (state == 0) {
        matches = g_interp->completions(std::string(rl_line_buffer, (size_t)rl_point));
        next = 0;
    }
    return next < matches.size() ? strdup(matches[next++].c_str()) : nullptr;
}

char **complete(const char *text, int, int) {
    rl_attempted_completion_over = 1;  // never fall back to file names
    return rl_completion_matches(text, complete_next);
}

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
    g_interp = &interp;
    rl_attempted_completion_function = complete;
    rl_callback_handler_install(kPrompt, on_line);
    while (!g_done) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, 10) > 0) rl_callback_read_char();
        if (!g_pending.empty() || g_done) {
            for (auto &l : g_pending) {
                if (!interp.quit()) run_line(interp, l, ++lineno);
            }
            g_pending.clear();
            g_progress->begin("working");  // deferred work the lines asked for
            orvo::pump(0);
            g_progress->end();
            orvo_cli::display_pump();
            fflush(stdout);
            if (interp.quit()) g_done = true;
            if (!g_done) rl_callback_handler_install(kPrompt, on_line);
        } else {
            g_progress->begin("working");
            orvo::pump(0);
            g_progress->end();
            orvo_cli::display_pump();
        }
    }
    printf("\n");
    return interp.finish();
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
    if (!o.plugins.empty()) {
        DIR *d = opendir(o.plugins.c_str());
        if (!d) {
            fprintf(stderr, "orvo: cannot read plug-in folder %s: %s\n", o.plugins.c_str(), strerror(errno));
            return 2;
        }
        closedir(d);
    }
    bool interactive = false;
#ifdef ORVO_HAVE_LIBEDIT
    interactive = o.script.empty() && isatty(STDIN_FILENO);
#endif
    Progress progress;
    g_progress = &progress;

    orvo::runtime_start(interactive);
    orvo::dialog_lines(true);
    orvo::set_sr(o.sr);
    for (auto &d : o.search) orvo::add_search_dir(d);
    orvo::load_plugins(o.plugins.empty() ? orvo::default_plugin_dir() : o.plugins);
    orvo_cli::display_start(o.headless, o.display);

    orvo_cli::Interpreter interp(interactive);
    if (interactive) {
#ifdef ORVO_HAVE_LIBEDIT
        rc = run_interactive(interp);
#endif
    } else if (!o.script.empty()) {
        rc = run_stream(script, interp);
    } else {
        // Standard input is read as it comes, so that windows answer between lines.
        auto run = [&](const std::string &text, long lineno) { run_line(interp, text, lineno); };
        rc = orvo_cli::display_shown() ? orvo_cli::display_run_fd(STDIN_FILENO, interp, run)
                                       : run_stream(std::cin, interp);
    }
    orvo_cli::display_stop();
    fflush(stdout);
    orvo::runtime_stop();
    return rc;
}
