// Every allocation of every message that allocates, failed once: each message
// runs once counting its host allocations, then once per allocation with just
// that one failing. Afterwards the chains hold together, every block comes
// back once the boxes are freed, and the buffer holds either the message's
// result or a fallback: as it was, the silent 100 frames, or no memory at all.
#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "buffer_test.h"
#include "chain_check.h"

namespace {

struct Shape {
    bool memory;
    t_atom_long frames, nchans, padding;
    std::vector<float> samples;
    bool operator==(const Shape &) const = default;
    bool silent() const { return std::count(samples.begin(), samples.end(), 0.0f) == (long)samples.size(); }
};

Shape shape(const t_buffer *b) {
    return {b->b_memory != nullptr, b->b_frames, b->b_nchans, b->b_padding,
            b->b_samples ? std::vector<float>(b->b_samples, b->b_samples + b->b_size) : std::vector<float>{}};
}

struct Case {
    const char *what;
    const char *sel;  // a message to x, or null for a creation
    std::string args;
    const char *first = "";  // messages to x before, not swept
    bool unkept_ok = false;  // the result without its data is a stated fallback
    bool filled_ok = false;  // the 100-frame fallback may then be filled
};

class Sweep : public orvo_test::BufferTest {
  protected:
    void SetUp() override {
        BufferTest::SetUp();
        orvo::add_search_dir(dir.path);
        orvo_test::make_sound(dir.file("s.wav"), 2, 300, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        orvo_test::make_sound(dir.file("s.aif"), 1, 300, 44100, SF_FORMAT_AIFF | SF_FORMAT_PCM_24);
    }

    // The box the case acts on and whose outcome is judged: for a message, the owner "a"
    // of 10 ms of two channels with a peer, and a buffer "src" beside them.
    t_buffer *x = nullptr;
    void setup(const Case &c) {
        x = nullptr;
        if (!c.sel) return;
        send(buffer("src 30 2"), "fill", "0.5");
        x = buffer("a 10 2");
        buffer("a");
        send(x, "fill", "0.25");
        sends(x, c.first);
        console();
    }

    void free_all() {
        for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) object_free(*it);
        boxes_.clear();
        orvo::run_until_idle();
        console();
    }

    // The case's message (or creation), then everything it queued.
    void act(const Case &c, orvo_test::Atoms &p) {
        if (c.sel) {
            object_method_typed(x, gensym(c.sel), p.argc, p.argv, nullptr);
        } else {
            x = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), p.argc, p.argv);
            if (x) boxes_.push_back(&x->b_obj);
        }
        orvo::run_until_idle();
    }

    // Runs the case once without failures; returns its allocations and the result.
    long long measure(const Case &c, Shape *result) {
        setup(c);
        orvo_test::Atoms p(c.args);  // parsed before any allocation fails
        long long before = orvo::mem_stats().allocs;
        act(c, p);
        long long n = orvo::mem_stats().allocs - before;
        if (x) *result = shape(x);
        free_all();
        return n;
    }

    void sweep(const Case &c) {
        SCOPED_TRACE(c.what);
        long live = orvo::mem_stats().blocks;
        Shape result{};
        long long points = measure(c, &result);
        std::printf("%-26s %lld host allocations\n", c.what, points);
        EXPECT_EQ(orvo::mem_stats().blocks, live);
        for (long long k = 1; k <= points; ++k) {
            SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(points));
            setup(c);
            Shape before = x ? shape(x) : Shape{};
            {
                orvo_test::Atoms p(c.args);  // parsed before any allocation fails
                orvo::mem_fail_nth((long)k);
                act(c, p);
                orvo::mem_fail_reset();
            }
            swept_++;
            for (t_object *o : boxes_) EXPECT_EQ(orvo_test::chain_problems(((t_buffer *)o)->b_name), "");
            if (x) {  // null: the box itself could not be made
                Shape now = shape(x);
                Shape unkept = result;
                unkept.samples = now.samples;
                bool fallback = (x->b_frames == 100 && (c.filled_ok || now.silent())) || !now.memory ||
                                (c.unkept_ok && now == unkept && now.silent());
                EXPECT_TRUE(now == result || now == before || fallback)
                    << "frames " << now.frames << " chans " << now.nchans << " memory " << now.memory;
            }
            free_all();
            EXPECT_EQ(orvo::mem_stats().blocks, live);
            if (HasFailure()) return;
        }
    }

    static long long swept_;
    orvo_test::TempDir dir;
};
long long Sweep::swept_ = 0;

TEST_F(Sweep, EveryAllocationOfEveryAllocatingMessage) {
    const Case cases[] = {
        {"creation", nullptr, "a 10 2"},
        {"creation with a file", nullptr, "a s.wav"},
        {"creation with a padding", nullptr, "a 10 2 @padding 40"},
        {"sizeinsamps", "sizeinsamps", "500 3"},
        {"setsize", "setsize", "20 1"},
        {"name, owner with a peer", "name", "fresh"},
        {"padding keeping the data", "padding", "64 1", "", true},
        {"duplicate", "duplicate", "src", "", false, true},
        {"read", "read", "s.wav 0 0 1"},
        {"replace", "replace", "s.aif"},
        {"readagain", "readagain", "0 0 1", "replace s.wav"},
        {"crop", "crop", "2 7", "", false, true},
        {"write", "writewave", dir.file("w.wav")},
        {"open", "open", ""},
    };
    for (const auto &c : cases) {
        sweep(c);
        if (HasFailure()) break;
    }
    std::printf("allocation points swept: %lld\n", swept_);
}

}  // namespace
