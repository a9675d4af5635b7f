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

// One id per folder; a name not there is taken for a missing folder.
TEST_F(FilesTest, PathIds) {
    EXPECT_EQ(fs::path(absolute(path_getdefault(), "")), fs::current_path());
    EXPECT_EQ(absolute(30000, "x"), "(unknown path id)");
    std::ofstream(dir.file("take.wav")) << "";
    short p = 0, folder = 0;
    char file[ORVO_PATH_CHARS] = "";
    ASSERT_EQ(path_frompathname(dir.file("take.wav").c_str(), &p, file), 0);
    EXPECT_STREQ(file, "take.wav");
    ASSERT_EQ(path_frompathname(dir.path.c_str(), &folder, file), 0);
    EXPECT_STREQ(file, "");
    EXPECT_EQ(p, folder);
    EXPECT_EQ(absolute(p, "x"), dir.file("x"));
    EXPECT_NE(path_frompathname(dir.file("missing/take.wav").c_str(), &p, file), 0);
    EXPECT_EQ(console(), std::vector<std::string>{"path: no folder " + dir.file("missing/take.wav")});
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
