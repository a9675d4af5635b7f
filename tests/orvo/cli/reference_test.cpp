// The message reference compiled into orvo against the classes as registered:
// every message and attribute is described, and nothing described is missing.
#include <set>
#include <string>
#include <vector>

#include "orvo/cli/help.h"
#include "orvo_test.h"

namespace {

using Names = std::set<std::string>;

TEST(Reference, NamesTheRegisteredMessagesAndAttributesBothWays) {
    orvo_test::ensure_runtime();
    const std::vector<orvo_cli::RefEntry> ref = orvo_cli::reference_entries(orvo_cli::reference_text());
    const struct {
        const char *name_space, *cls;
    } classes[] = {{"box", "buffer~"}, {"box", "print"}, {"nobox", "waveform~"}};

    Names described_classes;
    for (const auto &e : ref) {
        described_classes.insert(e.cls);
        EXPECT_FALSE(e.line.empty()) << e.cls << " " << e.name << " has no one-line description";
    }
    Names registered_classes;
    for (const auto &c : classes) {
        registered_classes.insert(c.cls);
        orvo::ClassDesc desc;
        ASSERT_TRUE(orvo::class_describe(c.name_space, c.cls, &desc)) << c.cls;
        Names messages, private_messages, attributes;
        for (const auto &m : desc.messages) (m.is_private ? private_messages : messages).insert(m.name);
        for (const auto &a : desc.attributes) attributes.insert(a.name);
        Names ref_messages, ref_private, ref_attributes;
        for (const auto &e : ref) {
            if (e.cls != c.cls) continue;
            Names &into = e.kind == "messages" ? ref_messages : e.kind == "private" ? ref_private : ref_attributes;
            EXPECT_TRUE(into.insert(e.name).second) << c.cls << " " << e.name << " is described twice";
        }
        EXPECT_EQ(ref_messages, messages) << c.cls << ": typed messages";
        EXPECT_EQ(ref_private, private_messages) << c.cls << ": messages for other objects";
        EXPECT_EQ(ref_attributes, attributes) << c.cls << ": attributes";
    }
    EXPECT_EQ(described_classes, registered_classes);
}

TEST(Reference, HelpListsTheTableWithTheReferenceLines) {
    orvo_test::ensure_runtime();
    std::vector<std::string> lines = orvo_cli::help_lines({"buffer~"});
    auto has = [&](const std::string &start, const std::string &text) {
        for (const auto &l : lines)
            if (l.rfind(start, 0) == 0 && l.find(text) != std::string::npos) return true;
        return false;
    };
    // Argument types from the table; any-list messages in the reference's words.
    EXPECT_TRUE(has("  setsize float [int] ", "Resize the buffer to a duration")) << ::testing::PrintToString(lines);
    EXPECT_TRUE(has("  write [symbol] ", "Write the whole buffer"));
    EXPECT_TRUE(has("  crop START END ", "Keep the part from START"));
    EXPECT_TRUE(has("  padding long ", "only grows"));
    EXPECT_TRUE(has("called directly by other objects", " resizeandcopy"));
    for (const auto &l : lines) EXPECT_EQ(l.find("(not in the reference)"), std::string::npos) << l;

    EXPECT_TRUE(orvo_cli::help_lines({"nosuch"}).empty());
    EXPECT_EQ(orvo_cli::help_lines({"wait"}).size(), 1u);
    EXPECT_TRUE(orvo_cli::help_lines({"buffer~", "crop", "more"}).empty());
    lines = orvo_cli::help_lines({"buffer~", "crop"});
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0], "crop START END");
    EXPECT_TRUE(has("", "\"nothing to crop\""));
}

}  // namespace
