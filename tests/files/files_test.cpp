// Path ids, file lookup and types, plain files, dialogs and file usages.
#include <sndfile.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "orvo_test.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
    orvo_test::TempDir dir;
};

// A short sound file written by libsndfile.
void write_sound(const std::string &path, int format, int chans = 1, int frames = 16) {
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = chans;
    info.format = format;
    SNDFILE *sf = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sf, nullptr) << path << ": " << sf_strerror(nullptr);
    std::vector<float> data((size_t)(frames * chans), 0.25f);
    sf_writef_float(sf, data.data(), frames);
    sf_close(sf);
}

void write_bytes(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

struct Found {
    short rc;
    std::string name;
    short path = 0;
    t_fourcc type = 0;
};

Found locate(const std::string &name, std::vector<t_fourcc> types = {}) {
    char buf[ORVO_PATH_CHARS];
    snprintf(buf, sizeof buf, "%s", name.c_str());
    Found f;
    f.rc = locatefile_extended(buf, &f.path, &f.type, types.empty() ? nullptr : types.data(), (short)types.size());
    f.name = buf;
    return f;
}

std::string absolute(short path, const std::string &name) {
    char out[ORVO_PATH_CHARS] = {};
    EXPECT_EQ(path_toabsolutesystempath(path, name.c_str(), out), 0);
    return out;
}

// ---- path ids ----------------------------------------------------------------------------

TEST_F(FilesTest, DefaultFolderIsTheWorkingDirectory) {
    EXPECT_EQ(path_getdefault(), 1);
    char out[ORVO_PATH_CHARS] = {};
    ASSERT_EQ(path_toabsolutesystempath(1, "", out), 0);
    EXPECT_EQ(fs::path(out), fs::current_path());
    EXPECT_NE(path_toabsolutesystempath(30000, "x", out), 0) << "unknown path id";
}

TEST_F(FilesTest, PathFromPathnameGivesStableIds) {
    fs::create_directory(dir.file("sub"));
    short p1 = 0, p2 = 0, p3 = 0;
    char file[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir.path.c_str(), &p1, file), 0);
    EXPECT_STREQ(file, "");
    EXPECT_GT(p1, 1);
    ASSERT_EQ(path_frompathname(dir.file("take.wav").c_str(), &p2, file), 0) << "the file need not exist";
    EXPECT_EQ(p2, p1);
    EXPECT_STREQ(file, "take.wav");
    ASSERT_EQ(path_frompathname((dir.path + "/sub/").c_str(), &p3, file), 0);
    EXPECT_NE(p3, p1);
    EXPECT_EQ(absolute(p3, "a.aif"), dir.file("sub/a.aif"));
    EXPECT_NE(path_frompathname(dir.file("missing/take.wav").c_str(), &p3, file), 0);
}

TEST_F(FilesTest, SplitNames) {
    char folder[ORVO_PATH_CHARS], file[ORVO_PATH_CHARS];
    EXPECT_EQ(path_getseparator(), '/');
    ASSERT_EQ(path_splitnames("/a/b/take.wav", folder, file), 0);
    EXPECT_STREQ(folder, "/a/b");
    EXPECT_STREQ(file, "take.wav");
    ASSERT_EQ(path_splitnames("/take.wav", folder, file), 0);
    EXPECT_STREQ(folder, "/");
    EXPECT_STREQ(file, "take.wav");
    ASSERT_EQ(path_splitnames("take.wav", folder, file), 0);
    EXPECT_STREQ(folder, "");
    EXPECT_STREQ(file, "take.wav");
}

// ---- lookup and types ---------------------------------------------------------------------

TEST_F(FilesTest, TypesFromContentsThenExtension) {
    struct Case {
        const char *name;
        int format;
        t_fourcc type;
    };
    const Case sound[] = {
        {"a.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, FOURCC('W', 'A', 'V', 'E')},
        {"b.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, FOURCC('W', 'A', 'V', 'E')},
        {"c.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, FOURCC('A', 'I', 'F', 'F')},
        {"d.aif", SF_FORMAT_AIFF | SF_FORMAT_FLOAT, FOURCC('A', 'I', 'F', 'C')},
        {"e.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, FOURCC('F', 'L', 'A', 'C')},
        {"f.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, FOURCC('N', 'x', 'T', 'S')},
        {"g.caf", SF_FORMAT_CAF | SF_FORMAT_PCM_16, FOURCC('C', 'A', 'F', ' ')},
        // the contents decide, not a misleading extension
        {"wave_named.aif", SF_FORMAT_WAV | SF_FORMAT_PCM_16, FOURCC('W', 'A', 'V', 'E')},
    };
    orvo::add_search_dir(dir.path);
    for (auto &c : sound) {
        write_sound(dir.file(c.name), c.format);
        Found f = locate(c.name);
        ASSERT_EQ(f.rc, 0) << c.name;
        EXPECT_EQ(f.type, c.type) << c.name;
    }
    const std::pair<const char *, t_fourcc> by_ext[] = {
        {"h.raw", FOURCC('D', 'A', 'T', 'A')},
        {"i.BIN", FOURCC('D', 'A', 'T', 'A')},
        {"j.mp3", FOURCC('M', 'p', '3', ' ')},
        {"k.m4a", FOURCC('M', '4', 'a', ' ')},
        {"l.txt", 0},
        {"noext", 0},
    };
    for (auto &[name, type] : by_ext) {
        write_bytes(dir.file(name), std::string(64, '\x11'));
        Found f = locate(name);
        ASSERT_EQ(f.rc, 0) << name;
        EXPECT_EQ(f.type, type) << name;
    }
}

TEST_F(FilesTest, LookupOrderAndResults) {
    orvo_test::TempDir second;
    fs::create_directory(second.file("deep"));
    orvo::add_search_dir(dir.path);
    orvo::add_search_dir(second.path);
    write_sound(dir.file("both.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    write_sound(second.file("both.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    write_sound(second.file("deep/inner.aif"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16);

    Found f = locate("both.wav");
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.name, "both.wav");
    EXPECT_EQ(absolute(f.path, f.name), dir.file("both.wav")) << "earlier search folder first";

    f = locate("deep/inner.aif");
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.name, "inner.aif") << "the bare name comes back";
    EXPECT_EQ(absolute(f.path, f.name), second.file("deep/inner.aif"));

    f = locate(second.file("deep/inner.aif"));
    ASSERT_EQ(f.rc, 0) << "absolute paths are taken as they are";
    EXPECT_EQ(f.name, "inner.aif");
    EXPECT_EQ(absolute(f.path, f.name), second.file("deep/inner.aif"));

    f = locate("absent.wav");
    EXPECT_NE(f.rc, 0);
    EXPECT_EQ(f.name, "absent.wav") << "name untouched on failure";
    EXPECT_NE(locate("deep").rc, 0) << "folders are not files";
}

TEST_F(FilesTest, DefaultFolderIsSearchedFirst) {
    std::string name = "orvo_files_test_" + std::to_string(getpid()) + ".wav";
    std::string here = (fs::current_path() / name).string();
    write_sound(here, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    orvo::add_search_dir(dir.path);
    write_sound(dir.file(name), SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    Found f = locate(name);
    fs::remove(here);
    ASSERT_EQ(f.rc, 0);
    EXPECT_EQ(f.path, 1);
    EXPECT_EQ(f.type, FOURCC('W', 'A', 'V', 'E'));
}

TEST_F(FilesTest, TypeListFilters) {
    orvo::add_search_dir(dir.path);
    write_sound(dir.file("t.aif"), SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(locate("t.aif", {FOURCC('A', 'I', 'F', 'F'), FOURCC('W', 'A', 'V', 'E')}).rc, 0);
    Found f = locate("t.aif", {FOURCC('W', 'A', 'V', 'E'), FOURCC('F', 'L', 'A', 'C')});
    EXPECT_NE(f.rc, 0);
}

// ---- plain files ------------------------------------------------------------------------------

TEST_F(FilesTest, SysfileRoundTripAndLength) {
    short path = 0;
    char file[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir.path.c_str(), &path, file), 0);
    t_filehandle fh = nullptr;
    ASSERT_EQ(path_createsysfile("data.bin", path, FOURCC('D', 'A', 'T', 'A'), &fh), 0);
    ASSERT_NE(fh, nullptr);

    const char text[] = "0123456789";
    t_ptr_size count = 10;
    ASSERT_EQ(sysfile_write(fh, &count, text), 0);
    EXPECT_EQ(count, 10u);
    t_ptr_size pos = 0, eof = 0;
    ASSERT_EQ(sysfile_getpos(fh, &pos), 0);
    EXPECT_EQ(pos, 10u);

    ASSERT_EQ(sysfile_setpos(fh, 3), 0);
    char back[16] = {};
    count = 4;
    ASSERT_EQ(sysfile_read(fh, &count, back), 0);
    EXPECT_EQ(count, 4u);
    EXPECT_STREQ(back, "3456");

    ASSERT_EQ(sysfile_seteof(fh, 6), 0);
    ASSERT_EQ(sysfile_geteof(fh, &eof), 0);
    EXPECT_EQ(eof, 6u);
    ASSERT_EQ(sysfile_setpos(fh, 4), 0);
    count = 10;
    ASSERT_EQ(sysfile_read(fh, &count, back), 0) << "a read that meets the end is not an error";
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(sysfile_seteof(fh, 20), 0);
    ASSERT_EQ(sysfile_geteof(fh, &eof), 0);
    EXPECT_EQ(eof, 20u);
    EXPECT_EQ(sysfile_close(fh), 0);
    EXPECT_EQ(fs::file_size(dir.file("data.bin")), 20u);

    // Created again: truncated.
    ASSERT_EQ(path_createsysfile("data.bin", path, 0, &fh), 0);
    ASSERT_EQ(sysfile_geteof(fh, &eof), 0);
    EXPECT_EQ(eof, 0u);
    sysfile_close(fh);

    ASSERT_EQ(path_opensysfile("data.bin", path, &fh, 1), 0);
    count = 1;
    EXPECT_NE(sysfile_write(fh, &count, "x"), 0) << "opened for reading only";
    sysfile_close(fh);

    EXPECT_EQ(path_deletefile("data.bin", path), 0);
    EXPECT_FALSE(fs::exists(dir.file("data.bin")));
    EXPECT_NE(path_deletefile("data.bin", path), 0);
    EXPECT_NE(path_opensysfile("data.bin", path, &fh, 1), 0);
    EXPECT_NE(path_createsysfile("x", 30000, 0, &fh), 0) << "unknown path id";
}

// ---- dialogs ------------------------------------------------------------------------------------

TEST_F(FilesTest, OpenDialogAnswers) {
    orvo::add_search_dir(dir.path);
    write_sound(dir.file("pick.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
    char name[ORVO_PATH_CHARS] = "";
    short path = 0;
    t_fourcc type = 0;

    EXPECT_NE(open_dialog(name, &path, &type, nullptr, 0), 0) << "nothing queued: cancelled";

    orvo::dialog_answer_open("pick.flac");
    orvo::dialog_answer_cancel();
    orvo::dialog_answer_open(dir.file("pick.flac"));
    ASSERT_EQ(open_dialog(name, &path, &type, nullptr, 0), 0);
    EXPECT_STREQ(name, "pick.flac");
    EXPECT_EQ(type, FOURCC('F', 'L', 'A', 'C'));
    EXPECT_EQ(absolute(path, name), dir.file("pick.flac"));
    EXPECT_NE(open_dialog(name, &path, &type, nullptr, 0), 0);
    const t_fourcc wave_only[] = {FOURCC('W', 'A', 'V', 'E')};
    EXPECT_NE(open_dialog(name, &path, &type, wave_only, 1), 0) << "a type the dialog does not offer";
    EXPECT_NE(open_dialog(name, &path, &type, nullptr, 0), 0) << "answers are used up";
}

TEST_F(FilesTest, SaveDialogRecordsTheOfferAndAnswers) {
    const t_fourcc four[] = {FOURCC('A', 'I', 'F', 'F'), FOURCC('W', 'A', 'V', 'E'), FOURCC('D', 'A', 'T', 'A'),
                             FOURCC('F', 'L', 'A', 'C')};
    char name[ORVO_PATH_CHARS] = "Untitled.wav";
    short path = 0;
    t_fourcc type = FOURCC('W', 'A', 'V', 'E');
    saveas_autoextension(1);
    saveas_setselectedtype(FOURCC('W', 'A', 'V', 'E'));
    orvo::dialog_answer_save(dir.file("out.aif"), FOURCC('A', 'I', 'F', 'F'));
    ASSERT_EQ(saveasdialog_extended(name, &path, &type, four, 4), 0);
    auto offer = orvo::last_save_offer();
    EXPECT_EQ(offer.default_name, "Untitled.wav");
    EXPECT_EQ(offer.types, std::vector<t_fourcc>(four, four + 4));
    EXPECT_EQ(offer.selected, FOURCC('W', 'A', 'V', 'E'));
    EXPECT_TRUE(offer.autoextension);
    EXPECT_STREQ(name, "out.aif");
    EXPECT_EQ(type, FOURCC('A', 'I', 'F', 'F'));
    EXPECT_EQ(absolute(path, name), dir.file("out.aif"));

    // No type in the answer: the selected type; an extension is added when asked for.
    saveas_autoextension(1);
    saveas_setselectedtype(FOURCC('F', 'L', 'A', 'C'));
    orvo::dialog_answer_save(dir.file("take"));
    strcpy(name, "Untitled.raw");
    ASSERT_EQ(saveasdialog_extended(name, &path, &type, four + 3, 1), 0);
    EXPECT_STREQ(name, "take.flac");
    EXPECT_EQ(type, FOURCC('F', 'L', 'A', 'C'));
    EXPECT_EQ(orvo::last_save_offer().types, std::vector<t_fourcc>{FOURCC('F', 'L', 'A', 'C')});

    // The settings were for that dialog only.
    orvo::dialog_answer_save(dir.file("plain"));
    type = FOURCC('D', 'A', 'T', 'A');
    ASSERT_EQ(saveasdialog_extended(name, &path, &type, four, 4), 0);
    EXPECT_STREQ(name, "plain");
    EXPECT_EQ(type, FOURCC('D', 'A', 'T', 'A')) << "the type passed in stays";
    EXPECT_FALSE(orvo::last_save_offer().autoextension);
    EXPECT_EQ(orvo::last_save_offer().selected, 0u);
}

TEST_F(FilesTest, SaveDialogCancelAndMissingFolder) {
    char name[ORVO_PATH_CHARS] = "Untitled.aif";
    short path = 0;
    t_fourcc type = 0;
    EXPECT_NE(saveasdialog_extended(name, &path, &type, nullptr, 0), 0);
    EXPECT_EQ(orvo::last_save_offer().default_name, "Untitled.aif") << "the offer is recorded even when cancelled";
    orvo::dialog_answer_cancel();
    EXPECT_NE(saveasdialog_extended(name, &path, &type, nullptr, 0), 0);
    orvo::dialog_answer_save(dir.file("nowhere/x.wav"));
    EXPECT_NE(saveasdialog_extended(name, &path, &type, nullptr, 0), 0);
    EXPECT_STREQ(name, "Untitled.aif");
}

}  // namespace
