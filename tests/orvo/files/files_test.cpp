// Path ids, file lookup and types, plain files, and the dialogs' answers and offers.
#include <unistd.h>

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

struct Found {
    std::string asked, name, where;  // where: "" when not found
    t_fourcc type = 0;
    int format = 0;  // how the test makes the file
};

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
    std::ofstream(dir.file("sub/a.aif")) << "";
    const std::string cases[][3] = {
        // given, its folder, its file; a name that is not there is taken for a missing folder
        {dir.path, dir.path, ""},
        {dir.file("take.wav"), dir.path, "take.wav"},
        {dir.file("sub/a.aif"), dir.file("sub"), "a.aif"},
        {dir.file("missing"), "", ""},
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

// A name that is found returns the file's folder id and type, and the bare name.
Found locate(const std::string &asked, std::vector<t_fourcc> types = {}) {
    Found f{asked, "", ""};
    char name[ORVO_PATH_CHARS];
    snprintf(name, sizeof name, "%s", asked.c_str());
    short path = 0;
    if (locatefile_extended(name, &path, &f.type, types.empty() ? nullptr : types.data(), (short)types.size()) == 0)
        f.where = absolute(path, name);
    f.name = name;
    return f;
}

// The default folder first, then the search folders in order, by name or relative
// path. Types come from the contents, else from the extension.
TEST_F(FilesTest, LookupAndTypes) {
    orvo_test::TempDir second;
    fs::create_directory(second.file("deep"));
    orvo::add_search_dir(dir.path);
    orvo::add_search_dir(second.path);
    const std::string here = "orvo_files_test_" + std::to_string(getpid()) + ".wav", cwd = fs::current_path();
    const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16, aif = SF_FORMAT_AIFF | SF_FORMAT_PCM_16, bytes = -1;
    auto in_dir = [&](const char *name, t_fourcc type, int format) {
        return Found{name, name, dir.file(name), type, format};
    };
    const Found cases[] = {
        in_dir("a.wav", kWAVE, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24),
        in_dir("c.aif", kAIFF, aif),
        in_dir("d.aif", FOURCC('A', 'I', 'F', 'C'), SF_FORMAT_AIFF | SF_FORMAT_FLOAT),
        in_dir("w.aif", kWAVE, wav),  // the contents win
        in_dir("h.raw", kDATA, bytes),
        in_dir("l.txt", 0, bytes),
        in_dir("both.wav", kWAVE, wav),
        {"deep/in.aif", "in.aif", second.file("deep/in.aif"), kAIFF, aif},
        {second.file("deep/in.aif"), "in.aif", second.file("deep/in.aif"), kAIFF, 0},
        {here, here, cwd + "/" + here, kWAVE, wav},
        {"absent.wav", "absent.wav", "", 0, 0},
        {"deep", "deep", "", 0, 0},  // folders are not files
    };
    for (auto &c : cases) {
        if (c.format > 0) orvo_test::write_sound(c.where, c.format);
        if (c.format < 0) std::ofstream(c.where, std::ios::binary) << std::string(64, '\x11');
    }
    for (auto decoy : {second.file("both.wav"), dir.file(here)}) orvo_test::write_sound(decoy, aif);
    for (auto &c : cases) {
        Found f = locate(c.asked);
        EXPECT_EQ(f.where + " " + f.name, c.where + " " + c.name) << c.asked;
        EXPECT_EQ(f.type, c.type) << c.asked;
    }
    fs::remove(cwd + "/" + here);
    EXPECT_EQ(locate("c.aif", {kAIFF, kWAVE}).where, dir.file("c.aif"));
    EXPECT_EQ(locate("c.aif", {kWAVE, kFLAC}).where, "") << "the type list filters";
}

TEST_F(FilesTest, SysfileRoundTripAndLength) {
    short path = 0;
    char file[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir.path.c_str(), &path, file), 0);
    t_filehandle fh = nullptr;
    ASSERT_EQ(path_createsysfile("data.bin", path, kDATA, &fh), 0);
    t_ptr_size count = 10, pos = 0, eof = 0;
    ASSERT_EQ(sysfile_write(fh, &count, "0123456789"), 0);
    ASSERT_EQ(sysfile_getpos(fh, &pos), 0);
    EXPECT_EQ(count + pos, 20u);
    // seteof shortens and lengthens with zeros; a read that meets the end is short, not an error.
    const std::tuple<t_ptr_size, t_ptr_size, t_ptr_size, std::string> steps[] = {
        {10, 3, 4, "3456"}, {6, 4, 10, "45"}, {20, 4, 4, std::string("45\0\0", 4)}};
    for (auto &[new_eof, from, ask, text] : steps) {
        char back[16] = {};
        count = ask;
        ASSERT_EQ(sysfile_seteof(fh, new_eof), 0);
        ASSERT_EQ(sysfile_geteof(fh, &eof), 0);
        ASSERT_EQ(sysfile_setpos(fh, from), 0);
        ASSERT_EQ(sysfile_read(fh, &count, back), 0);
        EXPECT_EQ(std::to_string(eof) + ":" + std::string(back, count), std::to_string(new_eof) + ":" + text);
    }
    EXPECT_EQ(sysfile_close(fh), 0);
    EXPECT_EQ(fs::file_size(dir.file("data.bin")), 20u);

    ASSERT_EQ(path_opensysfile("data.bin", path, &fh, 1), 0);
    count = 1;
    EXPECT_NE(sysfile_write(fh, &count, "x"), 0) << "opened for reading only";
    sysfile_close(fh);
    EXPECT_EQ(path_deletefile("data.bin", path), 0);
    EXPECT_NE(path_deletefile("data.bin", path), 0) << "already gone";
    EXPECT_NE(path_createsysfile("x", 30000, 0, &fh), 0) << "unknown path id";
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
        {"", "", 0, 0, 0, 0, false, 0},
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
