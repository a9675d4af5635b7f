// Shared fixture of the read tests: sound files written with libsndfile into a folder
// the host searches, and boxes whose notifications and bangs are collected.
#pragma once
#include <sndfile.h>

#include <string>
#include <vector>

#include "buffer_test.h"

namespace read_test {

constexpr t_fourcc AIFF = FOURCC('A', 'I', 'F', 'F');
constexpr t_fourcc WAVE = FOURCC('W', 'A', 'V', 'E');
using Lines = std::vector<std::string>;

using orvo_test::pattern;

class ReadTest : public orvo_test::BufferTest {
  protected:
    void SetUp() override {
        BufferTest::SetUp();
        orvo::add_search_dir(dir.path);
    }

    // Writes frames x chans of pattern() into dir/name.
    void make(const std::string &name, long chans, long frames, int sr = 44100, int format = 0) {
        orvo_test::make_sound(dir.file(name), chans, frames, sr, format);
    }

    // Every sample of b is the file's frame first + f, channel c where the file has it and
    // f < keep, else 0; the guard zones are zero.
    ::testing::AssertionResult holds(const t_buffer *b, long first, long keep, long filechans, long fileframes) {
        for (long f = 0; f < b->b_frames; ++f)
            for (long c = 0; c < b->b_nchans; ++c) {
                float want = (f < keep && c < filechans && first + f < fileframes) ? pattern(first + f, c) : 0;
                if (b->b_samples[f * b->b_nchans + c] != want)
                    return ::testing::AssertionFailure() << "frame " << f << " channel " << c << ": "
                                                         << b->b_samples[f * b->b_nchans + c] << ", expected " << want;
            }
        for (long i = 1; i <= b->b_padding; ++i)
            if (b->b_samples[-i] != 0.0f || b->b_samples[b->b_size + i - 1] != 0.0f)
                return ::testing::AssertionFailure() << "guard zone not zero";
        return ::testing::AssertionSuccess();
    }

    // A buffer whose bang outlet feeds a print box "done", watched under its name.
    t_buffer *watched(const std::string &args) {
        t_buffer *b = buffer(args);
        orvo::connect(&b->b_obj, 1, box("print", "done"), 0);
        watch(b->b_name->s_name);
        orvo::advance(1);  // a later scheduler time: the next change notifies again
        console();
        return b;
    }

    // The notifications and bangs since the last call; the other lines go to other_.
    Lines events() {
        Lines out;
        other_.clear();
        for (auto &l : console()) (l.rfind("watch ", 0) == 0 || l.rfind("done: ", 0) == 0 ? out : other_).push_back(l);
        return out;
    }

    Lines other_;
    orvo_test::TempDir dir;
};

}  // namespace read_test
