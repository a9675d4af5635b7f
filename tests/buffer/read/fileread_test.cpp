// The file load driver: the read at creation, the direct read, and failures.
#include <algorithm>
#include <optional>

#include "read_fixture.h"

using namespace read_test;

namespace {

class FileRead : public ReadTest {};

TEST_F(FileRead, ReadAtCreationOwesItsBang) {
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

}  // namespace
