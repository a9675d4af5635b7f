// Tab completion of the console: what may stand at each place of a statement.
#include <string>
#include <vector>

#include "orvo/cli/interpreter.h"
#include "orvo_test.h"

namespace {

using Words = std::vector<std::string>;

TEST(Completion, OffersWhatFitsWhereTheWordStands) {
    orvo_test::ensure_runtime();
    orvo::console_capture(true);
    orvo_cli::Interpreter interp(false);
    ASSERT_TRUE(interp.line("new drums buffer~ d 10 1", 1));
    ASSERT_TRUE(interp.line("new p print", 2));
    const struct {
        const char *before;
        Words want;
    } cases[] = {
        {"d", {"dialog", "drums"}},                          // statement words and box ids
        {"drums no", {"normalize"}},                         // the messages of the box's class
        {"drums s", {"samps", "samptype", "set", "setsize", "size", "sizeinsamps", "sr"}},  // and its attributes
        {"drums rel", {}},                                   // messages for other objects are not typed
        {"sched drums wc", {"wclose"}},
        {"free ", {"drums", "p"}},
        {"connect drums 1 ", {"drums", "p"}},
        {"new x b", {"buffer~"}},
        {"help w", {"waveform~"}},
        {"help print f", {"float"}},
        {"drums fill ", {}},                                 // arguments are not guessed
    };
    for (const auto &c : cases) EXPECT_EQ(interp.completions(c.before), c.want) << '"' << c.before << '"';
    orvo::console_take();
    orvo::console_capture(false);
}

}  // namespace
