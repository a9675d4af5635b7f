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
    if (a.cancel) return 1;
    Located l;
    if (!locate(a.file, types, ntypes, &l)) return 1;  // a file the dialog would not have shown
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
    if (a.cancel || a.file.empty()) return 1;

    fs::path full(absolute_of(a.file));
    std::error_code ec;
    if (!fs::is_directory(full.parent_path(), ec)) return 1;
    t_fourcc chosen = a.type ? a.type : selected;
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

SaveDialogOffer last_save_offer() {
    Dialogs &D = dialogs();
    std::lock_guard lk(D.m);
    return D.last;
}

}  // namespace orvo
