// The read messages: argument forms, the open dialog, and the requests that never reach a file.
#include <cstring>

#include "read_fixture.h"

using namespace read_test;

namespace {

struct SoundFile {
    const char *name;
    long chans, frames;
    int rate;
};
enum { ST, MONO, R48 };
const SoundFile kFiles[] = {{"st.wav", 2, 88200, 44100}, {"mono.wav", 1, 22050, 44100}, {"r48.wav", 1, 96000, 48000}};

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
    int file;            // of kFiles; when args do not name it, the dialog answers it
};

const FormCase kForms[] = {
    // A name alone: the size stays on a buffer with frames, the file's length on one without.
    {"a 1000 2", "read", "st.wav", 44100, 2, 0, -1, ST},
    {"a", "read", "st.wav", 88200, 2, 0, -1, ST},
    {"a 1000 1", "import", "st.wav", 44100, 1, 0, -1, ST},
    // replace takes the file's length, channels and rate.
    {"a 1000 1", "replace", "st.wav", 88200, 2, 0, -1, ST},
    {"a 1000 2", "replace", "mono.wav", 22050, 1, 0, -1, MONO},
    {"a", "replace", "r48.wav 1000", 48000, 1, 48000, -1, R48},
    // Channel counts: three numbers with 0 keep the buffer's, four take the file's.
    {"a 1000 1", "read", "st.wav 0 0 0", 44100, 1, 0, -1, ST},
    {"a 1000 1", "read", "st.wav 0 0 0 0", 88200, 2, 0, -1, ST},
    // A duration cuts; a shorter file with fewer channels leaves zeros.
    {"a 2000 2", "read", "st.wav 0 500", 88200, 2, 0, 22050, ST},
    {"a 2000 2", "read", "mono.wav", 88200, 2, 0, -1, MONO},
    // No name: the dialog chooses, and a number first is the start offset.
    {"a 1000 2", "read", "", 44100, 2, 0, -1, ST},
    {"a 1000 2", "import", "1000", 44100, 2, 44100, -1, ST},
};

TEST_F(ReadMessages, ArgumentForms) {
    for (const FormCase &c : kForms) {
        SCOPED_TRACE(std::string(c.create) + " | " + c.sel + " " + c.args);
        const SoundFile &file = kFiles[c.file];
        t_buffer *a = watched(c.create);
        t_atom_long before = a->b_nchans;
        if (std::strstr(c.args, file.name) != c.args) orvo::dialog_answer_open(dir.file(file.name));
        send(a, c.sel, c.args);
        EXPECT_EQ(a->b_frames, c.frames);
        EXPECT_EQ(a->b_nchans, c.chans);
        EXPECT_EQ(a->b_prevchans, before);
        EXPECT_TRUE(holds(a, c.first, c.keep < 0 ? c.frames : c.keep, file.chans, file.frames));
        EXPECT_EQ(a->b_filename, gensym(file.name));
        EXPECT_EQ(a->b_filetype, (t_atom_long)WAVE);
        EXPECT_EQ(a->b_sr, (float)file.rate);
        EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));
        EXPECT_TRUE(other_.empty()) << other_.front();
        restart();
    }
}

TEST_F(ReadMessages, RequestsThatReachNoFileChangeNothing) {
    t_buffer *a = watched("a 1000 2");
    float *mem = a->b_memory;
    orvo::dialog_answer_cancel();
    send(a, "importreplace");
    send(a, "read", "100");  // no answer queued: cancelled too
    EXPECT_TRUE(console().empty()) << "a cancelled dialog is silent";
    orvo::dialog_answer_open(dir.file("st.wav"));
    // A negative offset is refused before the dialog or the lookup: the queued answer stays.
    send(a, "read", "-5");
    send(a, "replace", "nothere.wav -2.5");
    send(a, "read", "nothere.wav");
    send(a, "readagain");
    EXPECT_EQ(console(), (Lines{"buffer~: error: read: bad offset -5", "buffer~: error: replace: bad offset -2",
                                "buffer~: error: nothere.wav: can't open",
                                "buffer~: error: readagain: no file previously specified"}));
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_modified, 0);
    EXPECT_EQ(a->b_filetype, (t_atom_long)AIFF) << "untouched until the parser has the file";
    send(a, "read");
    EXPECT_EQ(a->b_filename, gensym("st.wav")) << "the dialog's answer was still queued";
    events();
    send(a, "readagain", "-1");
    EXPECT_EQ(console(), Lines{"buffer~: error: readagain: bad offset -1"});
}

}  // namespace
