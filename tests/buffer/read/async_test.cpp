// Loads in the background ("async" 1): the same result as a synchronous load, the old
// contents until the swap, cancellation by every later action, and the swap seen whole.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "read_fixture.h"

using namespace read_test;

namespace {

class AsyncRead : public ReadTest {
  protected:
    void SetUp() override {
        ReadTest::SetUp();
        make("st.wav", 2, 30000);
        make("mono.aif", 1, 5000, 22050, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
        make("other.wav", 3, 700, 48000);
    }
    // A watched box that loads in the background.
    t_buffer *async_box(const std::string &args) {
        t_buffer *b = watched(args);
        send(b, "async", "1");
        return b;
    }
};

struct Described {
    t_atom_long frames, nchans, size, prevchans, filetype;
    float sr;
    t_symbol *filename;
    std::vector<float> samples;
    bool operator==(const Described &) const = default;
};
Described describe(const t_buffer *b) {
    return {b->b_frames, b->b_nchans,  b->b_size, b->b_prevchans, b->b_filetype,
            b->b_sr,     b->b_filename, std::vector<float>(b->b_samples, b->b_samples + b->b_size)};
}
// Events name the buffer; compare them without it.
Lines unnamed(Lines l, const std::string &name) {
    for (auto &s : l)
        if (auto at = s.find(" " + name + ":"); at != std::string::npos) s.erase(at, name.size() + 1);
    return l;
}

TEST_F(AsyncRead, GivesWhatTheSynchronousLoadGives) {
    const std::vector<std::pair<const char *, const char *>> steps[] = {
        {{"replace", "st.wav"}},
        {{"read", "st.wav 5 20"}},
        {{"read", "st.wav 3 0 1"}},
        {{"importreplace", "mono.aif"}},
        {{"replace", "other.wav 2 1"}, {"read", "st.wav 0 0 0 0"}},
        {{"read", "mono.aif"}, {"readagain", "other.wav 1"}},
    };
    for (auto &seq : steps) {
        SCOPED_TRACE(std::string(seq[0].first) + " " + seq[0].second);
        t_buffer *s = watched("s 100 2"), *a = async_box("a 100 2"), *peer = buffer("a");
        for (t_buffer *b : {s, a}) send(b, "fill", "0.5");
        orvo::advance(1);
        events();
        for (auto &[sel, args] : seq) {
            send(s, sel, args);
            Lines sync_events = unnamed(events(), "s");
            Described before = describe(a);
            send(a, sel, args);
            before.filetype = a->b_filetype;  // taken when the file opens, as a synchronous load does
            EXPECT_EQ(describe(a), before) << "changed before the swap";
            EXPECT_EQ(peer->b_samples, a->b_samples);
            orvo::await_work();
            EXPECT_EQ(describe(a), describe(s));
            Described shared = describe(peer);
            shared.prevchans = a->b_prevchans;  // the owner's own
            EXPECT_EQ(shared, describe(s));
            EXPECT_EQ(unnamed(events(), "a"), sync_events);
            EXPECT_EQ(a->b_filepath, s->b_filepath);
            orvo::advance(1);
        }
        restart();
    }
}

// Every later action on the name abandons a load that has not swapped its block in yet.
TEST_F(AsyncRead, LaterActionsWin) {
    const struct Case {
        const char *sel, *args;  // sent to the peer "p" after the load started on "a"
        t_atom_long frames, nchans;
        float sample;  // every sample afterwards
    } cases[] = {
        {"replace", "other.wav", 700, 3, 0.0f},  // checked against the file below
        {"sizeinsamps", "50", 50, 2, 0.0f},     {"crop", "0 1", 45, 2, 0.25f},  // its last frame is new: zero
        {"duplicate", "src", 88, 1, 0.75f},     {"fill", "0.125", 441, 2, 0.125f},
        {"name", "elsewhere", 441, 2, 0.25f},   {"dirty", "", 441, 2, 0.25f},  // another object wrote in place
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.sel);
        send(buffer("src 2 1"), "fill", "0.75");
        t_buffer *a = async_box("a 10 2"), *p = buffer("a");
        send(a, "fill", "0.25");
        send(a, "replace", "st.wav");
        if (std::string(c.sel) == "dirty")  // private: not a message a patch can type
            object_method(p, gensym("dirty"));
        else
            send(p, c.sel, c.args);
        orvo::await_work();
        EXPECT_EQ(a->b_frames, c.frames);
        EXPECT_EQ(a->b_nchans, c.nchans);
        EXPECT_EQ(a->b_name, gensym("a"));
        if (std::string(c.sel) == "replace") {
            EXPECT_TRUE(holds(a, 0, 700, 3, 700));
        } else {
            t_atom_long n = a->b_size - (std::string(c.sel) == "crop" ? a->b_nchans : 0);
            EXPECT_EQ(std::count(a->b_samples, a->b_samples + n, c.sample), n);
        }
        EXPECT_NE(a->b_filename, gensym("st.wav"));
        restart();
    }
    // Freeing the box abandons its load: nothing leaks, no swap reaches the freed box.
    t_buffer *a = async_box("a 10 2");
    send(a, "replace", "st.wav");
    free_box(&a->b_obj);
    orvo::await_work();
}

// A reader on another thread, inside an edit bracket as the scheduler thread would
// read, sees the old buffer or the new one whole: block, frames and channels together.
TEST_F(AsyncRead, TheSwapIsSeenWhole) {
    make("one.wav", 1, 1000);
    make("two.wav", 2, 3000);
    t_buffer *a = async_box("a 10 1");
    send(a, "replace", "one.wav");
    orvo::await_work();
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0}, mixed{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (buffer_edit_begin(a)) continue;
            auto *o = (t_buffer *)buffer_findowner(a);
            long frames = o->b_frames, chans = o->b_nchans;
            float last = o->b_samples[frames * chans - 1];
            bool whole = (frames == 1000 && chans == 1) || (frames == 3000 && chans == 2);
            if (!whole || last != pattern(frames - 1, chans - 1)) ++mixed;
            ++reads;
            buffer_edit_end(a, -1);
        }
    });
    int swapped = 0;
    for (int i = 0; i < 40; ++i) {
        send(a, "replace", i % 2 ? "one.wav" : "two.wav");
        orvo::await_work();
        swapped += a->b_filename == gensym(i % 2 ? "one.wav" : "two.wav");  // else refused: "can't read file now"
    }
    stop.store(true);
    reader.join();
    console();
    EXPECT_EQ(mixed.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_GT(swapped, 0);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// An hour of stereo loading in the background leaves the main thread free: another box's
// deferred message runs while the load goes on. (The hour's memory: the plain build only.)
TEST_F(AsyncRead, TheMainThreadStaysFree) {
    // A sparse file: an hour of silence costs no disk and is quick to make.
    const uint32_t bytes = 3600u * 48000u * 2u * 2u;
    std::string head = "RIFF";
    auto le = [&](uint32_t v, int n) {
        for (int i = 0; i < n; ++i) head += (char)((v >> (8 * i)) & 0xFF);
    };
    le(36 + bytes, 4), head += "WAVEfmt ", le(16, 4), le(1, 2), le(2, 2), le(48000, 4), le(48000 * 4, 4), le(4, 2),
        le(16, 2), head += "data", le(bytes, 4);
    orvo_test::spit(dir.file("hour.wav"), head);
    std::filesystem::resize_file(dir.file("hour.wav"), head.size() + bytes);
    t_buffer *a = async_box("a 10 2"), *b = buffer("b 10 1");
    send(a, "replace", "hour.wav");
    send_sched(b, "sizeinsamps", "7");  // deferred to the main thread
    for (int i = 0; i < 2000 && b->b_frames != 7; ++i) orvo::pump(1);
    EXPECT_EQ(b->b_frames, 7);
    EXPECT_EQ(a->b_frames, 441) << "the hour was loaded first";
    free_box(&a->b_obj);
}
#endif

}  // namespace
