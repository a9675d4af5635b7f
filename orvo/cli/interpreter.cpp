#include "interpreter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "help.h"

namespace orvo_cli {

namespace {

bool is_statement_word(const std::string &w) {
    for (const std::string &s : statement_words())
        if (w == s) return true;
    return false;
}

bool is_number(const t_atom &a) { return a.a_type == A_LONG || a.a_type == A_FLOAT; }

std::string format(const char *fmt, double v) {
    char buf[64];
    snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// "WAVE" -> its code; false unless the word has exactly four characters.
bool parse_fourcc(const t_atom &a, t_fourcc *out) {
    std::string w = atom_word(a);
    if (w.size() != 4) return false;
    *out = FOURCC(w[0], w[1], w[2], w[3]);
    return true;
}

}  // namespace

std::string atom_word(const t_atom &a) {
    if (a.a_type == A_SYM && a.a_w.w_sym) return a.a_w.w_sym->s_name;
    if (a.a_type == A_LONG) return std::to_string(a.a_w.w_long);
    if (a.a_type == A_FLOAT) return format("%g", a.a_w.w_float);
    return "";
}

std::string strip_comment(const std::string &text) {
    bool quoted = false;
    size_t end = text.size();
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == '#' && !quoted) {
            end = i;
            break;
        }
    }
    size_t b = 0;
    while (b < end && isspace((unsigned char)text[b])) ++b;
    while (end > b && isspace((unsigned char)text[end - 1])) --end;
    return text.substr(b, end - b);
}

bool Interpreter::fail(const std::string &what) {
    orvo::console_line("orvo: line " + std::to_string(lineno_) + ": " + what);
    malformed_ = true;
    return false;
}

t_object *Interpreter::box(const t_atom &id) {
    auto it = boxes_.find(atom_word(id));
    return it == boxes_.end() ? nullptr : it->second;
}

bool Interpreter::line(const std::string &raw, long lineno) {
    lineno_ = lineno;
    std::string text = strip_comment(raw);
    if (text.empty()) return true;

    // echo prints its text as written, before any splitting into words.
    if (text.compare(0, 4, "echo") == 0 && (text.size() == 4 || isspace((unsigned char)text[4]))) {
        size_t b = 4;
        while (b < text.size() && isspace((unsigned char)text[b])) ++b;
        orvo::console_line(text.substr(b));
        return true;
    }

    long argc = kMaxAtoms;
    t_atom *argv = atoms_.data();
    if (atom_setparse(&argc, &argv, text.c_str()) != 0 || argc < 1) return fail("cannot parse line");
    if (argc >= kMaxAtoms) return fail("more than " + std::to_string(kMaxAtoms - 1) + " words on one line");

    std::string head = atom_word(argv[0]);
    if (argv[0].a_type == A_SYM) {
        if (head == "new") return st_new(argc - 1, argv + 1);
        if (head == "free") return st_free(argc - 1, argv + 1);
        if (head == "sched") return st_send(argc - 1, argv + 1, true);
        if (head == "connect") return st_connect(argc - 1, argv + 1);
        if (head == "watch") return st_watch(argc - 1, argv + 1);
        if (head == "wait") return st_wait(argc - 1, argv + 1);
        if (head == "dialog") return st_dialog(argc - 1, argv + 1);
        if (head == "set") return st_set(argc - 1, argv + 1);
        if (head == "info") return st_info(argc - 1, argv + 1);
        if (head == "peek") return st_peek(argc - 1, argv + 1);
        if (head == "poke") return st_poke(argc - 1, argv + 1);
        if (head == "window") return st_window(argc - 1, argv + 1);
        if (head == "help") return st_help(argc - 1, argv + 1);
        if (head == "quit") {
            if (argc != 1) return fail("usage: " + statement_usage("quit"));
            quit_ = true;
            return true;
        }
    }
    return st_send(argc, argv, false);
}

int Interpreter::finish() {
    orvo::await_work();
    orvo::advance(0);
    return malformed_ ? 1 : 0;
}

bool Interpreter::st_new(long argc, t_atom *argv) {
    if (argc < 2 || argv[1].a_type != A_SYM) return fail("usage: " + statement_usage("new"));
    std::string id = atom_word(argv[0]);
    if (id.empty() || argv[0].a_type == A_FLOAT) return fail("a box ID is a word or an integer");
    if (is_statement_word(id)) return fail("\"" + id + "\" is a statement word, not a box ID");
    if (boxes_.count(id)) return fail("box \"" + id + "\" exists already");
    if (!orvo::class_exists("box", argv[1].a_w.w_sym->s_name))
        return fail(std::string("no class \"") + argv[1].a_w.w_sym->s_name + "\"");
    auto *x = static_cast<t_object *>(
        object_new_typed(common_symbols_gettable()->s_box, argv[1].a_w.w_sym, argc - 2, argv + 2));
    if (!x) return fail(std::string("cannot create \"") + argv[1].a_w.w_sym->s_name + "\"");
    boxes_[id] = x;
    orvo::console_box_id(x, id);
    return true;
}

bool Interpreter::st_help(long argc, t_atom *argv) {
    std::vector<std::string> words;
    for (long i = 0; i < argc; ++i) words.push_back(atom_word(argv[i]));
    std::vector<std::string> lines = help_lines(words);
    if (lines.empty()) {
        std::string topic;
        for (auto &w : words) topic += (topic.empty() ? "" : " ") + w;
        return fail("no help for \"" + topic + "\" (help lists the classes)");
    }
    for (auto &l : lines) orvo::console_line(l);
    return true;
}

std::vector<std::string> Interpreter::completions(const std::string &before) const {
    std::vector<std::string> words;
    {
        std::string w;
        for (char c : before) {
            if (isspace((unsigned char)c)) {
                if (!w.empty()) words.push_back(w), w.clear();
            } else {
                w += c;
            }
        }
        words.push_back(w);  // the word being completed, maybe empty
    }
    const std::string &partial = words.back();
    size_t n = words.size() - 1;  // words before the one being completed
    std::vector<std::string> pool;
    auto ids = [&] {
        for (auto &[id, x] : boxes_) pool.push_back(id);
    };
    auto messages_of = [&](const std::string &cls) {
        orvo::ClassDesc d;
        if (!orvo::class_describe("box", cls, &d) && !orvo::class_describe("nobox", cls, &d)) return;
        for (auto &m : d.messages)
            if (!m.is_private) pool.push_back(m.name);
        for (auto &a : d.attributes) pool.push_back(a.name);
    };
    auto class_of = [&](const std::string &id) -> std::string {
        auto it = boxes_.find(id);
        t_symbol *cls = it == boxes_.end() ? nullptr : object_classname(it->second);
        return cls ? cls->s_name : "";
    };
    const std::string first = n ? words[0] : "";
    if (n == 0) {
        pool = statement_words();
        ids();
    } else if (n == 1 && (first == "free" || first == "sched" || first == "connect" || first == "info" ||
                          first == "peek" || first == "poke" || first == "window")) {
        ids();
    } else if (n == 1 && first == "help") {
        pool = orvo::class_names("box");
        pool.push_back("waveform~");
    } else if (n == 2 && first == "help") {
        messages_of(words[1]);
    } else if (n == 2 && first == "new") {
        pool = orvo::class_names("box");
    } else if (n == 2 && first == "sched") {
        messages_of(class_of(words[1]));
    } else if (n == 3 && first == "connect") {
        ids();
    } else if (n == 1 && boxes_.count(first)) {
        messages_of(class_of(first));
    }
    std::vector<std::string> out;
    for (auto &p : pool)
        if (p.compare(0, partial.size(), partial) == 0) out.push_back(p);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

bool Interpreter::st_free(long argc, t_atom *argv) {
    if (argc != 1) return fail("usage: " + statement_usage("free"));
    auto it = boxes_.find(atom_word(argv[0]));
    if (it == boxes_.end()) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    t_object *x = it->second;
    boxes_.erase(it);
    object_free(x);
    return true;
}

bool Interpreter::st_send(long argc, t_atom *argv, bool on_scheduler) {
    const std::string usage = "usage: " + (on_scheduler ? statement_usage("sched") : "ID SELECTOR [ARGS...]");
    if (argc < 1) return fail(usage);
    t_object *x = box(argv[0]);
    if (!x) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    if (argc < 2) return fail(usage);
    // A number alone is a message of its own type, as from a number box.
    t_symbol *sel;
    long n;
    t_atom *args;
    if (argv[1].a_type == A_SYM) {
        sel = argv[1].a_w.w_sym;
        n = argc - 2;
        args = argv + 2;
    } else if (is_number(argv[1])) {
        sel = gensym(argv[1].a_type == A_LONG ? (argc > 2 ? "list" : "int") : (argc > 2 ? "list" : "float"));
        n = argc - 1;
        args = argv + 1;
    } else {
        return fail("a selector is a word");
    }
    // The console has already reported a message the box does not take; that is
    // the patch's business, not a malformed line.
    if (on_scheduler)
        orvo::run_on_scheduler([&] { object_method_typed(x, sel, n, args, nullptr); });
    else
        object_method_typed(x, sel, n, args, nullptr);
    return true;
}

bool Interpreter::st_connect(long argc, t_atom *argv) {
    if (argc != 3 || argv[1].a_type != A_LONG) return fail("usage: " + statement_usage("connect"));
    t_object *from = box(argv[0]);
    if (!from) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    t_object *to = box(argv[2]);
    if (!to) return fail("unknown box \"" + atom_word(argv[2]) + "\"");
    if (!orvo::connect(from, (long)argv[1].a_w.w_long, to, 0))
        return fail("no outlet " + std::to_string(argv[1].a_w.w_long) + " on \"" + atom_word(argv[0]) + "\"");
    return true;
}

bool Interpreter::st_watch(long argc, t_atom *argv) {
    if (argc != 1 || atom_word(argv[0]).empty()) return fail("usage: " + statement_usage("watch"));
    if (!orvo::watch(atom_word(argv[0]))) return fail("cannot watch \"" + atom_word(argv[0]) + "\"");
    return true;
}

bool Interpreter::st_wait(long argc, t_atom *argv) {
    if (argc > 1 || (argc == 1 && (!is_number(argv[0]) || atom_getfloat(argv) < 0))) return fail("usage: " + statement_usage("wait"));
    orvo::await_work();  // loads in the background end first, so that scripts stay repeatable
    orvo::advance(argc ? (long)atom_getlong(argv) : 0);
    return true;
}

bool Interpreter::st_dialog(long argc, t_atom *argv) {
    const std::string usage = "usage: " + statement_usage("dialog");
    std::string what = argc ? atom_word(argv[0]) : "";
    if (what == "cancel" && argc == 1) {
        orvo::dialog_answer_cancel();
        return true;
    }
    if (what == "open" && argc == 2) {
        orvo::dialog_answer_open(atom_word(argv[1]));
        return true;
    }
    if (what == "save" && (argc == 2 || argc == 3)) {
        t_fourcc type = 0;
        if (argc == 3 && !parse_fourcc(argv[2], &type)) return fail("a file type has four letters");
        orvo::dialog_answer_save(atom_word(argv[1]), type);
        return true;
    }
    return fail(usage);
}

bool Interpreter::st_set(long argc, t_atom *argv) {
    std::string what = argc == 2 ? atom_word(argv[0]) : "";
    if (what == "sr" && is_number(argv[1])) {
        double sr = atom_getfloat(argv + 1);
        if (!(sr >= 0 && sr <= 1e7)) return fail("a sample rate is 0 (none) or a positive rate up to 10000000");
        orvo::set_sr(sr);
        return true;
    }
    if (what == "edits") {
        std::string v = atom_word(argv[1]);
        if (v == "refuse" || v == "allow") {
            orvo::set_edits_refused(v == "refuse");
            return true;
        }
    }
    if (what == "failalloc" && argv[1].a_type == A_LONG && argv[1].a_w.w_long >= 0) {
        orvo::mem_fail_next((long)argv[1].a_w.w_long);
        return true;
    }
    return fail("usage: " + statement_usage("set"));
}

bool Interpreter::st_info(long argc, t_atom *argv) {
    if (argc != 1) return fail("usage: " + statement_usage("info"));
    t_object *x = box(argv[0]);
    if (!x) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    t_buffer *b = orvo::buffer_record(x);
    if (!b) return fail("\"" + atom_word(argv[0]) + "\" is not a buffer~");
    char buf[512];
    snprintf(buf, sizeof buf, "%s: name %s frames %lld chans %lld size %lld sr %g ms %.17g valid %lld owner %d",
             atom_word(argv[0]).c_str(), b->b_name ? b->b_name->s_name : "", (long long)b->b_frames,
             (long long)b->b_nchans, (long long)b->b_size, (double)b->b_sr,
             (double)b->b_frames * ((double)b->b_1oversr * 1000.0), (long long)b->b_valid, (int)b->b_isowner);
    orvo::console_line(buf);
    // Loop points and instrument settings of the last AIFF or AIFC file read, as stored.
    if (b->b_susloopstart || b->b_susloopend || b->b_relloopstart || b->b_relloopend || b->b_basepitch ||
        b->b_detune || b->b_lowpitch || b->b_highpitch || b->b_lowvel || b->b_highvel || b->b_gain) {
        snprintf(buf, sizeof buf,
                 "%s: instrument sustain %lld %lld release %lld %lld basepitch %d detune %d pitch %d %d velocity %d "
                 "%d gain %d",
                 atom_word(argv[0]).c_str(), (long long)b->b_susloopstart, (long long)b->b_susloopend,
                 (long long)b->b_relloopstart, (long long)b->b_relloopend, b->b_basepitch, b->b_detune,
                 b->b_lowpitch, b->b_highpitch, b->b_lowvel, b->b_highvel, b->b_gain);
        orvo::console_line(buf);
    }
    return true;
}

bool Interpreter::st_peek(long argc, t_atom *argv) {
    if (argc < 2 || argc > 3 || argv[1].a_type != A_LONG || (argc == 3 && argv[2].a_type != A_LONG))
        return fail("usage: " + statement_usage("peek"));
    t_object *x = box(argv[0]);
    if (!x) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    t_buffer *b = orvo::buffer_record(x);
    if (!b) return fail("\"" + atom_word(argv[0]) + "\" is not a buffer~");
    t_atom_long first = argv[1].a_w.w_long, count = argc == 3 ? argv[2].a_w.w_long : 1;
    if (!b->b_samples || first < 0 || count < 1 || first > b->b_size - count) return fail("index out of range");
    std::string id = atom_word(argv[0]);
    for (t_atom_long i = first; i < first + count; ++i) {
        char buf[96];
        snprintf(buf, sizeof buf, "%s[%lld] = %.9g", id.c_str(), (long long)i, (double)b->b_samples[i]);
        orvo::console_line(buf);
    }
    return true;
}

bool Interpreter::st_poke(long argc, t_atom *argv) {
    if (argc < 3 || argv[1].a_type != A_LONG) return fail("usage: " + statement_usage("poke"));
    for (long i = 2; i < argc; ++i)
        if (!is_number(argv[i])) return fail("usage: " + statement_usage("poke"));
    t_object *x = box(argv[0]);
    if (!x) return fail("unknown box \"" + atom_word(argv[0]) + "\"");
    t_buffer *b = orvo::buffer_record(x);
    if (!b) return fail("\"" + atom_word(argv[0]) + "\" is not a buffer~");
    t_atom_long first = argv[1].a_w.w_long, count = argc - 2;
    if (!b->b_samples || first < 0 || first > b->b_size - count) return fail("index out of range");
    for (t_atom_long i = 0; i < count; ++i) b->b_samples[first + i] = (float)atom_getfloat(argv + 2 + i);
    object_method(x, gensym("dirty"));
    return true;
}

}  // namespace orvo_cli
