// The host's audio library on the public buffer record: the edit bracket, the
// owner found through a name, validity shared by the boxes of a name.
#include "buffer~/core/buffer_record.h"
#include "orvo_test.h"

namespace {

class AudioLibTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
    void TearDown() override {
        for (auto *x : made) freeobject(x);
        HostTest::TearDown();
    }
    // A zeroed record of a buffer-like class, or of another class.
    t_buffer *make(bool other_class = false) {
        static t_class *buf = class_new("audio_test_buffer", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        static t_class *other = class_new("audio_test_other", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        made.push_back((t_object *)object_alloc(other_class ? other : buf));
        return (t_buffer *)made.back();
    }
    std::vector<t_object *> made;
};

TEST_F(AudioLibTest, EditBracket) {
    const std::tuple<bool, long, long, long> cases[] = {
        // refused, valid before, valid passed to the end, valid after (negative: left as it was)
        {false, 1, 0, 0}, {false, 0, 1, 1}, {false, 0, 5, 1}, {false, 1, -1, 1}, {false, 0, -1, 0}, {true, 1, 0, 1},
    };
    for (auto &[refused, before, end_arg, after] : cases) {
        t_buffer b{};
        b.b_valid = before;
        orvo::set_edits_refused(refused);
        bool opened = buffer_edit_begin(&b) == 0;
        EXPECT_EQ(orvo::open_edits(), refused ? 0 : 1) << "a refusal opens nothing";
        if (opened) buffer_edit_end(&b, end_arg);
        EXPECT_EQ(b.b_valid, after) << before << " " << end_arg;
        EXPECT_EQ(orvo::open_edits(), 0);
    }
}

// The owner is what the name is bound to, if of the same class. Boxes of one
// name share memory through the owner's chain: marking any one marks every box
// on the same memory, and no box on other memory.
TEST_F(AudioLibTest, OwnerAndValidityAcrossTheBoxesOfAName) {
    float shared[4], stale[4];
    t_symbol *name = gensym("audio_test_name");
    t_buffer *owner = make(), *peer = make(), *old = make(), *elsewhere = make();
    EXPECT_EQ(buffer_findowner(peer), peer) << "no name";
    for (t_buffer *b : {owner, peer, old}) b->b_name = name, b->b_memory = shared;
    owner->b_next = old, old->b_next = peer, old->b_memory = stale;
    elsewhere->b_name = gensym("audio_test_name2"), elsewhere->b_memory = shared;
    for (auto [bound, expected] : {std::pair{&make(true)->b_obj, peer}, {nullptr, peer}, {&owner->b_obj, owner}}) {
        name->s_thing = bound;
        EXPECT_EQ(buffer_findowner(peer), expected);
        EXPECT_EQ(buffer_findowner(old), expected == peer ? old : owner);
    }
    const std::tuple<t_buffer *, bool, long, std::vector<t_atom_long>> steps[] = {
        // marked box, through an edit bracket or buffer_valid, the value; then owner, peer, old, elsewhere
        {peer, true, 1, {1, 1, 0, 0}},  {owner, false, 0, {0, 0, 0, 0}}, {old, false, 1, {0, 0, 1, 0}},
        {peer, false, 7, {1, 1, 1, 0}}, {owner, true, 0, {0, 0, 1, 0}},
    };
    for (auto &[who, edit, valid, states] : steps) {
        if (!edit)
            buffer_valid(who, valid);
        else if (buffer_edit_begin(who) == 0)
            buffer_edit_end(who, valid);
        EXPECT_EQ(states, (std::vector<t_atom_long>{owner->b_valid, peer->b_valid, old->b_valid, elsewhere->b_valid}));
    }
    name->s_thing = nullptr;
}

}  // namespace
