// The orvo command, run as a separate process on scripts written to temporary
// files; its output is compared exactly.
#include <sndfile.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <sndfile.h>

#include "orvo_test.h"

namespace {

using orvo_test::OrvoRun;

class OrvoCliTest : public ::testing::Test {
  protected:
    orvo_test::TempDir dir;

    // In the temporary folder: the default folder of file names is the current one.
    OrvoRun run_args(const std::string &args) { return orvo_test::run_orvo(args, dir.path); }
    // Runs text as a script with the build's plug-ins, or with none (only the host's classes).
    OrvoRun script(const std::string &text, bool with_plugins = false, const std::string &options = "") {
        if (with_plugins) return orvo_test::run_orvo_script(dir, text, options);
        std::filesystem::create_directories(dir.file("none"));
        std::ofstream(dir.file("script.orvo")) << text;
        return run_args("--plugins '" + dir.file("none") + "' " + options + " '" + dir.file("script.orvo") + "'");
    }
};

// The info line of a buffer~ with the given name, size and rate.
std::string info(const std::string &id, const std::string &name, long frames, long chans, float sr, int valid = 1) {
    char buf[256];
    snprintf(buf, sizeof buf, "%s: name %s frames %ld chans %ld size %ld sr %g ms %.17g valid %d owner 1\n", id.c_str(),
             name.c_str(), frames, chans, frames * chans, (double)sr, (double)frames * ((double)(1.0f / sr) * 1000.0),
             valid);
    return buf;
}

TEST_F(OrvoCliTest, Scripts) {
    struct Case {
        const char *what;
        bool with_plugins;
        std::string options, text, out;
        int status;
    };
    const Case cases[] = {
        {"print boxes on both threads, comments, echo", false, "",
         "# a comment\n\n   \nnew p print hello  # trailing\nnew q print\np bang\np 5\np 2.5\np foo 1 2.5 bar\n"
         "p \"two words\"\nsched q from scheduler 7\nq 1 2 3\necho   spaced    words  stay  \n"
         "echo \"quoted # not a comment\" # but this is\necho\nwait 10\nfree p\nq done\n",
         "hello: bang\nhello: 5\nhello: 2.5\nhello: foo 1 2.5 bar\nhello: two words\nprint: from scheduler 7\n"
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
        {"set edits, set failalloc", true, "",
         "new b buffer~ drums 10 1\nset edits refuse\nb sizeinsamps 20\ninfo b\nset edits allow\n"
         "b sizeinsamps 20\ninfo b\nset failalloc 1\nb sizeinsamps 30\ninfo b\n",
         "buffer~ (b): error: can't resize now\n" + info("b", "drums", 441, 1, 44100) +
             info("b", "drums", 20, 1, 44100) + "buffer~ (b): error: drums: not enough memory to resize\n" +
             info("b", "drums", 100, 1, 44100, 0),
         0},
    };
    // wait waits for a load in the background.
    std::vector<float> tone(2 * 3000, 0.5f);
    SF_INFO sfi{0, 48000, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE *sf = sf_open(dir.file("tone.wav").c_str(), SFM_WRITE, &sfi);
    ASSERT_NE(sf, nullptr);
    sf_writef_float(sf, tone.data(), 3000);
    sf_close(sf);
    OrvoRun r = script("new a buffer~ tone 10 1 @async 1\nwatch tone\na replace tone.wav\nwait\ninfo a\npeek a 5999\n",
                      true, "--search '" + dir.path + "'");
    EXPECT_EQ(r.out, "watch tone: buffer_modified\n" + info("a", "tone", 3000, 2, 48000) + "a[5999] = 0.5\n");
    for (auto &c : cases) {
        OrvoRun r = script(c.text, c.with_plugins, c.options);
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
    }
}

// Appends the low bytes of v, most significant first.
void put(std::string &s, long long v, int bytes) {
    while (bytes--) s += (char)((v >> (8 * bytes)) & 0xFF);
}

// A mono 16-bit AIFF file of 100 silent frames at 44100 Hz with markers 1..4 at
// frames 10, 50, 60 and 90 and an instrument chunk: pitch 60, detune -5, keys
// 16-112, velocities 5-127, gain -6, a sustain loop on markers 1-2 and a
// release loop on 3-4.
std::string aiff_with_instrument() {
    std::string body = "AIFF", comm = "COMM", mark = "MARK", inst = "INST", ssnd = "SSND";
    put(comm, 18, 4), put(comm, 1, 2), put(comm, 100, 4), put(comm, 16, 2);
    put(comm, 0x400E, 2), put(comm, 0xAC44000000000000LL, 8);
    put(mark, 34, 4), put(mark, 4, 2);
    const int pos[] = {10, 50, 60, 90};
    for (int i = 0; i < 4; ++i) put(mark, i + 1, 2), put(mark, pos[i], 4), put(mark, 0x161 + i, 2);
    put(inst, 20, 4), put(inst, 0x3CFB1070057FLL, 6), put(inst, -6, 2);
    put(inst, 0x000100010002LL, 6), put(inst, 0x000200030004LL, 6);
    put(ssnd, 8 + 200, 4), put(ssnd, 0, 8), ssnd += std::string(200, '\0');
    body += comm + mark + inst + ssnd;
    std::string file = "FORM";
    put(file, (long long)body.size(), 4);
    return file + body;
}

// What a user learns from the console: help, which box spoke, what a dialog
// offered, and the loop points of an AIFF file.
TEST_F(OrvoCliTest, FirstHour) {
    std::ofstream(dir.file("inst.aif"), std::ios::binary) << aiff_with_instrument();
    const std::string open_types = "types AIFF AIFC ULAW WAVE FLAC Sd2f QQQQ BINA NxTS Mp3 DATA M4a CAF";
    struct Case {
        const char *what;
        std::string text, out;
        int status;
    };
    const Case cases[] = {
        {"a box's id in its console lines; none without one", "new a buffer~ x 10 1\na read y.wav -7\n"
         "a printmodtime\nfree a\nnew a print\na bang\n",
         "buffer~ (a): error: read: bad offset -7\nbuffer~ (a): buffer~ x: mod time 0\nprint: bang\n", 0},
        {"quit ends the script", "echo one\nquit\necho two\n", "one\n", 0},
        {"help with an unknown topic", "help nosuch\n", "orvo: line 1: no help for \"nosuch\" (help lists the classes)\n",
         1},
        {"dialogs cancelled, answered and unanswered", "new a buffer~ x 10 1\ndialog cancel\na write\n"
         "dialog save out.wav\na write\na writeflac\ndialog open out.wav\na read\na read\n",
         "dialog: save \"Untitled.aif\" types AIFF WAVE DATA FLAC selected AIFF cancelled\n"
         "dialog: save \"Untitled.aif\" types AIFF WAVE DATA FLAC selected AIFF\n"
         "dialog: save \"Untitled.raw\" types FLAC selected FLAC cancelled\n"
         "dialog: open " + open_types + "\ndialog: open " + open_types + " cancelled\n", 0},
        {"instrument data, only when there is some", "new a buffer~ x 10 1\ninfo a\na replace inst.aif\ninfo a\n",
         info("a", "x", 441, 1, 44100) + info("a", "x", 100, 1, 44100) +
             "a: instrument sustain 10 50 release 60 90 basepitch 60 detune -5 pitch 16 112 velocity 5 127 gain -6\n",
         0},
    };
    for (auto &c : cases) {
        OrvoRun r = script(c.text, true, "--search '" + dir.path + "'");
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
    }
    // "dialog save out.wav" picked WAVE from the extension although AIFF was selected.
    SF_INFO si{};
    SNDFILE *f = sf_open(dir.file("out.wav").c_str(), SFM_READ, &si);
    ASSERT_NE(f, nullptr);
    sf_close(f);
    EXPECT_EQ(si.format & SF_FORMAT_TYPEMASK, SF_FORMAT_WAV);
}

// Each malformed line is reported with its number and skipped; the run goes on and exits 1.
TEST_F(OrvoCliTest, MalformedLines) {
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
        {"peek b -1", "index out of range"},
        {"set sr -5", "a sample rate is 0 (none) or a positive rate up to 10000000"},
    };
    std::string text = "new p print\nnew b buffer~ drums 10 2\n", out;
    int lineno = 2;
    for (auto &[line, message] : bad) {
        text += line + "\n";
        out += "orvo: line " + std::to_string(++lineno) + ": " + message + "\n";
    }
    OrvoRun r = script(text + "p still running\n", true);
    EXPECT_EQ(r.out, out + "print: still running\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(OrvoCliTest, CommandLineOptions) {
    const std::tuple<std::string, int, std::string> cases[] = {
        // arguments, exit status, something the output says
        {"--help", 0, "usage: orvo"}, {"--frobnicate", 2, ""},
        {"--sr fast x.orvo", 2, ""},  {"'" + dir.file("absent.orvo") + "'", 2, "cannot open"},
        {"a.orvo b.orvo", 2, ""},     {"--version", 0, "orvo 0."},
        {"--plugins '" + dir.file("nofolder") + "'", 2, "cannot read plug-in folder"},
    };
    for (auto &[args, status, says] : cases) {
        OrvoRun r = run_args(args);
        EXPECT_EQ(r.status, status) << args;
        EXPECT_NE(r.out.find(says), std::string::npos) << args << ": " << r.out;
    }
}

}  // namespace
