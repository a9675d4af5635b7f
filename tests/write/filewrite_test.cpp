// Writing files by name: containers, encodings, names and folders, failures, threads.
#include <unistd.h>

#include "write_fixture.h"

using namespace write_test;

namespace {

class FileWrite : public WriteTest {};

TEST_F(FileWrite, ContentsAndShapeSurviveTheRoundTrip) {
    const std::pair<t_atom_long, t_atom_long> shapes[] = {{1, 1}, {7, 3}, {127, 2}, {2049, 2}, {300, 8}, {0, 1}};
    for (auto [frames, chans] : shapes) {
        std::string name = "shape" + std::to_string(frames) + "x" + std::to_string(chans) + ".wav";
        t_buffer *b = filled("", frames, chans);
        send(b, "write", path(name));
        Sound s = read_sound(path(name));
        EXPECT_EQ(s.major(), SF_FORMAT_WAV) << name;
        EXPECT_EQ(s.sub(), SF_FORMAT_PCM_16) << name;
        EXPECT_EQ(s.info.samplerate, 44100) << name;
        EXPECT_TRUE(same_samples(b, s, 1e-4f)) << name;
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(FileWrite, TheBuffersOwnRateIsWritten) {
    t_buffer *b = filled("", 10, 1);
    send(b, "sr", "22050");
    send(b, "writeaiff", path("rate.aif"));
    EXPECT_EQ(read_sound(path("rate.aif")).info.samplerate, 22050);
}

TEST_F(FileWrite, EncodingsReachTheFile) {
    struct Case {
        const char *format;
        int sub;
        float tol;
    };
    const Case cases[] = {
        {"int8", SF_FORMAT_PCM_S8, 1.0f / 64}, {"int16", SF_FORMAT_PCM_16, 1e-4f}, {"24", SF_FORMAT_PCM_24, 1e-6f},
        {"int32", SF_FORMAT_PCM_32, 1e-6f},    {"float32", SF_FORMAT_FLOAT, 0.0f}, {"float64", SF_FORMAT_DOUBLE, 0.0f},
    };
    t_buffer *b = filled("", 50, 2);
    for (const Case &c : cases) {
        std::string name = std::string("enc_") + c.format + ".aif";
        send(b, "format", c.format);
        send(b, "writeaiff", path(name));
        Sound s = read_sound(path(name));
        EXPECT_EQ(s.major(), SF_FORMAT_AIFF) << c.format;
        EXPECT_EQ(s.sub(), c.sub) << c.format;
        EXPECT_TRUE(same_samples(b, s, c.tol)) << c.format;
    }
}

TEST_F(FileWrite, RefusedDepthAfterFloatGivesIntegersOfTheOldSize) {
    t_buffer *b = filled("", 20, 1);
    send(b, "format", "float32");
    send(b, "format", "12");
    console();
    send(b, "writewave", path("twelve.wav"));
    Sound s = read_sound(path("twelve.wav"));
    EXPECT_EQ(s.sub(), SF_FORMAT_PCM_32);
    EXPECT_TRUE(same_samples(b, s, 1e-6f));
}

TEST_F(FileWrite, MessageAndNameChooseTheContainer) {
    struct Case {
        const char *filetype;  // set first, "" for the default AIFF
        const char *msg;
        const char *file;
        t_fourcc written;
        int major;  // 0: data with no header
    };
    const Case cases[] = {
        // The typed messages write their own container, whatever the record held.
        {"au", "writewave", "t.wave", WAVE, SF_FORMAT_WAV},
        {"wave", "writeaiff", "t.aiff", AIFF, SF_FORMAT_AIFF},
        {"wave", "writeflac", "t.fl", FLAC, SF_FORMAT_FLAC},
        {"wave", "writeraw", "t.data", DATA, 0},
        // A recognised extension overrides the message and the record.
        {"wave", "write", "a.flac", FLAC, SF_FORMAT_FLAC},
        {"", "write", "b.wav", WAVE, SF_FORMAT_WAV},
        {"wave", "write", "c.aif", AIFF, SF_FORMAT_AIFF},
        {"wave", "write", "d.aiff", AIFF, SF_FORMAT_AIFF},
        {"", "writeaiff", "e.wav", WAVE, SF_FORMAT_WAV},
        {"", "writeflac", "f.aif", AIFF, SF_FORMAT_AIFF},
        {"", "writeraw", "g.flac", FLAC, SF_FORMAT_FLAC},
        // Case-sensitive, last dot only, and no extension at all: the current type stays.
        {"", "write", "h.WAV", AIFF, SF_FORMAT_AIFF},
        {"wave", "writeaiff", "i.Flac", AIFF, SF_FORMAT_AIFF},
        {"", "writewave", "j.aif.bak", WAVE, SF_FORMAT_WAV},
        {"au", "write", "k", NEXT, SF_FORMAT_AU},
        {"raw", "write", "l", RAW, 0},
    };
    for (const Case &c : cases) {
        t_buffer *b = filled("", 16, 1);
        if (*c.filetype) send(b, "filetype", c.filetype);
        send(b, c.msg, path(c.file));
        EXPECT_EQ(fourcc_text(b->b_filetype), fourcc_text(c.written)) << c.msg << " " << c.file;
        if (c.major) {
            Sound s = read_sound(path(c.file));
            EXPECT_EQ(s.major(), c.major) << c.msg << " " << c.file;
            EXPECT_TRUE(same_samples(b, s, 1e-4f)) << c.msg << " " << c.file;
        } else {
            EXPECT_EQ(file_size(path(c.file)), 16u * 2) << c.file;
        }
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(FileWrite, FoldersOfGivenNames) {
    std::filesystem::create_directory(path("sub"));
    t_buffer *b = filled("", 8, 1);
    send(b, "writewave", path("sub/in_sub.wav"));
    EXPECT_EQ(read_sound(path("sub/in_sub.wav")).major(), SF_FORMAT_WAV);

    // A name without a folder, or with a folder that is not there, lands in the default folder.
    std::string plain = "orvo_write_plain_" + std::to_string(getpid()) + ".wav";
    std::string lost = "orvo_write_lost_" + std::to_string(getpid()) + ".aif";
    send(b, "write", plain);
    send(b, "write", path("missing/" + lost));
    EXPECT_FALSE(exists(path("missing")));
    Sound s1 = read_sound(default_folder_file(plain));
    Sound s2 = read_sound(default_folder_file(lost));
    std::filesystem::remove(default_folder_file(plain));
    std::filesystem::remove(default_folder_file(lost));
    EXPECT_EQ(s1.major(), SF_FORMAT_WAV);
    EXPECT_EQ(s2.major(), SF_FORMAT_AIFF);
    EXPECT_TRUE(same_samples(b, s2, 1e-4f));
    EXPECT_TRUE(console().empty());
}

TEST_F(FileWrite, FailedWritesLeaveNoFileAndSayWhich) {
    struct Case {
        const char *format;
        const char *msg;
        const char *file;
        bool existed;  // a file of that name was there before
    };
    const Case cases[] = {
        {"float32", "writeflac", "f32.flac", false},
        {"float64", "write", "f64.flac", true},
        {"float32", "writeaiff", "f32b.flac", true},
    };
    for (const Case &c : cases) {
        t_buffer *b = filled("", 10, 1);
        if (c.existed) {
            FILE *f = fopen(path(c.file).c_str(), "w");
            ASSERT_NE(f, nullptr);
            fputs("old", f);
            fclose(f);
        }
        send(b, "format", c.format);
        send(b, c.msg, path(c.file));
        EXPECT_EQ(console(), std::vector<std::string>{std::string("buffer~: error: could not create file: ") + c.file})
            << c.file;
        EXPECT_FALSE(exists(path(c.file))) << c.file;
        EXPECT_EQ(fourcc_text(b->b_filetype), "FLAC") << c.file;
    }
    // The sound-file object is closed after a failure: the next write works.
    t_buffer *b = filled("", 10, 1);
    send(b, "format", "float32");
    send(b, "writeflac", path("bad.flac"));
    send(b, "format", "int16");
    send(b, "writeflac", path("good.flac"));
    EXPECT_TRUE(same_samples(b, read_sound(path("good.flac")), 1e-4f));
}

TEST_F(FileWrite, OverlongNamesAreCut) {
    std::string longname(3000, 'n');
    t_buffer *b = filled("", 4, 1);
    send(b, "writeraw", longname);
    auto lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "buffer~: error: could not create file: " + std::string(2047, 'n'));
}

TEST_F(FileWrite, EveryCompletedWriteNotifiesAndBangsOnce) {
    t_buffer *b = filled("n", 10, 1);
    print_bangs(b);
    watch("n");
    const std::vector<std::string> done{"watch n: buffer_modified", "P: bang"};

    send(b, "writewave", path("ok.wav"));
    EXPECT_EQ(console(), done);
    orvo::advance(1);
    send(b, "write", path("ok2.aif"));
    EXPECT_EQ(console(), done);
    orvo::advance(1);
    send(b, "format", "float32");
    send(b, "writeflac", path("fails.flac"));
    std::vector<std::string> failed{"buffer~: error: could not create file: fails.flac"};
    failed.insert(failed.end(), done.begin(), done.end());
    EXPECT_EQ(console(), failed);
    // Two writes within one scheduler time: one notification, but each owes its bang.
    orvo::advance(1);
    send(b, "writeaiff", path("t1.aif"));
    send(b, "writeaiff", path("t2.aif"));
    EXPECT_EQ(console(), (std::vector<std::string>{"watch n: buffer_modified", "P: bang", "P: bang"}));
    EXPECT_EQ(b->b_modified, 0);
}

TEST_F(FileWrite, ThreadsOfWriteAndTheTypedWrites) {
    t_buffer *b = filled("th", 64, 2);
    print_bangs(b);
    watch("th");

    // "write" from the scheduler waits for the main thread.
    send_sched(b, "write", path("later.wav"));
    EXPECT_FALSE(exists(path("later.wav")));
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_TRUE(same_samples(b, read_sound(path("later.wav")), 1e-4f));
    EXPECT_EQ(console(), (std::vector<std::string>{"watch th: buffer_modified", "P: bang"}));

    // A typed write is done before the scheduler hands back; only the notice waits.
    orvo::advance(1);
    send_sched(b, "writewave", path("now.wav"));
    EXPECT_TRUE(same_samples(b, read_sound(path("now.wav")), 1e-4f));
    EXPECT_EQ(b->b_modified, 1);
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_EQ(console(), (std::vector<std::string>{"watch th: buffer_modified", "P: bang"}));
}

TEST_F(FileWrite, WriteDirectAlwaysWritesAiff) {
    t_buffer *b = filled("", 40, 2);
    print_bangs(b);
    send(b, "filetype", "wave");
    short folder = 0;
    char unused[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir_.path.c_str(), &folder, unused), 0);
    auto direct = [&](const char *name) {
        return (long)(intptr_t)object_method(b, gensym("write_direct"), folder, name);
    };

    EXPECT_EQ(direct("direct.wav"), 0);
    EXPECT_EQ(fourcc_text(b->b_filetype), "AIFF");
    Sound s = read_sound(path("direct.wav"));
    EXPECT_EQ(s.major(), SF_FORMAT_AIFF);
    EXPECT_EQ(s.sub(), SF_FORMAT_PCM_16);
    EXPECT_TRUE(same_samples(b, s, 1e-4f));
    EXPECT_EQ(console(), std::vector<std::string>{"P: bang"});

    send(b, "format", "float32");
    EXPECT_EQ(direct("direct_f.aif"), 0);
    EXPECT_EQ(read_sound(path("direct_f.aif")).sub(), SF_FORMAT_FLOAT);
    console();

    // A folder id the host does not know: refused, reported, and the bang still sent.
    folder = 30000;
    EXPECT_NE(direct("nowhere.aif"), 0);
    EXPECT_EQ(console(), (std::vector<std::string>{"buffer~: error: could not create file: nowhere.aif", "P: bang"}));
}

}  // namespace
