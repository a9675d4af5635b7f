#include "help.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "orvo/runtime.h"

namespace orvo_cli {

extern const char *const kReferenceMarkdown;  // generated from docs/messages.md

namespace {

struct Statement {
    const char *word;
    const char *usage;  // also the text after "usage: " when a statement is malformed
    const char *what;
};

const Statement kStatements[] = {
    {"new", "new ID CLASS [ARGS...]", "create a box with creation arguments"},
    {"free", "free ID", "delete a box"},
    {"sched", "sched ID SELECTOR [ARGS...]", "send a message on the scheduler thread"},
    {"connect", "connect ID OUTLET ID2", "connect an outlet (0 is the leftmost) to another box"},
    {"watch", "watch NAME", "print every notification sent under NAME"},
    {"wait", "wait [MS]", "advance scheduler time and run everything due"},
    {"dialog", "dialog open FILE | dialog save FILE [TYPE] | dialog cancel", "answer the next file dialog"},
    {"set", "set sr RATE | set edits refuse|allow | set failalloc N", "host settings"},
    {"info", "info ID", "a buffer~'s size, rate and state (and instrument data)"},
    {"peek", "peek ID INDEX [COUNT]", "print samples"},
    {"poke", "poke ID INDEX VALUE...", "change samples"},
    {"window", "window ID info|close|snapshot FILE.png|resize W H|move X Y|mouse CHANNEL X", "the editor window"},
    {"echo", "echo TEXT...", "print the text"},
    {"help", "help [STATEMENT | CLASS [MESSAGE]]", "this list; a statement; a class's messages; one in full"},
    {"quit", "quit", "end (so does the end of input)"},
};

// "USAGE   WHAT", the usages of one column where they are short.
std::string statement_line(const Statement &s) {
    std::string u = s.usage;
    return u + std::string(u.size() < 28 ? 30 - u.size() : 3, ' ') + s.what;
}

bool starts_with(const std::string &s, const std::string &p) { return s.compare(0, p.size(), p) == 0; }

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && isspace((unsigned char)s[b])) ++b;
    while (e > b && isspace((unsigned char)s[e - 1])) --e;
    return s.substr(b, e - b);
}

// Markdown's backticks and emphasis are noise on a console.
std::string plain(const std::string &s) {
    std::string out;
    for (char c : s)
        if (c != '`') out += c;
    return out;
}

std::string pad(std::string s, size_t width) {
    if (s.size() < width) s.append(width - s.size(), ' ');
    else s += "  ";
    return s;
}

std::vector<std::string> overview() {
    std::vector<std::string> out{"statements:"};
    for (const Statement &s : kStatements) out.push_back("  " + statement_line(s));
    std::string boxes;
    for (const std::string &c : orvo::class_names("box")) boxes += " " + c;
    out.push_back("classes (new ID CLASS ...):" + boxes);
    if (orvo::class_exists("nobox", "waveform~")) out.push_back("in editor windows: waveform~");
    out.push_back("help CLASS lists its messages; help CLASS MESSAGE shows one in full.");
    return out;
}

std::vector<std::string> class_help(const std::string &cls, const std::string &ns,
                                    const std::vector<RefEntry> &ref) {
    orvo::ClassDesc desc;
    if (!orvo::class_describe(ns, cls, &desc)) return {};
    auto find = [&](const std::string &name, bool attr) -> const RefEntry * {
        for (const RefEntry &e : ref)
            if (e.cls == cls && e.name == name && (e.kind == "attributes") == attr) return &e;
        return nullptr;
    };
    std::vector<std::string> out{cls + " messages:"};
    std::string others;
    for (const orvo::MessageDesc &m : desc.messages) {
        if (m.is_private) {
            others += " " + m.name;
            continue;
        }
        const RefEntry *e = find(m.name, false);
        // A message that takes any list says what it takes in the reference's words.
        std::string args = m.args == "..." && e && e->usage.size() > m.name.size()
                               ? plain(e->usage.substr(m.name.size() + 1))
                               : m.args;
        std::string head = "  " + m.name + (args.empty() ? "" : " " + args);
        out.push_back(pad(head, 34) + (e ? plain(e->line) : "(not in the reference)"));
    }
    if (!desc.attributes.empty()) {
        out.push_back(cls + " attributes (@NAME VALUE at creation, or the message NAME VALUE):");
        for (const orvo::AttrDesc &a : desc.attributes) {
            const RefEntry *e = find(a.name, true);
            out.push_back(pad("  " + a.name + " " + a.type, 34) + (e ? plain(e->line) : "(not in the reference)"));
        }
    }
    if (!others.empty()) out.push_back("called directly by other objects, not typed:" + others);
    out.push_back("help " + cls + " MESSAGE shows one in full: its arguments, error texts and an example.");
    return out;
}

}  // namespace

const std::string &reference_text() {
    static const std::string text(kReferenceMarkdown);
    return text;
}

std::vector<RefEntry> reference_entries(const std::string &text) {
    std::vector<RefEntry> out;
    std::istringstream in(text);
    std::string line, cls, kind;
    RefEntry *open = nullptr;
    bool want_line = false;
    while (std::getline(in, line)) {
        if (starts_with(line, "## ") || starts_with(line, "# ")) {
            open = nullptr;
            cls.clear();
            std::istringstream words(line);
            std::string hashes, c, k, rest;
            words >> hashes >> c >> k;
            std::getline(words, rest);
            rest = trim(rest);
            if (hashes == "##" && k == "messages" && rest.empty()) cls = c, kind = "messages";
            if (hashes == "##" && k == "messages" && rest == "for other objects") cls = c, kind = "private";
            if (hashes == "##" && k == "attributes" && rest.empty()) cls = c, kind = "attributes";
            continue;
        }
        if (starts_with(line, "### ")) {
            open = nullptr;
            if (cls.empty()) continue;
            std::string h = line.substr(4);
            size_t a = h.find('`'), b = a == std::string::npos ? a : h.find('`', a + 1);
            if (b == std::string::npos) continue;
            std::string usage = trim(h.substr(a + 1, b - a - 1));
            std::string name = usage.substr(0, usage.find(' '));
            out.push_back(RefEntry{cls, kind, name, usage, "", line});
            open = &out.back();
            want_line = true;
            continue;
        }
        if (!open) continue;
        open->body += "\n" + line;
        if (want_line && !trim(line).empty()) {
            open->line = trim(line);
            want_line = false;
        }
    }
    for (RefEntry &e : out) {
        while (!e.body.empty() && isspace((unsigned char)e.body.back())) e.body.pop_back();
    }
    return out;
}

std::vector<std::string> help_lines(const std::vector<std::string> &words) {
    if (words.empty()) return overview();
    if (words.size() == 1) {
        for (const Statement &s : kStatements)
            if (words[0] == s.word) return {statement_line(s)};
    }
    const std::string &cls = words[0];
    std::string ns = orvo::class_exists("box", cls) ? "box" : orvo::class_exists("nobox", cls) ? "nobox" : "";
    if (ns.empty() || words.size() > 2) return {};
    std::vector<RefEntry> ref = reference_entries(reference_text());
    if (words.size() == 1) return class_help(cls, ns, ref);
    std::vector<std::string> out;
    for (const RefEntry &e : ref) {
        if (e.cls != cls || e.name != words[1]) continue;
        std::istringstream body(e.body);
        std::string l;
        while (std::getline(body, l)) {
            if (starts_with(l, "### ")) l = l.substr(4);
            out.push_back(plain(l));
        }
    }
    return out;
}

std::string statement_usage(const std::string &word) {
    for (const Statement &s : kStatements)
        if (word == s.word) return s.usage;
    return word;
}

const std::vector<std::string> &statement_words() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        for (const Statement &s : kStatements) w.push_back(s.word);
        return w;
    }();
    return words;
}

}  // namespace orvo_cli
