// The file load driver: the read at creation, peers, failures, and the instrument
// data of AIFF files.
#include <algorithm>
#include <optional>

#include "read_fixture.h"

using namespace read_test;

namespace {

class FileRead : public ReadTest {};

TEST_F(FileRead, ReadAtCreationOwesItsBangAndPeersSeeTheLoad) {
    make("st.wav", 2, 4410);
    watch("a");
    t_buffer *a = buffer("a st.wav");
    EXPECT_EQ(a->b_frames, 4410);
    EXPECT_TRUE(holds(a, 0, 4410, 2, 4410));
    EXPECT_EQ(a->b_modified, 1) << "no outlet yet to bang";
    EXPECT_EQ(console(), Lines{"watch a: buffer_modified"});
    orvo::connect(&a->b_obj, 1, box("print", "done"), 0);
    orvo::advance(1);
    send(a, "fill", "0.25");
    EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));
    // A load through a peer reaches every box; the channels before it are the owner's own.
    make("st3.wav", 3, 3000);
    t_buffer *b = buffer("a"), *c = buffer("a");
    send(c, "replace", "st3.wav");
    for (t_buffer *x : {a, b, c}) {
        EXPECT_TRUE(x->b_samples == a->b_samples && x->b_frames == 3000 && x->b_nchans == 3);
        EXPECT_EQ(x->b_filename, gensym("st3.wav"));
    }
    EXPECT_TRUE(holds(a, 0, 3000, 3, 3000));
    EXPECT_EQ(a->b_prevchans, 2) << "kept on the owner";
}

TEST_F(FileRead, ReadDirectNeedsNoLookupAndKeepsTheSize) {
    make("st.wav", 2, 3000);
    t_buffer *a = watched("d 10 2");
    short path = 0;
    char name[ORVO_PATH_CHARS] = "st.wav";
    t_fourcc type = 0;
    ASSERT_EQ(locatefile_extended(name, &path, &type, nullptr, 0), 0);
    EXPECT_EQ((long)(intptr_t)object_method(a, gensym("read_direct"), (long)path, "st.wav"), 0);
    EXPECT_EQ(a->b_frames, 441);
    EXPECT_TRUE(holds(a, 0, 441, 2, 3000));
    EXPECT_EQ(a->b_filetype, 0);
    EXPECT_EQ(events(), (Lines{"watch d: buffer_modified", "done: bang"}));
    // A buffer without frames takes the file's length.
    t_buffer *e = buffer("e");
    object_method(e, gensym("read_direct"), (long)path, "st.wav");
    EXPECT_EQ(e->b_frames, 3000);
}

void record_error(void *arg, t_atom_long code) { *static_cast<t_atom_long *>(arg) = code; }

TEST_F(FileRead, ParserOpenFailure) {
    orvo_test::spit(dir.file("junk.wav"), std::string(300, 'j'));
    t_buffer *a = watched("a 10 1");
    // A custom handler hears the parser's code instead of the console; the clients hear it too.
    t_atom_long code = 0;
    object_method(a, gensym("set_custom_error_handler"), reinterpret_cast<void *>(&record_error), &code);
    send(a, "read", "junk.wav");
    EXPECT_NE(code, 0);
    const Lines failed{"watch a: read_failed " + std::to_string(code)};
    EXPECT_EQ(events(), failed);
    EXPECT_TRUE(other_.empty()) << other_.front();
    object_method(a, gensym("set_custom_error_handler"), nullptr, nullptr);
    send(a, "read", "junk.wav");
    EXPECT_EQ(events(), failed);
    // Without a handler the console says so, and why, naming the file.
    ASSERT_EQ(other_.size(), 2u);
    EXPECT_EQ(other_[0], "buffer~: error: cannot open parser for this file");
    EXPECT_EQ(other_[1].rfind("buffer~: error: junk.wav: ", 0), 0u) << other_[1];
    EXPECT_GT(other_[1].size(), std::string("buffer~: error: junk.wav: ").size());
    EXPECT_EQ(a->b_filetype, (t_atom_long)AIFF) << "failed before the type was taken";
}

// A failed load says why, once, and leaves the old contents; a synchronous one that runs
// out of memory leaves 100 cleared frames of the channels from before.
TEST_F(FileRead, RefusedEditsAndOutOfMemory) {
    make("st.wav", 2, 30000);
    orvo_test::spit(dir.file("junk.wav"), std::string(300, 'j'));
    using Fail = void (*)(t_buffer *, bool);
    Fail refuse = [](t_buffer *, bool on) { orvo::set_edits_refused(on); };
    Fail no_memory = [](t_buffer *, bool on) { on ? orvo::mem_fail_above(100000) : orvo::mem_fail_reset(); };
    // The samples are being written to a file (a typed write on the scheduler thread).
    Fail writing = [](t_buffer *b, bool on) {
        static std::optional<orvo::SampleRead> read;
        on ? (void)read.emplace(nullptr, b->b_samples, b->b_frames, (long)b->b_nchans) : read.reset();
    };
    const struct Case {
        bool async, at_swap;  // at_swap: the failure comes when the loaded block would go in
        const char *file;
        Fail fail;
        const char *error;
        long size;     // of the buffer afterwards
        float sample;  // every sample of it
    } cases[] = {
        {false, false, "st.wav", refuse, "can't read file now", 1323, 0.5f},
        {false, false, "st.wav", writing, "can't read file now", 1323, 0.5f},
        {false, false, "st.wav", no_memory, "a: out of memory reading st.wav", 300, 0.0f},
        {true, true, "st.wav", refuse, "can't read file now", 1323, 0.5f},
        {true, false, "st.wav", no_memory, "a: out of memory reading st.wav", 1323, 0.5f},
        {true, false, "junk.wav", [](t_buffer *, bool) {}, "cannot open parser for this file", 1323, 0.5f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.async ? "in the background: " : "") + c.error);
        t_buffer *a = watched("a 10 3"), *peer = buffer("a");
        sends(a, c.async ? "async 1;fill 0.5" : "fill 0.5");
        orvo::advance(1);
        events();
        if (!c.at_swap) c.fail(peer, true);
        send(a, "replace", c.file);
        if (c.at_swap) c.fail(peer, true);
        orvo::await_work();
        c.fail(peer, false);
        Lines said = events();
        ASSERT_EQ(said.size(), 1u);
        EXPECT_EQ(said[0].substr(0, 21), "watch a: read_failed ");
        EXPECT_TRUE(c.async || said[0] == "watch a: read_failed -1") << said[0];
        ASSERT_FALSE(other_.empty());
        EXPECT_EQ(other_[0], std::string("buffer~: error: ") + c.error);
        EXPECT_TRUE(c.async || other_.size() == 1u) << other_.back();
        EXPECT_EQ(a->b_size, c.size);
        EXPECT_EQ(std::count(a->b_samples, a->b_samples + a->b_size, c.sample), c.size);
        EXPECT_EQ(peer->b_size, c.size);
        restart();
    }
}

// ---- instrument data -----------------------------------------------------------------------------

// Appends the low bytes of v, most significant first.
void put(std::string &s, long v, int bytes) {
    while (bytes--) s += (char)((v >> (8 * bytes)) & 0xFF);
}

// Adds a MARK chunk (markers 1..4 at frames 10, 50, 60, 90) and an INST chunk (pitch 60,
// detune -5, keys 16-112, velocities 5-127, gain -6, a forward sustain loop on markers 1-2
// and a back-and-forth release loop on 3-4) to an AIFF file: libsndfile writes neither.
void add_instrument(const std::string &path) {
    std::string added = "MARK", size;
    put(added, 34, 4), put(added, 4, 2);
    const int pos[] = {10, 50, 60, 90};
    for (int i = 0; i < 4; ++i)
        put(added, i + 1, 2), put(added, pos[i], 4), put(added, 0x161 + i, 2);  // names "a".."d"
    added += "INST", put(added, 20, 4), put(added, 0x3CFB1070057F, 6), put(added, -6, 2);
    put(added, 0x000100010002, 6), put(added, 0x000200030004, 6);
    std::string file = orvo_test::slurp(path);
    put(size, (long)(file.size() - 8 + added.size()), 4);
    orvo_test::spit(path, file.substr(0, 4) + size + file.substr(8, 4) + added + file.substr(12));
}

using Block = std::vector<t_atom_long>;
Block block_of(const t_buffer *b) {
    return {b->b_susloopstart, b->b_susloopend, b->b_relloopstart, b->b_relloopend, b->b_basepitch, b->b_detune,
            b->b_lowpitch,     b->b_highpitch,  b->b_lowvel,       b->b_highvel,    b->b_gain};
}

TEST_F(FileRead, InstrumentBlockOfAiffFilesClearedByOthers) {
    make("inst.aif", 1, 100, 44100, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    add_instrument(dir.file("inst.aif"));
    make("plain.wav", 1, 100);
    t_buffer *a = buffer("a"), *peer = buffer("a");
    send(peer, "replace", "inst.aif");
    const Block want{10, 50, 60, 90, 60, -5, 16, 112, 5, 127, -6};
    EXPECT_EQ(block_of(a), want);
    EXPECT_EQ(block_of(peer), want) << "every box of the name";
    send(peer, "replace", "plain.wav");
    EXPECT_EQ(block_of(a), Block(11, 0));
    EXPECT_EQ(block_of(peer), Block(11, 0));
    EXPECT_TRUE(console().empty());
}

}  // namespace
