// The raw writer through the host's real files.
#include <dlfcn.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "buffer~/write/sampencode.h"
#include "orvo_test.h"

// Every sysfile_write of this executable passes through here, so tests see each
// write's size and can make one fail; the host's own function does the writing.
namespace write_spy {
std::vector<t_ptr_size> sizes;
int fail_at = -1;
}  // namespace write_spy

extern "C" short sysfile_write(t_filehandle f, t_ptr_size *count, const void *buf) {
    using Fn = short (*)(t_filehandle, t_ptr_size *, const void *);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "sysfile_write"));
    write_spy::sizes.push_back(*count);
    return (int)write_spy::sizes.size() - 1 == write_spy::fail_at ? -7 : real(f, count, buf);
}

namespace {

using Bytes = std::vector<unsigned char>;
constexpr t_atom_long kNone = FOURCC('N', 'O', 'N', 'E'), kAlaw = FOURCC('A', 'L', 'A', 'W'),
                      kFl32 = FOURCC('F', 'L', '3', '2');

class RawWriter : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }

    void TearDown() override {
        if (fh_) sysfile_close(fh_);
        HostTest::TearDown();
    }

    // f.raw holding bytes, the handle at its start, x_ writing size bytes of code; the spy starts afresh.
    void existing_file(const Bytes &bytes, t_atom_long size = 2, t_atom_long code = kNone) {
        char file[ORVO_PATH_CHARS] = "";
        short path = 0;
        ASSERT_EQ(path_frompathname(dir_.path.c_str(), &path, file), 0);
        if (fh_) sysfile_close(fh_);
        ASSERT_EQ(buffer_createfile(&x_, "f.raw", path, FOURCC('D', 'A', 'T', 'A'), &fh_), 0);
        t_ptr_size n = bytes.size();
        ASSERT_EQ(sysfile_write(fh_, &n, bytes.data()), 0);
        ASSERT_EQ(sysfile_setpos(fh_, 0), 0);
        write_spy::sizes.clear();
        write_spy::fail_at = -1;
        x_.b_samples = samples_.data();
        x_.b_outsampsize = size;
        x_.b_samptype = code;
    }

    Bytes file_bytes() const {
        std::ifstream in(dir_.file("f.raw"), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }

    orvo_test::TempDir dir_;
    std::vector<float> samples_ = std::vector<float>(8193);
    t_buffer x_{};
    t_filehandle fh_ = nullptr;
};

// 8193 samples take two writes; the file holds what buffer_convert makes of them, cut to its end.
TEST_F(RawWriter, TwoWritesFor8193Samples) {
    for (size_t i = 0; i < samples_.size(); ++i) samples_[i] = 1.1f * (float)std::sin(0.01 * (double)i);
    samples_[8192] = NAN;
    const std::tuple<t_atom_long, t_atom_long, short> formats[] = {
        {1, kAlaw, 0}, {2, kNone, 1}, {3, kNone, 0}, {4, kFl32, 1}, {8, kNone, 0}};
    for (auto [size, code, little] : formats) {
        existing_file(Bytes(70000, 0x55), size, code);
        buffer_writesamples(&x_, "f.raw", 8193, fh_, little);
        Bytes want(8193 * size);
        buffer_convert(samples_.data(), want.data(), 8193, size, code, little);
        EXPECT_EQ(file_bytes(), want) << "size " << size;
        EXPECT_EQ(write_spy::sizes, (std::vector<t_ptr_size>{8192 * (t_ptr_size)size, (t_ptr_size)size}));
    }
    EXPECT_TRUE(console().empty());
}

// Refused without a console line, and a write error keeps the file's old end.
TEST_F(RawWriter, UnsupportedSizesAndWriteErrors) {
    for (t_atom_long size : {0, 5, 6, 7, 9, -2}) {
        existing_file(Bytes(50, 0x33), size);
        buffer_writesamples(&x_, "f.raw", 100, fh_, 0);
        EXPECT_TRUE(write_spy::sizes.empty()) << size;
        EXPECT_EQ(file_bytes(), Bytes(50, 0x33)) << size;
    }
    EXPECT_TRUE(console().empty());
    existing_file(Bytes(40000, 0x55));
    write_spy::fail_at = 1;
    buffer_writesamples(&x_, "f.raw", 8193, fh_, 0);
    const std::vector<std::string> lines = console();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("f.raw: write error -7")) << lines[0];
    EXPECT_EQ(write_spy::sizes.size(), 2u) << "stops at the failing write";
    Bytes want(40000, 0x55);
    std::fill(want.begin(), want.begin() + 16384, 0);
    EXPECT_EQ(file_bytes(), want);
}

}  // namespace
