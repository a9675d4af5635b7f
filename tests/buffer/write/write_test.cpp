// buffer~ writing sound files: the format settings, the save dialog, containers,
// encodings, names and folders, failures and threads. Files are read back with
// libsndfile directly, which is the reference.
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace {

using Lines = std::vector<std::string>;
constexpr t_fourcc AIFF = FOURCC('A', 'I', 'F', 'F'), WAVE = FOURCC('W', 'A', 'V', 'E'),
                   FLAC = FOURCC('F', 'L', 'A', 'C'), DATA = FOURCC('D', 'A', 'T', 'A');

std::string fourcc_text(t_atom_long code) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) s += (char)((code >> shift) & 0xff);
    return s;
}

// A sound file as libsndfile sees it (hint: the layout of a headerless file); format 0 when unreadable.
struct Sound {
    SF_INFO info{};
    std::vector<float> samples;
};
Sound read_sound(const std::string &path, SF_INFO hint = {}) {
    Sound s{hint, {}};
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &s.info);
    if (!f) return Sound{};
    s.samples.resize((size_t)(s.info.frames * s.info.channels));
    if (s.info.frames && sf_readf_float(f, s.samples.data(), s.info.frames) != s.info.frames) s.info.format = 0;
    sf_close(f);
    return s;
}
int container(const std::string &path) { return read_sound(path).info.format & SF_FORMAT_TYPEMASK; }

// Every sample of the file equals the buffer's within tol, frame by frame and channel by channel.
::testing::AssertionResult same_samples(const t_buffer *b, const Sound &s, float tol = 1e-4f) {
    if (!s.info.format || s.info.frames != b->b_frames || s.info.channels != b->b_nchans)
        return ::testing::AssertionFailure() << "file read: " << s.info.frames << "x" << s.info.channels;
    for (size_t i = 0; i < s.samples.size(); i++)
        if (!(std::abs(s.samples[i] - b->b_samples[i]) <= tol))
            return ::testing::AssertionFailure() << "sample " << i << ": " << s.samples[i] << " vs " << b->b_samples[i];
    return ::testing::AssertionSuccess();
}

class Write : public orvo_test::BufferTest {
  protected:
    // A buffer of frames x chans holding a pattern that differs in every sample and stays inside -1..1;
    // observed, each write shows as "watch NAME: buffer_modified" and "P: bang".
    t_buffer *filled(const std::string &name, t_atom_long frames, t_atom_long chans, bool observed = false) {
        t_buffer *b = buffer(name);
        send(b, "sizeinsamps", std::to_string(frames) + " " + std::to_string(chans));
        for (t_atom_long i = 0; i < frames * chans; i++) b->b_samples[i] = (float)(((i * 37) % 199) - 99) / 110.0f;
        if (observed) {
            EXPECT_TRUE(orvo::connect(&b->b_obj, 1, box("print", "P")));
            watch(name);
        }
        orvo::advance(1);
        console();
        return b;
    }
    std::string path(const std::string &name) const { return dir_.file(name); }
    orvo_test::TempDir dir_;
};

TEST_F(Write, DialogOffersFollowTheTypeAndTheMessageAndCancelWritesNothing) {
    const std::vector<t_fourcc> four{AIFF, WAVE, DATA, FLAC};
    const struct {
        t_fourcc filetype;  // before the message
        const char *msg, *offered;
        std::vector<t_fourcc> types;
        t_fourcc selected;
    } cases[] = {
        {WAVE, "write", "Untitled.wav", four, WAVE},
        // A type the list does not hold is not preselected: the list's first is.
        {FOURCC('N', 'x', 'T', 'S'), "write", "Untitled.snd", four, AIFF},
        {FOURCC('S', 'd', '2', 'f'), "write", "Untitled.sd", four, AIFF}, {FLAC, "write", "Untitled.raw", four, FLAC},
        {WAVE, "writeflac", "Untitled.raw", {FLAC}, FLAC}, {AIFF, "writewave", "Untitled.wav", {WAVE}, WAVE},
    };
    t_buffer *b = filled("d", 10, 1, true);
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.msg) + " from " + fourcc_text(c.filetype));
        b->b_filetype = c.filetype;
        send(b, c.msg);  // no answer queued: the dialog is cancelled
        auto offer = orvo::last_save_offer();
        EXPECT_EQ(offer.default_name, c.offered);
        EXPECT_EQ(offer.types, c.types);
        EXPECT_EQ(offer.selected, c.selected);
        EXPECT_TRUE(offer.autoextension);
        // The typed messages keep their type even when cancelled; "write" leaves it alone.
        EXPECT_EQ(b->b_filetype, std::string(c.msg) == "write" ? c.filetype : c.selected);
        orvo::advance(1);
        EXPECT_TRUE(console().empty());  // no notification, no bang
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path));
}

TEST_F(Write, DialogAnswersDecideNameFolderAndType) {
    std::filesystem::create_directory(path("chosen"));
    t_buffer *b = filled("", 12, 2);
    // The preselected type's extension is added, and the answer's folder is used.
    orvo::dialog_answer_save(path("chosen/pick"));
    send(b, "writewave");
    EXPECT_TRUE(same_samples(b, read_sound(path("chosen/pick.wav"))));
    // The type picked in the dialog is written and kept.
    orvo::dialog_answer_save(path("choose.flac"), FLAC);
    send(b, "write");
    EXPECT_EQ(fourcc_text(b->b_filetype), "FLAC");
    EXPECT_EQ(container(path("choose.flac")), SF_FORMAT_FLAC);
    // The answer is taken as it comes back: its extension does not pick the type.
    orvo::dialog_answer_save(path("named.wav"));
    send(b, "writeaiff");
    EXPECT_EQ(container(path("named.wav")), SF_FORMAT_AIFF);
    // A type left from reading a file that cannot be written is not what the user picks.
    b->b_filetype = FOURCC('M', 'p', '3', ' ');
    orvo::dialog_answer_save(path("after_mp3"));
    send(b, "write");
    EXPECT_EQ(fourcc_text(b->b_filetype), "AIFF");
    EXPECT_EQ(container(path("after_mp3.aif")), SF_FORMAT_AIFF);
    EXPECT_TRUE(console().empty());
}

TEST_F(Write, ContainerEncodingAndContents) {
    const int WAV16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16, AIFF16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16,
              FLAC16 = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    const struct {
        const char *setup;  // messages sent first
        const char *msg, *file;
        t_atom_long frames, chans;
        const char *type;  // b_filetype afterwards
        int format;        // as libsndfile reports it; 0: data with no header, two bytes a sample
        float tol;
    } cases[] = {
        // Encodings, shapes and the buffer's own rate reach the file.
        {"", "write", "sub/a.wav", 7, 3, "WAVE", WAV16, 1e-4f},
        {"format 24;sr 22050", "writeaiff", "c", 2049, 2, "AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1e-6f},
        {"format float32", "writewave", "d", 300, 8, "WAVE", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0},
        {"format float64", "writeaiff", "e", 1, 1, "AIFF", SF_FORMAT_AIFF | SF_FORMAT_DOUBLE, 0},
        // A bit depth always means plain integers, even one that is refused.
        {"format float32;format 12", "writewave", "f", 20, 1, "WAVE", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 1e-6f},
        {"format int8", "writewave", "f8.wav", 16, 1, "WAVE", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 0.01f},
        {"format float64;format 8", "writeaiff", "f8", 16, 1, "AIFF", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 0.01f},
        // Ignored: floats, wrongly cased names, nothing. Only the first argument counts.
        {"format 24;format 16.0;samptype MULAW;format", "writewave", "fm", 16, 1, "WAVE",
         SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1e-6f},
        {"format mulaw;format 24 12", "writewave", "fx", 16, 1, "WAVE", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 1e-6f},
        {"", "write", "g.wav", 0, 1, "WAVE", WAV16, 0},
        // The typed messages write their own container, whatever the record held.
        {"filetype wave", "writeflac", "i.fl", 16, 1, "FLAC", FLAC16, 1e-4f},
        {"filetype wave", "writeraw", "j.data", 16, 1, "DATA", 0, 0},
        // A known extension (last dot, case-sensitive) overrides the message and the record;
        // without one the record's type is written.
        {"filetype wave", "write", "take.flac", 16, 1, "FLAC", FLAC16, 1e-4f},
        {"filetype wave", "write", "k.aif", 16, 1, "AIFF", AIFF16, 1e-4f},
        {"", "write", "take.WAV", 16, 1, "AIFF", AIFF16, 1e-4f},
        {"", "writeaiff", "m.aif.wav", 16, 1, "WAVE", WAV16, 1e-4f},
        {"filetype au", "write", "n", 16, 1, "NxTS", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1e-4f},
        // Not file types of this message: the type before stays.
        {"filetype au;filetype flac;filetype WAVE", "write", "n2", 16, 1, "NxTS", SF_FORMAT_AU | SF_FORMAT_PCM_16, 1e-4f},
        {"filetype raw", "write", "o", 16, 1, "????", 0, 0},
        // G.711 where the container holds it; AIFF holds it in its compressed form.
        {"format alaw", "writeaiff", "q.aif", 300, 2, "AIFF", SF_FORMAT_AIFF | SF_FORMAT_ALAW, 0.02f},
        {"format mulaw;filetype au", "write", "r", 300, 1, "NxTS", SF_FORMAT_AU | SF_FORMAT_ULAW, 0.02f},
        {"format alaw", "writeraw", "s", 300, 1, "DATA", SF_FORMAT_RAW | SF_FORMAT_ALAW, 0.02f},
        {"format float64;samptype mulaw", "writewave", "s2", 300, 1, "WAVE", SF_FORMAT_WAV | SF_FORMAT_ULAW, 0.02f},
    };
    std::filesystem::create_directory(path("sub"));
    for (auto &c : cases) {
        SCOPED_TRACE(c.file);
        t_buffer *b = filled("", c.frames, c.chans);
        sends(b, c.setup);
        const bool refused = std::string(c.setup).ends_with("format 12");
        EXPECT_EQ(console(), refused ? Lines{"buffer~: error: unsupported output bit depth 12"} : Lines{});
        send(b, c.msg, path(c.file));
        EXPECT_EQ(fourcc_text(b->b_filetype), c.type);
        if (!c.format) {
            EXPECT_EQ(std::filesystem::file_size(path(c.file)), (uintmax_t)(c.frames * c.chans * 2));
            continue;
        }
        SF_INFO raw{0, (int)b->b_sr, (int)c.chans, c.format, 0, 0};
        Sound s = read_sound(path(c.file), (c.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW ? raw : SF_INFO{});
        EXPECT_EQ(s.info.format, c.format);
        EXPECT_EQ(s.info.samplerate, (int)b->b_sr);
        EXPECT_TRUE(same_samples(b, s, c.tol));
    }
    EXPECT_TRUE(console().empty());
    EXPECT_EQ(orvo_test::slurp(path("q.aif")).substr(8, 4), "AIFC");
}

TEST_F(Write, EveryWriteNotifiesAndBangsOnceAndFailuresLeaveNoFile) {
    t_buffer *b = filled("n", 10, 1, true);
    orvo_test::spit(path("old.flac"), "old");
    const struct {
        const char *format, *msg;
        std::string file, said;  // said: the name in the error, "" when the write works
        const char *cause;       // the sound-file object's line before it
    } cases[] = {
        {"float32", "writeflac", path("new.flac"), "new.flac", "FLAC cannot hold 32-bit float samples"},
        // the user's file that was there stays
        {"float64", "write", path("old.flac"), "old.flac", "FLAC cannot hold 64-bit float samples"},
        {"int32", "writeflac", path("i32.flac"), "i32.flac", "FLAC cannot hold 32-bit integer samples"},
        {"alaw", "writeflac", path("g711.flac"), "g711.flac", "FLAC cannot hold G.711 samples"},
        {"int16", "writeflac", path("good.flac"), "", ""},  // and after failures a write works again
        // overlong names are cut
        {"int16", "writeraw", std::string(3000, 'n'), std::string(2047, 'n'), "File name too long"},
    };
    std::error_code ec;
    for (auto &c : cases) {
        SCOPED_TRACE(c.file.substr(0, 100));
        orvo::advance(1);
        send(b, "format", c.format);
        send(b, c.msg, c.file);
        Lines said{"watch n: buffer_modified", "P: bang"};
        if (!c.said.empty())
            said.insert(said.begin(), {std::string("jsoundfile: error: ") + c.cause,
                                       "buffer~: error: could not create file: " + c.said});
        EXPECT_EQ(console(), said);
        if (c.said.empty()) {
            EXPECT_TRUE(same_samples(b, read_sound(c.file)));
        } else if (c.file == path("old.flac")) {
            EXPECT_EQ(orvo_test::slurp(c.file), "old");
        } else {
            EXPECT_FALSE(std::filesystem::exists(c.file, ec));  // too long a name is not there either
        }
    }
    // Two writes within one scheduler time: one notification, but each owes its bang.
    orvo::advance(1);
    send(b, "writeaiff", path("t1.aif"));
    send(b, "writeaiff", path("t2.aif"));
    EXPECT_EQ(console(), (Lines{"watch n: buffer_modified", "P: bang", "P: bang"}));
}

TEST_F(Write, WriteIsDeferredTheTypedWritesAreNot) {
    t_buffer *b = filled("th", 64, 2, true);
    const Lines done{"watch th: buffer_modified", "P: bang"};
    send_sched(b, "write", path("later.wav"));
    EXPECT_FALSE(std::filesystem::exists(path("later.wav")));
    orvo::run_until_idle();
    EXPECT_TRUE(same_samples(b, read_sound(path("later.wav"))));
    EXPECT_EQ(console(), done);
    // Written before the scheduler hands back; only the notice waits.
    orvo::advance(1);
    send_sched(b, "writewave", path("now.wav"));
    EXPECT_TRUE(same_samples(b, read_sound(path("now.wav"))));
    EXPECT_TRUE(console().empty());
    orvo::run_until_idle();
    EXPECT_EQ(console(), done);
}

TEST_F(Write, WriteDirectAlwaysWritesAiff) {
    t_buffer *b = filled("w", 40, 2, true);
    sends(b, "filetype wave;format float32");
    short folder = 0;
    char unused[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir_.path.c_str(), &folder, unused), 0);
    EXPECT_EQ(object_method(b, gensym("write_direct"), folder, "direct.wav"), nullptr);
    EXPECT_EQ(fourcc_text(b->b_filetype), "AIFF");
    Sound s = read_sound(path("direct.wav"));
    EXPECT_EQ(s.info.format, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    EXPECT_TRUE(same_samples(b, s, 0));
    EXPECT_EQ(console(), (Lines{"watch w: buffer_modified", "P: bang"}));
    // A folder id the host does not know: refused, reported, and still notified.
    orvo::advance(1);
    EXPECT_NE(object_method(b, gensym("write_direct"), (short)30000, "nowhere.aif"), nullptr);
    EXPECT_EQ(console(), (Lines{"jsoundfile: error: no such folder", "buffer~: error: could not create file: nowhere.aif",
                                "watch w: buffer_modified", "P: bang"}));
}

}  // namespace
