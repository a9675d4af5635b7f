// Writes never cost the user a file: a failed write leaves the target as it was
// and nothing beside it; a good one keeps the target's mode and links; another
// user's rights are respected.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "buffer_test.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;
using orvo_test::slurp;

std::set<std::string> listing(const std::string &dir) {
    std::set<std::string> names;
    for (auto &e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

mode_t mode_of(const std::string &path) {
    struct stat sb {};
    lstat(path.c_str(), &sb);
    return sb.st_mode & 07777;
}

class Safety : public orvo_test::BufferTest {
  protected:
    void SetUp() override {
        BufferTest::SetUp();
        b = buffer("s 1 2");
        for (long i = 0; i < b->b_size; ++i) b->b_samples[i] = (float)(i % 50) / 64.0f;
        console();
    }
    // The console lines of a write that failed for cause.
    static Lines failed(const std::string &cause, const std::string &name) {
        return {"jsoundfile: error: " + cause, "buffer~: error: could not create file: " + name};
    }
    // Sends a write and gives its console lines, the notification aside. A forked
    // child has no scheduler thread: it must not wait for one (idle false).
    Lines write(const std::string &msg, const std::string &file, bool idle = true) {
        send(b, msg, dir.file(file));
        if (idle) orvo::run_until_idle();
        Lines out;
        for (auto &l : console())
            if (l.rfind("buffer~: ", 0) == 0 || l.rfind("jsoundfile: ", 0) == 0) out.push_back(l);
        return out;
    }
    t_buffer *b = nullptr;
    orvo_test::TempDir dir;
};

// Every write of the file's bytes that can fail is failed once, as a full disk would.
TEST_F(Safety, AFullDiskLeavesTheFileAsItWasAndNothingBesideIt) {
    for (const char *msg : {"writewave", "writeflac"}) {
        std::ofstream(dir.file("keep")) << "the user's own";
        long k = 1;
        for (;; ++k) {
            SCOPED_TRACE(std::string(msg) + " failing write " + std::to_string(k));
            orvo::file_fail_write(k);
            Lines said = write(msg, "keep");
            orvo::file_fail_write(0);
            if (said.empty()) break;  // fewer writes than k: this one went through
            EXPECT_EQ(said, failed("No space left on device", "keep"));
            EXPECT_EQ(slurp(dir.file("keep")), "the user's own");
            EXPECT_EQ(listing(dir.path), std::set<std::string>{"keep"});
            ASSERT_LT(k, 1000);
        }
        EXPECT_GE(k, 3) << msg;
        EXPECT_NE(slurp(dir.file("keep")), "the user's own") << "then written";
    }
    fs::create_directory(dir.file("folder"));
    EXPECT_EQ(write("writewave", "folder"), failed("Is a directory", "folder"));
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
    EXPECT_EQ(listing(dir.path), (std::set<std::string>{"folder", "keep"}));
}

TEST_F(Safety, WritesKeepModeLinksAndNeighbours) {
    std::ofstream(dir.file("shared.wav")) << "old";
    chmod(dir.file("shared.wav").c_str(), 0604);
    std::ofstream(dir.file("real.wav")) << "old";
    fs::create_symlink("real.wav", dir.file("link.wav"));
    fs::create_symlink("made.wav", dir.file("dangling.wav"));
    std::ofstream(dir.file("take.wav.partial")) << "mine";
    const std::string longname = std::string(246, 'n') + ".wav";  // 250 bytes
    for (const std::string &name : Lines{"shared.wav", "link.wav", "dangling.wav", "take.wav", longname})
        EXPECT_EQ(write("writewave", name), Lines{}) << name.size();
    EXPECT_EQ(mode_of(dir.file("shared.wav")), 0604u);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.wav")));
    EXPECT_EQ(slurp(dir.file("real.wav")).substr(0, 4), "RIFF") << "written through the link";
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.wav")));
    EXPECT_EQ(slurp(dir.file("made.wav")).substr(0, 4), "RIFF") << "the file a link names is made";
    EXPECT_EQ(slurp(dir.file("take.wav.partial")), "mine");
    EXPECT_EQ(slurp(dir.file(longname)).substr(0, 4), "RIFF");
    EXPECT_EQ(listing(dir.path), (std::set<std::string>{"shared.wav", "real.wav", "link.wav", "dangling.wav",
                                                         "made.wav", "take.wav", "take.wav.partial", longname}))
        << "no temporary file left";
}

// Runs body in a child process as the unprivileged user 65534, in dir given to
// that user; gives the child's report ("" when all held), or "skip: why".
std::string as_nobody(const std::string &dir, const std::function<std::string()> &body) {
    if (chown(dir.c_str(), 65534, 65534) != 0) return "skip: cannot give a folder to user 65534 (not root)";
    int out[2];
    if (pipe(out) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        std::string report = setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0
                                 ? body()
                                 : "skip: cannot switch to user 65534";
        (void)!write(out[1], report.data(), report.size());
        _exit(0);
    }
    close(out[1]);
    std::string report;
    char buf[512];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;) report.append(buf, (size_t)n);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += "child died";
    return report;
}

#if defined(__SANITIZE_THREAD__)
#define SKIP_FORK GTEST_SKIP() << "no fork under the thread checker"
#else
#define SKIP_FORK (void)0
#endif

TEST_F(Safety, AnotherUsersRightsAreRespected) {
    SKIP_FORK;
    std::string report = as_nobody(dir.path, [&] {
        std::string bad;
        auto check = [&](bool ok, const std::string &what) { bad += ok ? "" : what + "; "; };
        // Unreadable but there: a failed write must not take it for absent and delete it.
        std::ofstream(dir.file("unreadable.flac")) << "the user's own";
        chmod(dir.file("unreadable.flac").c_str(), 0200);
        send(b, "format", "float32");
        check(write("writeflac", "unreadable.flac", false) ==
                  failed("FLAC cannot hold 32-bit float samples", "unreadable.flac"),
              "float FLAC refused");
        check(fs::exists(dir.file("unreadable.flac")), "the unreadable file is still there");
        // Read-only: refused, and left as it was.
        std::ofstream(dir.file("readonly.wav")) << "the user's own";
        chmod(dir.file("readonly.wav").c_str(), 0444);
        check(write("writewave", "readonly.wav", false) == failed("Permission denied", "readonly.wav"), "refused");
        check(slurp(dir.file("readonly.wav")) == "the user's own", "read-only file unchanged");
        check(mode_of(dir.file("readonly.wav")) == 0444, "its mode unchanged");
        check(listing(dir.path) == std::set<std::string>{"readonly.wav", "unreadable.flac"}, "nothing left");
        return bad;
    });
    if (report.rfind("skip: ", 0) == 0) GTEST_SKIP() << report.substr(6);
    EXPECT_EQ(report, "");
}

}  // namespace
