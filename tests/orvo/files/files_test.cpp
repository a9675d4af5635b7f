// Path ids, and the dialogs' answers and offers.
#include <filesystem>
#include <fstream>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

struct FilesTest : orvo_test::HostOnlyTest {
    orvo_test::TempDir dir;
};

constexpr t_fourcc kWAVE = FOURCC('W', 'A', 'V', 'E'), kAIFF = FOURCC('A', 'I', 'F', 'F'),
                   kFLAC = FOURCC('F', 'L', 'A', 'C'), kDATA = FOURCC('D', 'A', 'T', 'A');

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

// Dialogs take queued answers, one per dialog, in order; none left: cancelled.
TEST_F(FilesTest, DialogAnswersAndSaveOffers) {
    orvo::add_search_dir(dir.path);
    orvo_test::write_sound(dir.file("pick.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    orvo::dialog_answer_open("pick.flac");
    orvo::dialog_answer_cancel();
    orvo::dialog_answer_open(dir.file("pick.flac"));
    orvo::dialog_answer_open(dir.file("pick.flac"));
    // A file of a type not offered: cancelled.
    const std::pair<t_fourcc, bool> dialogs[] = {{0, true}, {0, false}, {kWAVE, false}, {kFLAC, true}, {0, false}};
    for (auto &[offered, ok] : dialogs) {
        char name[ORVO_PATH_CHARS] = "";
        short path = 0;
        t_fourcc type = 0;
        ASSERT_EQ(open_dialog(name, &path, &type, offered ? &offered : nullptr, offered ? 1 : 0) == 0, ok);
        if (!ok) continue;
        EXPECT_EQ(absolute(path, name), dir.file("pick.flac"));
        EXPECT_EQ(type, kFLAC);
    }

    const t_fourcc four[] = {kAIFF, kWAVE, kDATA, kFLAC};
    struct Case {
        std::string answer, name_out;  // "": cancel, refused
        t_fourcc answer_type, selected, type_in, type_out;
        bool autoext;
        int ntypes;
    };
    const Case cases[] = {
        {"out.aif", "out.aif", kAIFF, kWAVE, kWAVE, kAIFF, true, 4},
        {"take", "take.flac", 0, kFLAC, 0, kFLAC, true, 1},  // the selected type, its extension added
        {"plain", "plain", 0, 0, kDATA, kDATA, false, 4},    // settings last one dialog; the type passed in stays
        {"nowhere/x.wav", "", 0, 0, 0, 0, false, 0},  // no such folder
    };
    for (auto &c : cases) {
        const t_fourcc *types = c.ntypes == 1 ? four + 3 : four;
        if (c.autoext) saveas_autoextension(1);
        if (c.selected) saveas_setselectedtype(c.selected);
        if (c.answer.empty())
            orvo::dialog_answer_cancel();
        else
            orvo::dialog_answer_save(dir.file(c.answer), c.answer_type);
        char name[ORVO_PATH_CHARS] = "Untitled.wav";
        short path = 0;
        t_fourcc type = c.type_in;
        EXPECT_EQ(saveasdialog_extended(name, &path, &type, types, (short)c.ntypes) == 0, !c.name_out.empty());
        auto offer = orvo::last_save_offer();  // recorded even when cancelled
        EXPECT_EQ(offer.default_name, "Untitled.wav");
        EXPECT_EQ(offer.types, std::vector<t_fourcc>(types, types + c.ntypes));
        EXPECT_EQ(offer.selected, c.selected);
        EXPECT_EQ(offer.autoextension, c.autoext);
        EXPECT_EQ(c.name_out.empty() ? "" : absolute(path, name), c.name_out.empty() ? "" : dir.file(c.name_out));
        EXPECT_EQ(type, c.name_out.empty() ? c.type_in : c.type_out);
    }
}

}  // namespace
