// Every allocation of every message that allocates, failed once: each message
// runs once counting its host allocations, then once per allocation with just
// that one failing. Afterwards the chains hold together, every block comes
// back once the boxes are freed, and the buffer holds either the message's
// result or a fallback: as it was, the silent 100 frames, or no memory at all.
#include <sndfile.h>

#include <functional>
#include <vector>

#include "buffer_test.h"
#include "chain_check.h"

namespace {

struct Shape {
    bool memory;
    t_atom_long frames, nchans, padding;
    uint64_t sum;  // of the sample bits
    bool operator==(const Shape &) const = default;
};

Shape shape(const t_buffer *b) {
    Shape s{b->b_memory != nullptr, b->b_frames, b->b_nchans, b->b_padding, 1469598103934665603ull};
    for (t_atom_long i = 0; b->b_samples && i < b->b_size; ++i) {
        uint32_t u;
        memcpy(&u, b->b_samples + i, 4);
        s.sum = (s.sum ^ u) * 1099511628211ull;
    }
    return s;
}

bool silent(const t_buffer *b) {
    for (t_atom_long i = 0; b->b_samples && i < b->b_size; ++i)
        if (b->b_samples[i] != 0.0f) return false;
    return true;
}

// A message or a creation whose atoms are parsed before any allocation fails.
struct Prepared {
    explicit Prepared(const std::string &text) : atoms(text) {}
    orvo_test::Atoms atoms;
};

struct Case {
    const char *what;
    std::function<void()> setup;  // not swept
    const char *sel;              // a message to x, or null for a creation
    std::string args;
    bool unkept_ok = false;  // the result without its data is a stated fallback
    bool filled_ok = false;  // the 100-frame fallback may then be filled
};

class Sweep : public orvo_test::BufferTest {
  protected:
    void SetUp() override {
        BufferTest::SetUp();
        orvo::add_search_dir(dir.path);
        for (auto [name, format, chans] : {std::tuple{"s.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
                                           std::tuple{"s.aif", SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 1}}) {
            SF_INFO info{0, 44100, chans, format, 0, 0};
            SNDFILE *f = sf_open(dir.file(name).c_str(), SFM_WRITE, &info);
            ASSERT_NE(f, nullptr);
            std::vector<float> v(300 * (size_t)chans);
            for (size_t i = 0; i < v.size(); ++i) v[i] = (float)(i % 50) / 64.0f;
            sf_writef_float(f, v.data(), 300);
            sf_close(f);
        }
    }

    // The box the case acts on and whose outcome is judged.
    t_buffer *x = nullptr;

    void free_all() {
        for (auto it = boxes_.rbegin(); it != boxes_.rend(); ++it) object_free(*it);
        boxes_.clear();
        orvo::run_until_idle();
        console();
    }

    // The case's message (or creation), then everything it queued.
    void act(const Case &c, Prepared &p) {
        if (c.sel) {
            object_method_typed(x, gensym(c.sel), p.atoms.argc, p.atoms.argv, nullptr);
        } else {
            x = (t_buffer *)object_new_typed(gensym("box"), gensym("buffer~"), p.atoms.argc, p.atoms.argv);
            if (x) boxes_.push_back(&x->b_obj);
        }
        orvo::run_until_idle();
    }

    // Runs the case once without failures; returns its allocations and the result.
    long long measure(const Case &c, Shape *result) {
        x = nullptr;
        c.setup();
        Prepared p(c.args);
        long long before = orvo::mem_stats().allocs;
        act(c, p);
        long long n = orvo::mem_stats().allocs - before;
        if (x) *result = shape(x);
        free_all();
        return n;
    }

    void sweep(const Case &c) {
        SCOPED_TRACE(c.what);
        long live = orvo::mem_live_blocks();
        Shape result{};
        long long points = measure(c, &result);
        std::printf("%-26s %lld host allocations\n", c.what, points);
        EXPECT_EQ(orvo::mem_live_blocks(), live);
        for (long long k = 1; k <= points; ++k) {
            SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(points));
            x = nullptr;
            c.setup();
            Shape before = x ? shape(x) : Shape{};
            {
                Prepared p(c.args);
                orvo::mem_fail_nth((long)k);
                act(c, p);
                orvo::mem_fail_reset();
            }
            swept_++;
            for (t_object *o : boxes_) EXPECT_EQ(orvo_test::chain_problems(((t_buffer *)o)->b_name), "");
            if (x) {  // null: the box itself could not be made
                Shape now = shape(x);
                Shape unkept = result;
                unkept.sum = now.sum;
                bool fallback = (x->b_frames == 100 && (c.filled_ok || silent(x))) || !now.memory ||
                                (c.unkept_ok && now == unkept && silent(x));
                EXPECT_TRUE(now == result || now == before || fallback)
                    << "frames " << now.frames << " chans " << now.nchans << " memory " << now.memory;
            }
            free_all();
            EXPECT_EQ(orvo::mem_live_blocks(), live);
            if (HasFailure()) return;
        }
    }

    static long long swept_;
    orvo_test::TempDir dir;
};
long long Sweep::swept_ = 0;

TEST_F(Sweep, EveryAllocationOfEveryAllocatingMessage) {
    auto none = [] {};
    auto peers = [this](const std::string &args) {
        return [this, args] {
            x = buffer(args);
            buffer("a");
            send(x, "fill", "0.25");
            console();
        };
    };
    const Case cases[] = {
        {"creation", none, nullptr, "a 10 2"},
        {"creation with a file", none, nullptr, "a s.wav"},
        {"creation with a padding", none, nullptr, "a 10 2 @padding 40"},
        {"sizeinsamps", peers("a 10 2"), "sizeinsamps", "500 3"},
        {"setsize", peers("a 10 2"), "setsize", "20 1"},
        {"samps", peers("a 10 2"), "samps", "64"},
        {"name, owner with a peer", peers("a 10 2"), "name", "fresh"},
        {"padding keeping the data", peers("a 10 2"), "padding", "64 1", true},
        {"duplicate",
         [this] {
             send(buffer("src 30 2"), "fill", "0.5");
             x = buffer("a 10 1");
         },
         "duplicate", "src", false, true},
        {"read", peers("a 10 2"), "read", "s.wav 0 0 1"},
        {"replace", peers("a 10 2"), "replace", "s.aif"},
        {"readagain",
         [this, peers] {
             peers("a 10 2")();
             send(x, "replace", "s.wav");
         },
         "readagain", "0 0 1"},
        {"crop", peers("a 10 2"), "crop", "2 7", false, true},
        {"write", peers("a 10 2"), "writewave", dir.file("w.wav")},
        {"open", peers("a 10 2"), "open", ""},
    };
    for (const auto &c : cases) {
        sweep(c);
        if (HasFailure()) break;
    }
    std::printf("allocation points swept: %lld\n", swept_);
}

}  // namespace
