// The raw writer: file creation, block-wise writing, end-of-file handling and
// its failures, through the host's real files.
#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "buffer~/write/sampencode.h"
#include "orvo_test.h"

// Every sysfile_write of this executable passes through here: the tests see each
// write's size and can make one fail. The host's own function does the writing.
namespace write_spy {
std::vector<t_ptr_size> sizes;
int fail_at = -1;  // index of the write that fails, -1 for none
short fail_code = 0;
}  // namespace write_spy

extern "C" short sysfile_write(t_filehandle f, t_ptr_size *count, const void *buf) {
    using Fn = short (*)(t_filehandle, t_ptr_size *, const void *);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "sysfile_write"));
    const int index = (int)write_spy::sizes.size();
    write_spy::sizes.push_back(*count);
    if (index == write_spy::fail_at) return write_spy::fail_code;
    return real(f, count, buf);
}

namespace {

using Bytes = std::vector<unsigned char>;
constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E');

class RawWriter : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }

    void SetUp() override {
        HostTest::SetUp();
        char file[ORVO_PATH_CHARS] = "";
        ASSERT_EQ(path_frompathname(dir_.path.c_str(), &path_, file), 0);
        write_spy::sizes.clear();
        write_spy::fail_at = -1;
        x_.b_samples = samples_.data();
        x_.b_outsampsize = 2;
        x_.b_samptype = kNone;
    }

    void TearDown() override {
        if (fh_) sysfile_close(fh_);
        HostTest::TearDown();
    }

    // A file holding bytes, its handle positioned at pos; the spy starts counting afresh.
    void existing_file(const Bytes &bytes, t_ptr_size pos) {
        if (fh_) sysfile_close(fh_);
        fh_ = nullptr;
        ASSERT_EQ(buffer_createfile(&x_, "f.raw", path_, FOURCC('D', 'A', 'T', 'A'), &fh_), 0);
        t_ptr_size n = bytes.size();
        ASSERT_EQ(sysfile_write(fh_, &n, bytes.data()), 0);
        ASSERT_EQ(sysfile_setpos(fh_, pos), 0);
        write_spy::sizes.clear();
    }

    Bytes file_bytes() const {
        std::ifstream in(dir_.file("f.raw"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    // Whether a console line ends with text (tags vary with the object).
    bool console_ends_with(const std::string &text) {
        for (const std::string &l : console())
            if (l.size() >= text.size() && l.compare(l.size() - text.size(), text.size(), text) == 0) return true;
        return false;
    }

    orvo_test::TempDir dir_;
    short path_ = 0;
    std::vector<float> samples_ = std::vector<float>(8193);
    t_buffer x_{};
    t_filehandle fh_ = nullptr;
};

TEST_F(RawWriter, EveryFormatInBlocksOf8192) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-1.1f, 1.1f);
    for (auto &f : samples_) f = dist(rng);
    samples_[8191] = NAN;
    samples_[8192] = -2.0f;
    struct Format {
        t_atom_long size, code;
        short flag;
    };
    for (Format fm : {Format{1, kNone, 0},
                      {1, FOURCC('A', 'L', 'A', 'W'), 0},
                      {1, FOURCC('U', 'L', 'A', 'W'), 1},
                      {2, kNone, 0},
                      {2, kNone, 1},
                      {3, kNone, 1},
                      {4, kNone, 0},
                      {4, FOURCC('F', 'L', '3', '2'), 1},
                      {8, kNone, 0}}) {
        x_.b_outsampsize = fm.size;
        x_.b_samptype = fm.code;
        existing_file({}, 0);
        buffer_writesamples(&x_, "f.raw", 8193, fh_, fm.flag);
        ASSERT_EQ(sysfile_close(fh_), 0);
        fh_ = nullptr;
        Bytes want(8193 * fm.size);
        buffer_convert(samples_.data(), want.data(), 8193, fm.size, fm.code, fm.flag);
        EXPECT_EQ(file_bytes(), want) << "size " << fm.size;
        EXPECT_EQ(write_spy::sizes, (std::vector<t_ptr_size>{8192 * (t_ptr_size)fm.size, (t_ptr_size)fm.size}));
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(RawWriter, EndOfFileIsCutToWhatWasWritten) {
    samples_[0] = 1.0f;
    samples_[1] = -1.0f;
    existing_file(Bytes(1000, 0x55), 0);
    buffer_writesamples(&x_, "f.raw", 2, fh_, 0);
    EXPECT_EQ(file_bytes(), (Bytes{0x7F, 0xFF, 0x80, 0x01}));

    existing_file(Bytes(100, 0x55), 10);
    buffer_writesamples(&x_, "f.raw", 0, fh_, 0);
    EXPECT_TRUE(write_spy::sizes.empty());
    EXPECT_EQ(file_bytes(), Bytes(10, 0x55)) << "a count of 0 still cuts at the current position";
}

TEST_F(RawWriter, UnsupportedSizesLeaveTheFileAsItWas) {
    const Bytes before(50, 0x33);
    existing_file(before, 5);
    for (t_atom_long size : {0, 5, 6, 7, 9, -2}) {
        x_.b_outsampsize = size;
        buffer_writesamples(&x_, "f.raw", 100, fh_, 0);
    }
    EXPECT_TRUE(write_spy::sizes.empty());
    EXPECT_EQ(file_bytes(), before);
    EXPECT_TRUE(console().empty()) << "such sizes are not reported";
}

TEST_F(RawWriter, WriteErrorKeepsEarlierBlocksAndTheOldEnd) {
    existing_file(Bytes(40000, 0x55), 0);
    write_spy::fail_at = 1;
    write_spy::fail_code = -7;
    buffer_writesamples(&x_, "f.raw", 8193, fh_, 0);
    EXPECT_TRUE(console_ends_with("f.raw: write error -7"));
    EXPECT_EQ(write_spy::sizes.size(), 2u) << "stops at the failing write";
    const Bytes got = file_bytes();
    ASSERT_EQ(got.size(), 40000u) << "the end of the file must not move";
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 16384), Bytes(16384, 0));
    EXPECT_EQ(got[16384], 0x55);
}

TEST_F(RawWriter, HostWriteFailureIsReported) {
    existing_file(Bytes(8, 0x55), 0);
    sysfile_close(fh_);
    fh_ = nullptr;
    ASSERT_EQ(path_opensysfile("f.raw", path_, &fh_, 1), 0);  // read only: writes fail
    buffer_writesamples(&x_, "f.raw", 3, fh_, 1);
    bool reported = false;
    for (const std::string &l : console()) reported |= l.find("f.raw: write error ") != std::string::npos;
    EXPECT_TRUE(reported);
    EXPECT_EQ(file_bytes(), Bytes(8, 0x55));
}

TEST_F(RawWriter, StagingBlockFailureWritesNothing) {
    existing_file(Bytes(8, 0x55), 0);
    orvo::mem_fail_next(1);
    buffer_writesamples(&x_, "f.raw", 3, fh_, 1);
    EXPECT_TRUE(console_ends_with("f.raw: out of memory"));
    EXPECT_TRUE(write_spy::sizes.empty());
    EXPECT_EQ(file_bytes(), Bytes(8, 0x55));
}

TEST_F(RawWriter, CreateFileFailureReturnsTheHostCode) {
    t_filehandle fh = nullptr;
    const t_orvo_err err = buffer_createfile(&x_, "missing/f.raw", path_, FOURCC('D', 'A', 'T', 'A'), &fh);
    EXPECT_NE(err, 0);
    EXPECT_EQ(fh, nullptr);
    EXPECT_TRUE(console_ends_with("can't make file missing/f.raw, err " + std::to_string(err)));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("missing/f.raw")));
}

}  // namespace
