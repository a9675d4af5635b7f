// The orvo command, run as a separate process on scripts written to temporary
// files; its output is compared line for line.
#include <sndfile.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

struct Result {
    std::string out;  // standard output and standard error, in order
    int status = -1;
};

class OrvoCliTest : public ::testing::Test {
  protected:
    orvo_test::TempDir dir;
    std::string empty_plugins() {
        fs::create_directories(dir.file("no_plugins"));
        return dir.file("no_plugins");
    }

    Result run_args(const std::string &args, const std::string &stdin_file = "") {
        std::string cmd = std::string(ORVO_TEST_BIN_DIR) + "/orvo " + args;
        cmd += stdin_file.empty() ? " < /dev/null" : " < '" + stdin_file + "'";
        cmd += " 2>&1";
        Result r;
        FILE *p = popen(cmd.c_str(), "r");
        if (!p) return r;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }

    std::string write_script(const std::string &text, const std::string &name = "script.orvo") {
        std::ofstream(dir.file(name)) << text;
        return dir.file(name);
    }

    // Runs text as a script with no plug-ins (only the host's classes).
    Result script(const std::string &text, const std::string &options = "") {
        return run_args("--plugins '" + empty_plugins() + "' " + options + " '" + write_script(text) + "'");
    }
    // The same with the build's plug-ins.
    Result script_with_plugins(const std::string &text, const std::string &options = "") {
        return run_args("--plugins '" + std::string(ORVO_TEST_PLUGIN_DIR) + "' " + options + " '" + write_script(text) +
                        "'");
    }
};

// ---- statements with the host's print boxes ------------------------------------------------

TEST_F(OrvoCliTest, PrintBoxesReceiveMessagesOnBothThreads) {
    Result r = script(
        "new p print hello\n"
        "new q print\n"
        "p bang\n"
        "p 5\n"
        "p 2.5\n"
        "p foo 1 2.5 bar\n"
        "sched q from scheduler 7\n"
        "q 1 2 3\n"
        "wait 10\n"
        "free p\n"
        "q done\n");
    EXPECT_EQ(r.out,
              "hello: bang\n"
              "hello: 5\n"
              "hello: 2.5\n"
              "hello: foo 1 2.5 bar\n"
              "print: from scheduler 7\n"
              "print: list 1 2 3\n"
              "print: done\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(OrvoCliTest, CommentsBlankLinesAndEcho) {
    Result r = script(
        "# a whole-line comment\n"
        "\n"
        "   \n"
        "new p print x   # a trailing comment\n"
        "echo   spaced    words  stay  \n"
        "echo \"quoted # not a comment\" # but this is\n"
        "echo\n"
        "p \"two words\"\n");
    EXPECT_EQ(r.out,
              "spaced    words  stay\n"
              "\"quoted # not a comment\"\n"
              "\n"
              "x: two words\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(OrvoCliTest, MalformedLinesAreReportedSkippedAndFailTheRun) {
    Result r = script(
        "new p print\n"
        "nobody bang\n"
        "new\n"
        "new p print\n"
        "new wait print\n"
        "new z nosuchclass\n"
        "p\n"
        "connect p 0 p\n"
        "connect p x p\n"
        "wait -3\n"
        "wait soon\n"
        "dialog open\n"
        "dialog save out.wav WAV\n"
        "dialog later\n"
        "set sr fast\n"
        "set edits maybe\n"
        "set failalloc -1\n"
        "set colour red\n"
        "info p\n"
        "peek p 0\n"
        "poke p 0\n"
        "free nobody\n"
        "sched nobody bang\n"
        "sched\n"
        "p still running\n");
    EXPECT_EQ(r.out,
              "orvo: line 2: unknown box \"nobody\"\n"
              "orvo: line 3: usage: new ID CLASS [ARGS...]\n"
              "orvo: line 4: box \"p\" exists already\n"
              "orvo: line 5: \"wait\" is a statement word, not a box ID\n"
              "orvo: error: no class \"nosuchclass\" in \"box\"\n"
              "orvo: line 6: cannot create \"nosuchclass\"\n"
              "orvo: line 7: usage: ID SELECTOR [ARGS...]\n"
              "orvo: line 8: no outlet 0 on \"p\"\n"
              "orvo: line 9: usage: connect ID OUTLET ID2\n"
              "orvo: line 10: usage: wait [MS]\n"
              "orvo: line 11: usage: wait [MS]\n"
              "orvo: line 12: usage: dialog open FILE | dialog save FILE [TYPE] | dialog cancel\n"
              "orvo: line 13: a file type has four letters\n"
              "orvo: line 14: usage: dialog open FILE | dialog save FILE [TYPE] | dialog cancel\n"
              "orvo: line 15: usage: set sr RATE | set edits refuse|allow | set failalloc N\n"
              "orvo: line 16: usage: set sr RATE | set edits refuse|allow | set failalloc N\n"
              "orvo: line 17: usage: set sr RATE | set edits refuse|allow | set failalloc N\n"
              "orvo: line 18: usage: set sr RATE | set edits refuse|allow | set failalloc N\n"
              "orvo: line 19: \"p\" is not a buffer~\n"
              "orvo: line 20: \"p\" is not a buffer~\n"
              "orvo: line 21: usage: poke ID INDEX VALUE...\n"
              "orvo: line 22: unknown box \"nobody\"\n"
              "orvo: line 23: unknown box \"nobody\"\n"
              "orvo: line 24: usage: sched ID SELECTOR [ARGS...]\n"
              "print: still running\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(OrvoCliTest, StandardInputRunsLikeAScript) {
    std::string text = "new p print in\np bang\nsched p 3\nbogus\n";
    std::string file = write_script(text, "stdin.orvo");
    Result r = run_args("--plugins '" + empty_plugins() + "'", file);
    EXPECT_EQ(r.out, "in: bang\nin: 3\norvo: line 4: unknown box \"bogus\"\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(OrvoCliTest, CommandLineOptions) {
    Result help = run_args("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: orvo", 0), 0u) << help.out;
    EXPECT_EQ(run_args("--frobnicate").status, 2);
    EXPECT_EQ(run_args("--sr").status, 2);
    EXPECT_EQ(run_args("--sr fast x.orvo").status, 2);
    Result missing = run_args("'" + dir.file("absent.orvo") + "'");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("cannot open"), std::string::npos);
    EXPECT_EQ(run_args("a.orvo b.orvo").status, 2);
}

// ---- statements that read buffer~ records (the build's plug-in) ------------------------------

std::string ms_text(long frames, float sr) {
    char buf[64];
    snprintf(buf, sizeof buf, "%.17g", (double)frames * ((double)(1.0f / sr) * 1000.0));
    return buf;
}

TEST_F(OrvoCliTest, InfoPeekPokeOnABuffer) {
    Result r = script_with_plugins(
        "new b buffer~ drums 10 2\n"
        "info b\n"
        "poke b 1 0.5 -0.25\n"
        "peek b 0 4\n"
        "peek b 881\n"
        "peek b 882\n"
        "peek b 880 3\n"
        "poke b 881 1 2\n"
        "peek b -1\n");
    EXPECT_EQ(r.out, "b: name drums frames 441 chans 2 size 882 sr 44100 ms " + ms_text(441, 44100) +
                         " valid 1 owner 1\n"
                         "b[0] = 0\n"
                         "b[1] = 0.5\n"
                         "b[2] = -0.25\n"
                         "b[3] = 0\n"
                         "b[881] = 0\n"
                         "orvo: line 6: index out of range\n"
                         "orvo: line 7: index out of range\n"
                         "orvo: line 8: index out of range\n"
                         "orvo: line 9: index out of range\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(OrvoCliTest, SampleRateOptionAndStatement) {
    Result r = script_with_plugins(
        "new a buffer~ one 100\n"
        "info a\n"
        "set sr 48000\n"
        "new b buffer~ two 100\n"
        "info b\n",
        "--sr 22050");
    EXPECT_EQ(r.out, "a: name one frames 2205 chans 1 size 2205 sr 22050 ms " + ms_text(2205, 22050) +
                         " valid 1 owner 1\n"
                         "b: name two frames 4800 chans 1 size 4800 sr 48000 ms " +
                         ms_text(4800, 48000) + " valid 1 owner 1\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(OrvoCliTest, NotificationsFollowSchedulerTime) {
    // A change on the main thread notifies at once; one delivered on the
    // scheduler thread notifies when the script waits, and only once per
    // scheduler time.
    Result r = script_with_plugins(
        "new b buffer~ drums 10 1\n"
        "watch drums\n"
        "poke b 0 1\n"
        "echo --\n"
        "sched b fill 0.5\n"
        "echo -- same time\n"
        "wait\n"
        "wait 5\n"
        "sched b fill 0.25\n"
        "echo -- later\n"
        "wait\n"
        "peek b 0\n"
        "b printmodtime\n");
    EXPECT_EQ(r.out,
              "watch drums: buffer_modified\n"
              "--\n"
              "-- same time\n"
              "-- later\n"
              "watch drums: buffer_modified\n"
              "b[0] = 0.25\n"
              "buffer~: buffer~ drums: mod time 6\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(OrvoCliTest, EditRefusalAndAllocationFailureStatements) {
    Result r = script_with_plugins(
        "new b buffer~ drums 10 1\n"
        "set edits refuse\n"
        "b sizeinsamps 20\n"
        "info b\n"
        "set edits allow\n"
        "b sizeinsamps 20\n"
        "info b\n"
        "set failalloc 1\n"
        "b sizeinsamps 30\n"
        "info b\n");
    EXPECT_EQ(r.out,
              "buffer~: error: can't resize now\n"
              "b: name drums frames 441 chans 1 size 441 sr 44100 ms " +
                  ms_text(441, 44100) +
                  " valid 1 owner 1\n"
                  "b: name drums frames 20 chans 1 size 20 sr 44100 ms " +
                  ms_text(20, 44100) +
                  " valid 1 owner 1\n"
                  "buffer~: error: drums: not enough memory to resize\n"
                  "b: name drums frames 100 chans 1 size 100 sr 44100 ms " +
                  ms_text(100, 44100) + " valid 0 owner 1\n");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
