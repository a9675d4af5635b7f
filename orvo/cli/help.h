// The console's help: the statements, the registered classes, and for each
// class its message table as registered, with the one-line descriptions of
// the message reference (docs/messages.md, compiled in).
#pragma once
#include <string>
#include <vector>

namespace orvo_cli {

// The text of docs/messages.md as it was at build time.
const std::string &reference_text();

// One message or attribute described by the reference.
struct RefEntry {
    std::string cls;    // "buffer~"
    std::string kind;   // "messages", "attributes" or "private" (messages for other objects)
    std::string name;   // "crop"
    std::string usage;  // the heading's words: "crop START END"
    std::string line;   // the one-line description
    std::string body;   // the whole entry, heading included
};
// The entries of a reference text: the level-3 headings of the sections named
// "## CLASS messages", "## CLASS attributes" and "## CLASS messages for other objects".
std::vector<RefEntry> reference_entries(const std::string &text);

// What "help", "help STATEMENT", "help CLASS" and "help CLASS NAME" print; words holds what
// follows "help". Empty when the topic is unknown.
std::vector<std::string> help_lines(const std::vector<std::string> &words);

// The usage of a statement ("wait [MS]"), as help shows it.
std::string statement_usage(const std::string &word);
// The statement words of the language, for completion and help.
const std::vector<std::string> &statement_words();

}  // namespace orvo_cli
