// The host's sound-file object, checked against direct libsndfile calls on files generated here.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>

#include "buffer~/host/buffer_record.h"
#include "orvo_test.h"

namespace {

using namespace orvo_test;

class JsoundfileTest : public HostOnlyTest {
  protected:
    void SetUp() override {
        HostOnlyTest::SetUp();
        sf = object_new(cs->s_nobox, cs->s_jsoundfile);
        ASSERT_NE(sf, nullptr);
        char file[ORVO_PATH_CHARS];
        ASSERT_EQ(path_frompathname(dir.path.c_str(), &path, file), 0);
    }
    void TearDown() override {
        if (sf) object_free(sf);
        HostTest::TearDown();
    }
    long call(const char *msg, long arg = 0) { return (long)(intptr_t)object_method(sf, gensym(msg), arg); }
    long open(const std::string &name, long in = 0) {
        return (long)(intptr_t)object_method(sf, cs->s_open, in ? in : (long)path, name.c_str(), 0L, 0L);
    }
    void close() { object_method(sf, cs->s_close); }
    // Frames from start into nchans channels, over NaN so that floats left unwritten show.
    std::vector<float> read(t_atom_ulong start, t_atom_ulong frames, long nchans, long *rc) {
        std::vector<float> v(frames * (size_t)nchans, std::numeric_limits<float>::quiet_NaN());
        *rc = (long)(intptr_t)object_method(sf, gensym("readfloats"), v.data(), start, frames, nchans);
        return v;
    }
    // From host memory only, as a buffer's samples are.
    long write_from(t_fourcc type, const std::string &name, const float *samples, t_atom_long frames, long nchans,
                    long bits, double sr = 44100) {
        object_method(sf, gensym("format"), (long)type);
        open(name);
        method m = object_method_direct_getmethod((t_object *)sf, cs->s_setsamplerate);
        reinterpret_cast<void (*)(void *, double)>(reinterpret_cast<void (*)(void)>(m))(sf, sr);
        long rc = (long)(intptr_t)object_method(sf, gensym("writefloats"), samples, frames, nchans, bits, 0L);
        close();
        return rc;
    }
    long write(t_fourcc type, const std::string &name, const std::vector<float> &src, long bits, double sr = 44100) {
        auto *block = (float *)sysmem_newptr((t_ptr_int)(sizeof(float) * src.size()));
        std::copy(src.begin(), src.end(), block);
        long rc = write_from(type, name, block, (t_atom_long)src.size(), 1, bits, sr);
        sysmem_freeptr(block);
        return rc;
    }
    t_common_symbols_table *cs = common_symbols_gettable();
    void *sf = nullptr;
    orvo_test::TempDir dir;
    short path = 0;
};

// Each file is read from frame 0 or from its middle into fewer, as many or more
// channels: missing channels and frames past the end are zero.
TEST_F(JsoundfileTest, ReadsWhatLibsndfileReads) {
    // The decoding is libsndfile's; the host differs for AIFF only (it reads the instrument chunks too).
    const std::pair<int, const char *> formats[] = {{SF_FORMAT_WAV | SF_FORMAT_PCM_16, "wav"},
        {SF_FORMAT_AIFF | SF_FORMAT_PCM_32, "aif"}, {SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "flac"},
        {SF_FORMAT_CAF | SF_FORMAT_DOUBLE, "caf"}};
    const long lengths[] = {1, 2, 7, 127, 2049, 5000}, channels[] = {1, 2, 3, 8};
    int n = 0;
    for (auto &[format, ext] : formats)
        for (long frames : lengths)
            for (long chans : channels) {
                if ((n++ % 3) != 0 && frames > 7) continue;  // a spread of the combinations keeps it quick
                std::string name = "r" + std::to_string(n) + "." + ext;
                write_sound(dir.file(name), format, chans, signal(frames, chans), 32000 + n);
                auto ref = read_sound(dir.file(name));
                long start = n % 2 ? 0 : frames / 2, nch = std::max(1L, chans + (n / 2) % 3 - 1), rc = -1;
                std::vector<float> want((size_t)(frames * nch), 0.0f);
                for (long f = 0; start + f < frames; ++f)
                    for (long c = 0; c < std::min(nch, chans); ++c)
                        want[(size_t)(f * nch + c)] = ref.data[(size_t)((start + f) * chans + c)];
                ASSERT_EQ(open(name), 0) << name;
                EXPECT_EQ(read((t_atom_ulong)start, (t_atom_ulong)frames, nch, &rc), want) << name;
                EXPECT_EQ(std::vector<long>({call("getsr"), call("getchannelcount"), call("getlength"), rc}),
                          std::vector<long>({ref.info.samplerate, ref.info.channels, (long)ref.info.frames, 0}));
                close();
            }
}

TEST_F(JsoundfileTest, FailuresAndEdgeCases) {
    long rc = 0;
    EXPECT_EQ(read(0, 2, 2, &rc), std::vector<float>(4, 0.0f)) << "nothing open: still every float written";
    EXPECT_NE(rc, 0);
    std::ofstream(dir.file("junk.wav"), std::ios::binary) << std::string(200, 'j');
    for (auto name : {"absent.wav", "junk.wav"}) EXPECT_NE(open(name), 0) << name;
    EXPECT_NE(open("x.wav", 30000), 0) << "unknown path id";
    auto src = signal(10, 1);
    const t_fourcc wave = FOURCC('W', 'A', 'V', 'E');
    EXPECT_NE(write(wave, "odd.wav", src, 12), 0) << "no 12-bit samples";
    ASSERT_EQ(write(0, "byext.aif", src, 16, 96000), 0) << "type 0 takes the name's extension";
    EXPECT_EQ(read_sound(dir.file("byext.aif")).info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_AIFF);
    ASSERT_EQ(open("byext.aif"), 0) << "close ended the write side";
    EXPECT_EQ(call("getsr"), 96000);
    close();
    ASSERT_EQ(write(wave, "loud.wav", {1.5f, -2.0f, 0.5f}, 16), 0);
    auto loud = read_sound(dir.file("loud.wav")).data;
    EXPECT_TRUE(loud.size() == 3 && loud[0] > 0.99f && loud[1] == -1.0f) << "clipped, not wrapped";
}

// "writefloats" writes only from a live block that no bracket covers, and says why not.
TEST_F(JsoundfileTest, WritefloatsRefusesMemoryItMayNotRead) {
    static t_class *c = class_new("jsoundfile_test_buffer", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
    auto *b = (t_buffer *)object_alloc(c);
    b->b_memory = (float *)sysmem_newptrclear(48 * sizeof(float));
    float local[32] = {};
    const std::tuple<float *, t_atom_long, bool, const char *> cases[] = {
        // samples, frames of 2 channels, a bracket open on the block, the console's cause
        {local, 16, false, "jsoundfile: error: the samples are not in a live memory block"},
        {b->b_memory + 16, 17, false, "jsoundfile: error: the samples are not in a live memory block"},
        {b->b_memory + 16, 16, true, "jsoundfile: error: the samples are being replaced"},
        {b->b_memory + 16, 16, false, nullptr},
    };
    for (auto &[samples, frames, bracket, cause] : cases) {
        std::string name = "w" + std::to_string(frames) + (bracket ? "b" : "") + ".wav";
        EXPECT_TRUE(!bracket || buffer_edit_begin(b) == 0);
        long rc = write_from(FOURCC('W', 'A', 'V', 'E'), name, samples, frames, 2, 16);
        if (bracket) buffer_edit_end(b, -1);
        EXPECT_EQ(rc == 0, cause == nullptr) << name;
        EXPECT_EQ(console(), cause ? std::vector<std::string>{cause} : std::vector<std::string>{}) << name;
        EXPECT_EQ(std::filesystem::exists(dir.file(name)), cause == nullptr) << name;
    }
    sysmem_freeptr(b->b_memory);
    freeobject((t_object *)b);
}

TEST_F(JsoundfileTest, InstrumentData) {
    const char *queries[] = {"getbasepitch", "getdetune",          "getlowpitch",
                             "gethighpitch", "getlowvelocity",     "gethighvelocity",
                             "getgain",      "getsustainloopmode", "getreleaseloopmode"};
    using Loops = std::vector<std::pair<long, long>>;  // frames of the start and end markers of each loop that is on
    const std::tuple<std::vector<int>, std::vector<long>, Loops> cases[] = {
        // INST chunk, answers to the queries, loops. Both loops; the release loop's forward-and-back mode is kept:
        {{62, -5, 20, 100, 10, 120, -3, 1, 1, 2, 2, 3, 4}, {62, -5, 20, 100, 10, 120, -3, 1, 2}, {{10, 50}, {60, 90}}},
        // sustain ids set but the loop off; a release loop only
        {{60, 0, 0, 127, 1, 127, 0, 0, 1, 2, 1, 3, 4}, {60, 0, 0, 127, 1, 127, 0, 0, 1}, {{60, 90}}},
        {{}, {0, 0, 0, 0, 0, 0, 0, 0, 0}, {}},
    };
    for (auto &[inst, answers, loops] : cases) {
        std::ofstream(dir.file("inst.aif"), std::ios::binary) << aiff_with_instrument(inst);
        ASSERT_EQ(open("inst.aif"), 0);
        std::vector<long> got;
        for (const char *q : queries) got.push_back(call(q));
        EXPECT_EQ(got, answers);
        Loops got_loops;
        for (std::string loop : {"sustain", "release"})
            if (call(("get" + loop + "loopmode").c_str()))
                got_loops.emplace_back(call("searchmarkers", call(("get" + loop + "loopstart").c_str())),
                                       call("searchmarkers", call(("get" + loop + "loopend").c_str())));
        EXPECT_EQ(got_loops, loops);
        EXPECT_EQ(call("searchmarkers", 9), 0) << "a marker the file does not hold";
        close();
    }
}

}  // namespace
