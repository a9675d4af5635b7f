// The orvo command, run as a separate process on scripts written to temporary
// files; its output is compared exactly.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "orvo_test.h"

namespace {

using orvo_test::OrvoRun;

// The info line of a buffer~ with the given name, size and rate.
std::string info(const std::string &id, const std::string &name, long frames, long chans, float sr, int valid = 1) {
    char buf[256];
    snprintf(buf, sizeof buf, "%s: name %s frames %ld chans %ld size %ld sr %g ms %.17g valid %d owner 1\n", id.c_str(),
             name.c_str(), frames, chans, frames * chans, (double)sr, (double)frames * ((double)(1.0f / sr) * 1000.0),
             valid);
    return buf;
}

// What a user learns from the console: what each statement prints, which box
// spoke, what a dialog offered, and the windows' layout.
TEST(OrvoCli, Scripts) {
    orvo_test::TempDir dir;
    const std::string search = "--search '" + dir.path + "'", headless_display = "--display nowhere:99",
                      open_types = "types AIFF AIFC ULAW WAVE FLAC Sd2f QQQQ BINA NxTS Mp3 DATA M4a CAF",
                      headless = "b window: title snd rect 50 50 350 100 vscroll 0 views 1\n"
                                 "b view 1: snd channel 1 rect 0 0 350 100\n";
    orvo_test::write_sound(dir.file("tone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, std::vector<float>(6000, 0.5f),
                           48000);
    std::ofstream(dir.file("inst.aif"), std::ios::binary)
        << orvo_test::aiff_with_instrument({60, -5, 16, 112, 5, 127, -6, 1, 1, 2, 2, 3, 4});
    const struct {
        const char *what;
        bool with_plugins;
        std::string options, text, out;
        int status;
    } cases[] = {
        {"print boxes on both threads, comments, echo", false, "",
         "# a comment\n\n   \nnew p print hello  # trailing\nnew q print\np bang\np 5\np 2.5\np 1e-7\np int 3.7\n"
         "p foo 1 2.5 bar\n"
         "p \"two words\"\nsched q from scheduler 7\nq 1 2 3\necho   spaced    words  stay  \n"
         "echo \"quoted # not a comment\" # but this is\necho\nwait 10\nfree p\nq done\n",
         "hello: bang\nhello: 5\nhello: 2.5\nhello: 1e-07\nhello: 3\nhello: foo 1 2.5 bar\nhello: two words\nprint: from scheduler 7\n"
         "print: list 1 2 3\nspaced    words  stay\n\"quoted # not a comment\"\n\nprint: done\n",
         0},
        {"info, peek, poke", true, "", "new b buffer~ drums 10 2\ninfo b\npoke b 1 0.5 -0.25\npeek b 0 4\npeek b 881\n",
         info("b", "drums", 441, 2, 44100) + "b[0] = 0\nb[1] = 0.5\nb[2] = -0.25\nb[3] = 0\nb[881] = 0\n", 0},
        {"sample rate option and statement", true, "--sr 22050",
         "new a buffer~ one 100\ninfo a\nset sr 48000\nnew b buffer~ two 100\ninfo b\n",
         info("a", "one", 2205, 1, 22050) + info("b", "two", 4800, 1, 48000), 0},
        // A change on the main thread notifies at once; one on the scheduler
        // thread when the script waits, once per scheduler time.
        {"watch follows scheduler time", true, "",
         "new b buffer~ drums 10 1\nwatch drums\npoke b 0 1\necho --\nsched b fill 0.5\necho -- same time\n"
         "wait\nwait 5\nsched b fill 0.25\necho -- later\nwait\npeek b 0\nb printmodtime\n",
         "watch drums: buffer_modified\n--\n-- same time\n-- later\nwatch drums: buffer_modified\nb[0] = 0.25\n"
         "buffer~ (b): buffer~ drums: mod time 6\n",
         0},
        {"wait waits for a load in the background", true, search,
         "new a buffer~ tone 10 1 @async 1\nwatch tone\na replace tone.wav\nwait\ninfo a\npeek a 5999\n",
         "watch tone: buffer_modified\n" + info("a", "tone", 3000, 2, 48000) + "a[5999] = 0.5\n", 0},
        {"set edits, set failalloc", true, "",
         "new b buffer~ drums 10 1\nset edits refuse\nb sizeinsamps 20\ninfo b\nset edits allow\n"
         "b sizeinsamps 20\ninfo b\nset failalloc 1\nb sizeinsamps 30\ninfo b\n",
         "buffer~ (b): error: can't resize now\n" + info("b", "drums", 441, 1, 44100) +
             info("b", "drums", 20, 1, 44100) + "buffer~ (b): error: drums: not enough memory to resize\n" +
             info("b", "drums", 100, 1, 44100, 0),
         0},
        {"a box's id in its console lines; none without one", true, "",
         "new a buffer~ x 10 1\na read y.wav -7\na printmodtime\nfree a\nnew a print\na bang\n",
         "buffer~ (a): error: read: bad offset -7\nbuffer~ (a): buffer~ x: mod time 0\nprint: bang\n", 0},
        {"quit ends the script", true, "", "echo one\nquit\necho two\n", "one\n", 0},
        {"help with an unknown topic", true, "", "help nosuch\n",
         "orvo: line 1: no help for \"nosuch\" (help lists the classes)\n", 1},
        {"dialogs cancelled, answered and unanswered", true, "",
         "new a buffer~ x 10 1\ndialog cancel\na write\ndialog save out.wav\na write\na writeflac\n"
         "dialog open out.wav\na read\na read\n",
         "dialog: save \"Untitled.aif\" types AIFF WAVE DATA FLAC selected AIFF cancelled\n"
         "dialog: save \"Untitled.aif\" types AIFF WAVE DATA FLAC selected AIFF\n"
         "dialog: save \"Untitled.raw\" types FLAC selected FLAC cancelled\n"
         "dialog: open " + open_types + "\ndialog: open " + open_types + " cancelled\n",
         0},
        {"instrument data, only when there is some", true, search,
         "new a buffer~ x 10 1\ninfo a\na replace inst.aif\ninfo a\n",
         info("a", "x", 441, 1, 44100) + info("a", "x", 100, 1, 44100) +
             "a: instrument sustain 10 50 release 60 90 basepitch 60 detune -5 pitch 16 112 velocity 5 127 gain -6\n",
         0},
        {"the window statement acts on an open window only", true, "",
         "new b buffer~ snd 1000 2\nnew p print pos\nconnect b 0 p\nwindow b info\nb open\nwindow b resize 200 64\n"
         "window b info\nwindow b mouse 2 50\nwindow b mouse 3 50\nwindow b snapshot w.png\nwindow b close\n"
         "window b close\nwindow p info\n",
         "orvo: line 4: the window of \"b\" is not open\n"
         "b window: title snd rect 50 50 200 64 vscroll 0 views 2\n"
         "b view 1: snd channel 1 rect 0 0 200 32\nb view 2: snd channel 2 rect 0 32 200 32\npos: 250\n"
         "orvo: line 9: no channel 3 in the window of \"b\"\n"
         "orvo: line 12: the window of \"b\" is not open\norvo: line 13: \"p\" is not a buffer~\n",
         1},
        {"a display that cannot be opened leaves the windows headless", true, headless_display,
         "new b buffer~ snd 1000 1\nb open\nwindow b info\n",
         "orvo: cannot open display \"nowhere:99\"; windows stay headless\n" + headless, 0},
        {"no display asked for", true, "--headless " + headless_display,
         "new b buffer~ snd 1000 1\nb open\nwindow b info\n", headless, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.what);
        OrvoRun r = orvo_test::run_orvo_script(dir, c.text, c.options, c.with_plugins);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
    // "dialog save out.wav" picked WAVE from the extension although AIFF was selected.
    EXPECT_EQ(orvo_test::read_sound(dir.file("out.wav")).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
    EXPECT_GT(std::filesystem::file_size(dir.file("w.png")), 100u);
}

// Each malformed line is reported with its number and skipped; the run goes on and exits 1.
TEST(OrvoCli, MalformedLines) {
    const std::pair<std::string, std::string> bad[] = {
        {"nobody bang", "unknown box \"nobody\""},
        {"new", "usage: new ID CLASS [ARGS...]"},
        {"new p print", "box \"p\" exists already"},
        {"new wait print", "\"wait\" is a statement word, not a box ID"},
        {"new z nosuchclass", "no class \"nosuchclass\""},
        {"p", "usage: ID SELECTOR [ARGS...]"},
        {"connect p 0 p", "no outlet 0 on \"p\""},
        {"wait -3", "usage: wait [MS]"},
        {"dialog save out.wav WAV", "a file type has four letters"},
        {"set sr fast", "usage: set sr RATE | set edits refuse|allow | set failalloc N"},
        {"info p", "\"p\" is not a buffer~"},
        {"poke p 0", "usage: poke ID INDEX VALUE..."},
        {"sched", "usage: sched ID SELECTOR [ARGS...]"},
        {"peek b 882", "index out of range"},
        {"peek b 880 3", "index out of range"},
        {"poke b 881 1 2", "index out of range"},
        {"set sr -5", "a sample rate is 0 (none) or a positive rate up to 10000000"},
    };
    std::string text = "new p print\nnew b buffer~ drums 10 2\n", out;
    int lineno = 2;
    for (auto &[line, message] : bad) {
        text += line + "\n";
        out += "orvo: line " + std::to_string(++lineno) + ": " + message + "\n";
    }
    orvo_test::TempDir dir;
    OrvoRun r = orvo_test::run_orvo_script(dir, text + "p still running\n");
    EXPECT_EQ(r.out, out + "print: still running\n");
    EXPECT_EQ(r.status, 1);
}

TEST(OrvoCli, CommandLineOptions) {
    orvo_test::TempDir dir;
    const std::tuple<std::string, int, std::string> cases[] = {
        // arguments, exit status, something the output says
        {"--help", 0, "usage: orvo"}, {"--frobnicate", 2, ""},
        {"--sr fast x.orvo", 2, ""},  {"'" + dir.file("absent.orvo") + "'", 2, "cannot open"},
        {"a.orvo b.orvo", 2, ""},     {"--version", 0, "orvo 0."},
        {"--plugins '" + dir.file("nofolder") + "'", 2, "cannot read plug-in folder"},
    };
    for (auto &[args, status, says] : cases) {
        OrvoRun r = orvo_test::run_orvo(args, dir.path);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_NE(r.out.find(says), std::string::npos) << args << ": " << r.out;
    }
}

}  // namespace
