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

TEST_F(JsoundfileTest, FailuresAndEdgeCases) {
    EXPECT_NE(open("absent.wav"), 0);
    const t_fourcc wave = FOURCC('W', 'A', 'V', 'E');
    EXPECT_NE(write(wave, "odd.wav", signal(10, 1), 12), 0) << "no 12-bit samples";
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

}  // namespace
