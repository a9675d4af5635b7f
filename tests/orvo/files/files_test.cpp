// Path ids, and the dialogs' answers and offers.
#include <filesystem>
#include <fstream>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

struct FilesTest : orvo_test::HostOnlyTest {
    orvo_test::TempDir dir;
};

constexpr t_fourcc kWAVE = FOURCC('W', 'A', 'V', 'E'), kFLAC = FOURCC('F', 'L', 'A', 'C');

std::string absolute(short path, const std::string &name) {
    char out[ORVO_PATH_CHARS] = {};
    return path_toabsolutesystempath(path, name.c_str(), out) == 0 ? out : "(unknown path id)";
}

TEST_F(FilesTest, PathIds) {
    EXPECT_EQ(path_getdefault(), 1);
    EXPECT_EQ(fs::path(absolute(1, "")), fs::current_path());
    EXPECT_EQ(absolute(30000, "x"), "(unknown path id)");
    fs::create_directory(dir.file("sub"));
    std::ofstream(dir.file("take.wav")) << "";
    const std::string cases[][3] = {
        // given, its folder, its file; a name that is not there is taken for a missing folder
        {dir.path, dir.path, ""},
        {dir.file("take.wav"), dir.path, "take.wav"},
        {dir.file("sub"), dir.file("sub"), ""},
        {dir.file("missing/take.wav"), "", ""},
    };
    short first = 0;
    for (auto &[given, folder, name] : cases) {
        short p = 0;
        char file[ORVO_PATH_CHARS] = "";
        ASSERT_EQ(path_frompathname(given.c_str(), &p, file) == 0, !folder.empty()) << given;
        EXPECT_EQ(console(), folder.empty() ? std::vector<std::string>{"path: no folder " + given}
                                            : std::vector<std::string>{});
        if (folder.empty()) continue;
        EXPECT_STREQ(file, name.c_str());
        EXPECT_EQ(absolute(p, "x"), folder + "/x") << given;
        first = first ? first : p;
        EXPECT_EQ(p == first, folder == dir.path) << "one id per folder: " << given;
    }
}

// Dialogs take queued answers, one per dialog, in order (the command's dialog
// statement shows the rest); an answer the dialog could not have given cancels it.
TEST_F(FilesTest, DialogAnswers) {
    orvo_test::write_sound(dir.file("pick.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    orvo::dialog_answer_open(dir.file("pick.flac"));
    orvo::dialog_answer_open(dir.file("pick.flac"));
    orvo::dialog_answer_save(dir.file("nowhere/x.wav"), 0);
    orvo::dialog_lines(true);
    char name[ORVO_PATH_CHARS] = "";
    short path = 0;
    t_fourcc type = 0;
    EXPECT_NE(open_dialog(name, &path, &type, &kWAVE, 1), 0);  // a file of a type not offered
    EXPECT_EQ(open_dialog(name, &path, &type, &kFLAC, 1), 0);
    EXPECT_EQ(absolute(path, name), dir.file("pick.flac"));
    EXPECT_EQ(type, kFLAC);
    std::snprintf(name, sizeof name, "Untitled.wav");
    EXPECT_NE(saveasdialog_extended(name, &path, &type, &kWAVE, 1), 0);  // no such folder
    orvo::dialog_lines(false);
    EXPECT_EQ(console(),
              (std::vector<std::string>{"dialog: open types WAVE cancelled", "dialog: no file " + dir.file("pick.flac"),
                                        "dialog: open types FLAC",
                                        "dialog: save \"Untitled.wav\" types WAVE selected WAVE cancelled",
                                        "dialog: no folder " + dir.file("nowhere")}));
}

}  // namespace
