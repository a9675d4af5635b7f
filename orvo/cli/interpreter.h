// The statement language of the orvo command: one statement per line, words
// split like host messages, '#' starts a comment.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "orvo/runtime.h"

namespace orvo_cli {

class Interpreter {
  public:
    explicit Interpreter(bool realtime) : realtime_(realtime), atoms_(kMaxAtoms) {}
    // Runs one line. False when it was malformed (reported as "orvo: line N: WHAT").
    bool line(const std::string &text, long lineno);
    // What the end of input does: run everything that is due now. The command's exit
    // status: 1 when any line was malformed, else 0.
    int finish();
    // A "quit" statement was run.
    bool quit() const { return quit_; }
    // What may follow the text before the cursor: statement words, box ids,
    // classes, or the messages of a box's class, by position.
    std::vector<std::string> completions(const std::string &before) const;

  private:
    static constexpr long kMaxAtoms = 16384;
    bool fail(const std::string &what);
    t_object *box(const t_atom &id);
    bool st_new(long argc, t_atom *argv);
    bool st_free(long argc, t_atom *argv);
    bool st_send(long argc, t_atom *argv, bool on_scheduler);
    bool st_connect(long argc, t_atom *argv);
    bool st_watch(long argc, t_atom *argv);
    bool st_wait(long argc, t_atom *argv);
    bool st_dialog(long argc, t_atom *argv);
    bool st_set(long argc, t_atom *argv);
    bool st_info(long argc, t_atom *argv);
    bool st_peek(long argc, t_atom *argv);
    bool st_poke(long argc, t_atom *argv);
    bool st_window(long argc, t_atom *argv);  // window.cpp
    bool st_help(long argc, t_atom *argv);

    bool realtime_;
    bool malformed_ = false;
    bool quit_ = false;
    long lineno_ = 0;
    std::vector<t_atom> atoms_;
    std::map<std::string, t_object *> boxes_;
};

// The text of an atom used as a name (a word, or an integer written as one).
std::string atom_word(const t_atom &a);
// The line without its comment ('#' outside double quotes), trimmed.
std::string strip_comment(const std::string &text);

}  // namespace orvo_cli
