// Shared fixture of the write tests: buffers with known contents, a temporary
// folder, and files read back with libsndfile directly, which is the reference.
#pragma once
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "buffer_test.h"

namespace write_test {

constexpr t_fourcc AIFF = FOURCC('A', 'I', 'F', 'F');
constexpr t_fourcc WAVE = FOURCC('W', 'A', 'V', 'E');
constexpr t_fourcc FLAC = FOURCC('F', 'L', 'A', 'C');
constexpr t_fourcc DATA = FOURCC('D', 'A', 'T', 'A');
constexpr t_fourcc RAW = FOURCC('?', '?', '?', '?');
constexpr t_fourcc NEXT = FOURCC('N', 'x', 'T', 'S');
constexpr t_fourcc NONE = FOURCC('N', 'O', 'N', 'E');
constexpr t_fourcc FL32 = FOURCC('F', 'L', '3', '2');
constexpr t_fourcc FL64 = FOURCC('F', 'L', '6', '4');
constexpr t_fourcc ULAW = FOURCC('U', 'L', 'A', 'W');
constexpr t_fourcc ALAW = FOURCC('A', 'L', 'A', 'W');

inline std::string fourcc_text(t_atom_long code) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) s += (char)((code >> shift) & 0xff);
    return s;
}

// A sound file as libsndfile sees it; ok is false when it could not open it.
struct Sound {
    bool ok = false;
    SF_INFO info{};
    std::vector<float> samples;
    int major() const { return info.format & SF_FORMAT_TYPEMASK; }
    int sub() const { return info.format & SF_FORMAT_SUBMASK; }
};

inline Sound read_sound(const std::string &path) {
    Sound s;
    SNDFILE *f = sf_open(path.c_str(), SFM_READ, &s.info);
    if (!f) return s;
    s.samples.resize((size_t)(s.info.frames * s.info.channels));
    sf_count_t got = s.info.frames ? sf_readf_float(f, s.samples.data(), s.info.frames) : 0;
    sf_close(f);
    s.ok = got == s.info.frames;
    return s;
}

inline bool exists(const std::string &path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

inline uintmax_t file_size(const std::string &path) {
    std::error_code ec;
    auto n = std::filesystem::file_size(path, ec);
    return ec ? 0 : n;
}

// The absolute path of name in the host's default folder.
inline std::string default_folder_file(const std::string &name) {
    char out[ORVO_PATH_CHARS] = "";
    path_toabsolutesystempath(path_getdefault(), name.c_str(), out);
    return out;
}

class WriteTest : public orvo_test::BufferTest {
  protected:
    // A buffer of frames x chans holding a pattern that differs in every sample and stays inside -1..1.
    t_buffer *filled(const std::string &name, t_atom_long frames, t_atom_long chans) {
        t_buffer *b = buffer(name);
        send(b, "sizeinsamps", std::to_string(frames) + " " + std::to_string(chans));
        for (t_atom_long i = 0; i < frames * chans; i++) b->b_samples[i] = (float)(((i * 37) % 199) - 99) / 110.0f;
        orvo::advance(1);
        console();
        return b;
    }
    // A print box "P" on the bang outlet.
    void print_bangs(t_buffer *b) {
        t_object *p = box("print", "P");
        ASSERT_TRUE(orvo::connect(&b->b_obj, 1, p));
    }
    std::string path(const std::string &name) const { return dir_.file(name); }
    orvo_test::TempDir dir_;
};

// Every sample of the file equals the buffer's within tol, frame by frame and channel by channel.
inline ::testing::AssertionResult same_samples(const t_buffer *b, const Sound &s, float tol) {
    if (!s.ok) return ::testing::AssertionFailure() << "file could not be read";
    if (s.info.frames != b->b_frames || s.info.channels != b->b_nchans)
        return ::testing::AssertionFailure() << "file is " << s.info.frames << "x" << s.info.channels << ", buffer "
                                             << b->b_frames << "x" << b->b_nchans;
    for (size_t i = 0; i < s.samples.size(); i++)
        if (!(std::abs(s.samples[i] - b->b_samples[i]) <= tol))
            return ::testing::AssertionFailure()
                   << "sample " << i << ": file " << s.samples[i] << ", buffer " << b->b_samples[i];
    return ::testing::AssertionSuccess();
}

}  // namespace write_test
