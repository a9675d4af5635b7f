// File dialogs. There is no window system: every dialog takes the next answer
// queued by the script or test (dialog_answer_*) and is cancelled when none is.
#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>

#include "files_internal.h"
#include "orvo/runtime.h"

namespace fs = std::filesystem;

namespace orvo::detail {
namespace {

struct Answer {
    bool cancel;
    std::string file;
    t_fourcc type;
};

struct Dialogs {
    std::mutex m;
    std::deque<Answer> answers;
    bool autoextension = false;  // settings for the next save dialog only
    t_fourcc selected = 0;
    SaveDialogOffer last{};
    bool lines = false;  // print what each dialog showed
};

Dialogs &dialogs() {
    static Dialogs *d = new Dialogs;
    return *d;
}

// The next answer, or a cancel when none is queued.
Answer next_answer() {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    if (D.answers.empty()) return Answer{true, {}, 0};
    Answer a = D.answers.front();
    D.answers.pop_front();
    return a;
}

void say(const std::string &line) {
    Dialogs &D = dialogs();
    bool on;
    {
        std::lock_guard lk(D.m);
        on = D.lines;
    }
    if (on) orvo::console_line(line);
}

// A code as the console shows it: its letters, without the blanks that pad "Mp3 ".
std::string code_text(t_fourcc t) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) s += (char)((t >> shift) & 0xFF);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// What a dialog showed, as one console line: "dialog: save "NAME" types A B selected A".
std::string shown(const char *kind, const char *name, const t_fourcc *types, short ntypes, t_fourcc selected) {
    std::string line = std::string("dialog: ") + kind;
    if (name) line += std::string(" \"") + name + "\"";
    line += " types";
    for (short i = 0; types && i < ntypes; ++i) line += " " + code_text(types[i]);
    if (selected) line += " selected " + code_text(selected);
    return line;
}

bool listed(t_fourcc t, const t_fourcc *types, short ntypes) {
    for (short i = 0; types && i < ntypes; ++i)
        if (types[i] == t) return true;
    return false;
}

}  // namespace

void init_dialogs() {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.answers.clear();
    D.autoextension = false;
    D.selected = 0;
    D.last = SaveDialogOffer{};
}

}  // namespace orvo::detail

using namespace orvo::detail;

extern "C" {

short open_dialog(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes) {
    Answer a = next_answer();
    std::string line = shown("open", nullptr, types, ntypes, 0);
    if (a.cancel) {
        say(line + " cancelled");
        return 1;
    }
    Located l;
    if (!locate(a.file, types, ntypes, &l)) {  // a file the dialog would not have shown
        say(line + " cancelled");
        say("dialog: no file " + a.file);
        return 1;
    }
    say(line);
    copy_name(name, l.file);
    if (path) *path = l.path;
    if (type) *type = l.type;
    return 0;
}

void saveas_autoextension(char on) {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.autoextension = on != 0;
}

void saveas_setselectedtype(t_fourcc type) {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.selected = type;
}

short saveasdialog_extended(char *name, short *path, t_fourcc *type, const t_fourcc *types, short ntypes) {
    Dialogs &D = dialogs();
    bool autoext;
    t_fourcc selected;
    {
        std::lock_guard lk(D.m);
        D.last.default_name = name ? name : "";
        D.last.types.assign(types, types + (types && ntypes > 0 ? ntypes : 0));
        // The list is all the user can pick from: a preselection outside it selects its first type.
        const auto &offered = D.last.types;
        selected = D.selected ? D.selected : type ? *type : 0;
        if (!offered.empty() && std::find(offered.begin(), offered.end(), selected) == offered.end())
            selected = offered.front();
        D.last.selected = D.selected ? selected : 0;
        D.last.autoextension = D.autoextension;
        autoext = D.autoextension;
        D.autoextension = false;
        D.selected = 0;
    }
    Answer a = next_answer();
    std::string line = shown("save", name ? name : "", types, ntypes, selected);
    if (a.cancel || a.file.empty()) {
        say(line + " cancelled");
        return 1;
    }

    fs::path full(absolute_of(a.file));
    std::error_code ec;
    if (!fs::is_directory(full.parent_path(), ec)) {
        say(line + " cancelled");
        say("dialog: no folder " + full.parent_path().string());
        return 1;
    }
    // A name typed with a listed type's extension picks that type, as in a real dialog.
    t_fourcc typed = extension_type(a.file);
    if (!a.type && typed && listed(typed, types, ntypes)) a.type = typed;
    t_fourcc chosen = a.type ? a.type : selected;
    say(line);
    std::string file = full.filename().string();
    const char *ext = type_extension(chosen);
    if (autoext && *ext && file.find('.') == std::string::npos) file += std::string(".") + ext;

    short id = folder_id(full.parent_path().string());
    if (!id) return 1;
    copy_name(name, file);
    if (path) *path = id;
    if (type) *type = chosen;
    return 0;
}

}  // extern "C"

namespace orvo {

void dialog_answer_open(const std::string &file) {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.answers.push_back(Answer{false, file, 0});
}

void dialog_answer_save(const std::string &file, t_fourcc type) {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.answers.push_back(Answer{false, file, type});
}

void dialog_answer_cancel() {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.answers.push_back(Answer{true, {}, 0});
}

void dialog_lines(bool on) {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    D.lines = on;
}

SaveDialogOffer last_save_offer() {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    return D.last;
}

}  // namespace orvo
