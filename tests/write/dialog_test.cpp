// Writes without a name: what the save dialog offers, and what its answers write.
#include "write_fixture.h"

using namespace write_test;

namespace {

class SaveDialog : public WriteTest {};

TEST_F(SaveDialog, OffersFollowTheTypeAndTheMessage) {
    const std::vector<t_fourcc> four{AIFF, WAVE, DATA, FLAC};
    struct Case {
        t_atom_long filetype;  // b_filetype before the message
        const char *msg;
        const char *offered;
        std::vector<t_fourcc> types;
        t_fourcc selected;
        t_atom_long after;  // b_filetype after the cancelled dialog
    };
    const t_atom_long SND = FOURCC('.', 's', 'n', 'd'), SD2 = FOURCC('S', 'd', '2', 'f');
    const t_atom_long HIGH = (t_atom_long(1) << 32) | WAVE;  // not WAVE: the whole value counts
    const Case cases[] = {
        {WAVE, "write", "Untitled.wav", four, WAVE, WAVE},
        {AIFF, "write", "Untitled.aif", four, AIFF, AIFF},
        {NEXT, "write", "Untitled.snd", four, NEXT, NEXT},
        {SND, "write", "Untitled.snd", four, (t_fourcc)SND, SND},
        {SD2, "write", "Untitled.sd", four, (t_fourcc)SD2, SD2},
        {RAW, "write", "Untitled.raw", four, RAW, RAW},
        {FLAC, "write", "Untitled.raw", four, FLAC, FLAC},
        {0, "write", "Untitled.raw", four, 0, 0},
        {HIGH, "write", "Untitled.raw", four, WAVE, HIGH},
        {WAVE, "writeflac", "Untitled.raw", {FLAC}, FLAC, FLAC},
        {AIFF, "writewave", "Untitled.wav", {WAVE}, WAVE, WAVE},
        {WAVE, "writeaiff", "Untitled.aif", {AIFF}, AIFF, AIFF},
        {AIFF, "writeraw", "Untitled.raw", {DATA}, DATA, DATA},
    };
    t_buffer *b = filled("d", 10, 1);
    print_bangs(b);
    watch("d");
    for (const Case &c : cases) {
        b->b_filetype = c.filetype;
        orvo::advance(1);
        send(b, c.msg);  // no answer queued: the dialog is cancelled
        auto offer = orvo::last_save_offer();
        std::string what = std::string(c.msg) + " from " + fourcc_text(c.filetype);
        EXPECT_EQ(offer.default_name, c.offered) << what;
        EXPECT_EQ(offer.types, c.types) << what;
        EXPECT_EQ(offer.selected, c.selected) << what;
        EXPECT_TRUE(offer.autoextension) << what;
        EXPECT_EQ(b->b_filetype, c.after) << what;
        // Cancelled: no notification, no bang, nothing said.
        orvo::advance(1);
        EXPECT_TRUE(console().empty()) << what;
        EXPECT_EQ(b->b_modified, 0) << what;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path));
}

TEST_F(SaveDialog, ExplicitCancelWritesNothing) {
    t_buffer *b = filled("c", 10, 1);
    print_bangs(b);
    watch("c");
    orvo::dialog_answer_cancel();
    orvo::dialog_answer_save(path("after.wav"));
    send(b, "writewave");
    orvo::advance(1);
    EXPECT_TRUE(console().empty());
    // The cancel used up one answer only: the next dialog takes the next one.
    send(b, "writewave");
    EXPECT_EQ(read_sound(path("after.wav")).major(), SF_FORMAT_WAV);
    EXPECT_EQ(console(), (std::vector<std::string>{"watch c: buffer_modified", "P: bang"}));
}

TEST_F(SaveDialog, AnswersDecideNameFolderAndType) {
    struct Case {
        const char *filetype;
        const char *msg;
        std::string answer;
        t_fourcc answer_type;  // 0: the one preselected
        std::string file;      // what appears on disk
        t_fourcc written;
        int major;  // 0: data with no header
    };
    std::filesystem::create_directory(path("chosen"));
    const Case cases[] = {
        {"wave", "write", "pick", 0, "pick.wav", WAVE, SF_FORMAT_WAV},
        {"wave", "write", "choose.flac", FLAC, "choose.flac", FLAC, SF_FORMAT_FLAC},
        {"aiff", "write", "chosen/deep", 0, "chosen/deep.aif", AIFF, SF_FORMAT_AIFF},
        {"aiff", "write", "asdata", DATA, "asdata.raw", DATA, 0},
        {"wave", "writeflac", "f", 0, "f.flac", FLAC, SF_FORMAT_FLAC},
        // The dialog's name is taken as it comes back: its extension does not pick the type.
        {"aiff", "writeaiff", "named.wav", 0, "named.wav", AIFF, SF_FORMAT_AIFF},
    };
    for (const Case &c : cases) {
        t_buffer *b = filled("", 12, 2);
        send(b, "filetype", c.filetype);
        orvo::dialog_answer_save(path(c.answer), c.answer_type);
        send(b, c.msg);
        std::string what = std::string(c.msg) + " " + c.answer;
        EXPECT_EQ(fourcc_text(b->b_filetype), fourcc_text(c.written)) << what;
        if (c.major) {
            Sound s = read_sound(path(c.file));
            EXPECT_EQ(s.major(), c.major) << what;
            EXPECT_TRUE(same_samples(b, s, 1e-4f)) << what;
        } else {
            EXPECT_EQ(file_size(path(c.file)), 12u * 2 * 2) << what;
        }
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(SaveDialog, WriteFromTheSchedulerAsksOnTheMainThread) {
    t_buffer *b = filled("s", 10, 1);
    send(b, "filetype", "wave");
    orvo::dialog_answer_save(path("sched"));
    send_sched(b, "write");
    EXPECT_FALSE(exists(path("sched.wav")));
    orvo::run_until_idle();
    EXPECT_EQ(orvo::last_save_offer().default_name, "Untitled.wav");
    EXPECT_TRUE(same_samples(b, read_sound(path("sched.wav")), 1e-4f));
}

}  // namespace
