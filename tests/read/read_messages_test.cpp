// The read messages: argument forms, the open dialog, readagain, read_direct and
// the requests that never reach a file.
#include <cstring>
#include <fstream>

#include "read_fixture.h"

using namespace read_test;

namespace {

struct SoundFile {
    const char *name;
    long chans, frames;
    int rate;
};
const SoundFile kFiles[] = {{"st.wav", 2, 88200, 44100},
                            {"mono.wav", 1, 22050, 44100},
                            {"r48.wav", 1, 96000, 48000},
                            {"r8.wav", 1, 16000, 8000}};

class ReadMessages : public ReadTest {
  protected:
    void SetUp() override {
        ReadTest::SetUp();
        for (auto &f : kFiles) make(f.name, f.chans, f.frames, f.rate);
    }
};

struct FormCase {
    const char *create;  // creation arguments of the box "a"
    const char *sel, *args;
    long frames, chans;  // the buffer afterwards
    long first;          // the file's frame at buffer frame 0
    long keep;           // frames taken from the file before zeros (-1: as far as it goes)
    const char *file;    // when args do not name it, the dialog answers it
};

const FormCase kForms[] = {
    // A name alone: the size stays on a buffer with frames, the file's length on one without.
    {"a 1000 2", "read", "st.wav", 44100, 2, 0, -1, "st.wav"},
    {"a", "read", "st.wav", 88200, 2, 0, -1, "st.wav"},
    {"a 0 2", "read", "st.wav 0 0 2", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 1", "import", "st.wav", 44100, 1, 0, -1, "st.wav"},
    // replace takes the file's length and channels; a duration only lends its sign.
    {"a 1000 1", "replace", "st.wav", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 1", "importreplace", "st.wav", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 2", "replace", "st.wav 0 500", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 2", "replace", "st.wav 0 1", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 2", "replace", "st.wav 1000", 44100, 2, 44100, -1, "st.wav"},
    {"a 1000 2", "replace", "st.wav 0 500 1", 88200, 1, 0, -1, "st.wav"},
    {"a 1000 2", "replace", "mono.wav", 22050, 1, 0, -1, "mono.wav"},
    // Channel counts: three numbers with 0 keep the buffer's, four take the file's.
    {"a 1000 1", "read", "st.wav 0 0 0", 44100, 1, 0, -1, "st.wav"},
    {"a 1000 1", "read", "st.wav 0 0 0 0", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 2", "read", "st.wav 0 0 0 0", 44100, 2, 0, -1, "st.wav"},
    {"a 1000 2", "read", "st.wav 0 0 1 7", 88200, 1, 0, -1, "st.wav"},
    {"a 1000 1", "read", "st.wav 0 0 3", 88200, 3, 0, -1, "st.wav"},
    // Start offsets and durations, in the file's milliseconds.
    {"a 1000 2", "read", "st.wav 500", 44100, 2, 22050, -1, "st.wav"},
    {"a 1000 2", "read", "st.wav 1500", 44100, 2, 66150, -1, "st.wav"},
    {"a 1000 2", "read", "st.wav 0.5", 44100, 2, 22, -1, "st.wav"},
    {"a 2000 2", "read", "st.wav 0 500", 88200, 2, 0, 22050, "st.wav"},
    {"a", "read", "st.wav 250 500", 22050, 2, 11025, -1, "st.wav"},
    {"a", "read", "st.wav 5000", 0, 2, 0, -1, "st.wav"},
    {"a", "replace", "r48.wav 1000", 48000, 1, 48000, -1, "r48.wav"},
    {"a", "read", "r48.wav 0 250", 12000, 1, 0, -1, "r48.wav"},
    {"a", "replace", "r8.wav 1999.9", 1, 1, 15999, -1, "r8.wav"},
    // A file shorter than the buffer, and with fewer channels: the rest is zero.
    {"a 2000 2", "read", "mono.wav", 88200, 2, 0, -1, "mono.wav"},
    // No name: the dialog chooses, and a number first is the start offset.
    {"a 1000 2", "read", "", 44100, 2, 0, -1, "st.wav"},
    {"a 1000 2", "import", "1000", 44100, 2, 44100, -1, "st.wav"},
    {"a 1000 1", "replace", "", 88200, 2, 0, -1, "st.wav"},
    {"a 1000 1", "importreplace", "", 88200, 2, 0, -1, "st.wav"},
    {"a", "read", "", 88200, 2, 0, -1, "st.wav"},
};

TEST_F(ReadMessages, ArgumentForms) {
    for (const FormCase &c : kForms) {
        SCOPED_TRACE(std::string(c.create) + " | " + c.sel + " " + c.args);
        const SoundFile *file = nullptr;
        for (auto &f : kFiles)
            if (std::strcmp(f.name, c.file) == 0) file = &f;
        t_buffer *a = watched(c.create);
        t_atom_long before = a->b_nchans;
        if (std::strstr(c.args, c.file) != c.args) orvo::dialog_answer_open(dir.file(c.file));
        send(a, c.sel, c.args);
        EXPECT_EQ(a->b_frames, c.frames);
        EXPECT_EQ(a->b_nchans, c.chans);
        EXPECT_EQ(a->b_size, c.frames * c.chans);
        EXPECT_EQ(a->b_prevchans, before);
        EXPECT_EQ(a->b_valid, 1);
        EXPECT_TRUE(holds(a, c.first, c.keep < 0 ? c.frames : c.keep, file->chans, file->frames));
        EXPECT_EQ(a->b_filename, gensym(c.file));
        EXPECT_EQ(a->b_filetype, (t_atom_long)WAVE);
        EXPECT_EQ(a->b_sr, (float)file->rate);
        EXPECT_EQ(a->b_msr, (float)(file->rate * 0.001));
        EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));
        EXPECT_TRUE(other_.empty()) << other_.front();
        BufferTest::TearDown();  // the boxes of this row, checked for leaks
        HostTest::SetUp();
    }
}

TEST_F(ReadMessages, CancelledDialogDoesNothing) {
    t_buffer *a = watched("a 1000 2");
    float *mem = a->b_memory;
    for (const char *sel : {"read", "replace", "import", "importreplace"}) {
        orvo::dialog_answer_cancel();
        send(a, sel);
        send(a, sel, "100");  // no answer queued: cancelled too
    }
    EXPECT_TRUE(events().empty());
    EXPECT_TRUE(other_.empty()) << other_.front();
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_filename, gensym(""));
    EXPECT_EQ(a->b_modified, 0);
}

TEST_F(ReadMessages, RequestsRefusedBeforeAnyFile) {
    t_buffer *a = watched("a 1000 2");
    float *mem = a->b_memory;
    orvo::dialog_answer_open(dir.file("st.wav"));
    // A negative offset is refused before the dialog or the lookup: the queued answer stays.
    send(a, "read", "-5");
    send(a, "replace", "nothere.wav -2.5");
    send(a, "read", "st.wav -1000000000000");
    std::ofstream(dir.file("notes.txt")) << "not a sound";
    send(a, "read", "nothere.wav");
    send(a, "read", "notes.txt");  // found, but of no type the lookup accepts
    send(a, "read", std::string(3000, 'n'));
    send(a, "readagain");
    EXPECT_EQ(console(), (Lines{"buffer~: error: read: bad offset -5", "buffer~: error: replace: bad offset -2",
                                "buffer~: error: read: bad offset -999999995904",
                                "buffer~: error: nothere.wav: can't open", "buffer~: error: notes.txt: can't open",
                                "buffer~: error: " + std::string(3000, 'n') + ": can't open",
                                "buffer~: error: readagain: no file previously specified"}));
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_filetype, (t_atom_long)AIFF) << "untouched until the parser has the file";
    send(a, "read");
    EXPECT_EQ(a->b_filename, gensym("st.wav")) << "the dialog's answer was still queued";
}

TEST_F(ReadMessages, ReadagainReloadsThePreviousFile) {
    t_buffer *a = watched("a");
    send(a, "read", "st.wav");
    make("st.wav", 2, 88200, 44100, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0.5f);  // changed on disk
    orvo::advance(1);
    events();
    send(a, "readagain", "mono.wav 1000");  // the name is ignored, the offset is not
    EXPECT_EQ(a->b_filename, gensym("st.wav"));
    EXPECT_EQ(a->b_frames, 88200) << "a buffer with frames keeps its size";
    EXPECT_TRUE(holds(a, 44100, 88200, 2, 88200, 0.5f));
    EXPECT_EQ(a->b_filetype, 0);
    EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));
    send(a, "readagain", "-1");
    EXPECT_EQ(console(), Lines{"buffer~: error: readagain: bad offset -1"});
    // A peer shares the description, the file included.
    send(buffer("a"), "readagain", "0 0 1");
    EXPECT_EQ(a->b_nchans, 1);
    EXPECT_TRUE(holds(a, 0, 88200, 1, 88200, 0.5f));
}

TEST_F(ReadMessages, ReadDirectNeedsNoLookup) {
    short path = 0;
    char file[ORVO_PATH_CHARS];
    ASSERT_EQ(path_frompathname(dir.path.c_str(), &path, file), 0);
    t_buffer *a = watched("a 500 2");
    auto direct = [&](const char *name) {
        return (long)(intptr_t)object_method(a, gensym("read_direct"), (long)path, name);
    };
    EXPECT_EQ(direct("st.wav"), 0);
    EXPECT_EQ(a->b_frames, 22050) << "a plain read keeps the size";
    EXPECT_TRUE(holds(a, 0, 22050, 2, 88200));
    EXPECT_EQ(a->b_filetype, 0);
    EXPECT_EQ(a->b_filepath, path);
    EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));
    EXPECT_EQ(direct("nothere.wav"), -4);
    EXPECT_EQ(events(), Lines{"watch a: read_failed -4"}) << "the parser's code for a missing file";
    EXPECT_EQ(other_, Lines{"buffer~: error: cannot open parser for this file"});
    EXPECT_NE(send(a, "read_direct"), 0) << "not a typed message";
}

TEST_F(ReadMessages, FromTheSchedulerThreadTheLoadWaitsForTheMainThread) {
    t_buffer *a = watched("a");
    send_sched(a, "read", "mono.wav");
    send_sched(a, "readagain");
    EXPECT_EQ(a->b_frames, 0);
    orvo::run_until_idle();
    EXPECT_EQ(a->b_frames, 22050);
    EXPECT_TRUE(holds(a, 0, 22050, 1, 22050));
    // Both loads completed at one scheduler time: one notification, a bang for each.
    EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang", "done: bang"}));
}

}  // namespace
