// The host's audio library on the public buffer record.
#include "buffer~/core/buffer_record.h"
#include "orvo_test.h"

namespace {

class AudioLibTest : public orvo_test::HostTest {
  protected:
    bool wants_plugins() const override { return false; }
    void SetUp() override {
        HostTest::SetUp();
        static t_class *buf = class_new("h2_fake_buffer", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        static t_class *other = class_new("h2_fake_other", nullptr, nullptr, (long)sizeof(t_buffer), 0L, 0L);
        buf_class = buf;
        other_class = other;
        ASSERT_TRUE(buf_class && other_class);
    }
    t_class *buf_class = nullptr;
    t_class *other_class = nullptr;
};

TEST_F(AudioLibTest, EditBracketCountsAndSetsValidity) {
    z_sysinit();
    z_sysinit();
    t_buffer b{};
    b.b_valid = 1;
    ASSERT_EQ(buffer_edit_begin(&b), 0);
    ASSERT_EQ(buffer_edit_begin(&b), 0);
    EXPECT_EQ(orvo::open_edits(), 2);
    buffer_edit_end(&b, 0);
    EXPECT_EQ(b.b_valid, 0);
    EXPECT_EQ(orvo::open_edits(), 1);
    buffer_edit_end(&b, -1);
    EXPECT_EQ(b.b_valid, 0) << "negative leaves the flag";
    EXPECT_EQ(orvo::open_edits(), 0);

    ASSERT_EQ(buffer_edit_begin(&b), 0);
    buffer_edit_end(&b, 1);
    EXPECT_EQ(b.b_valid, 1);

    orvo::set_edits_refused(true);
    EXPECT_NE(buffer_edit_begin(&b), 0);
    EXPECT_EQ(orvo::open_edits(), 0) << "a refusal opens nothing";
    orvo::set_edits_refused(false);
    EXPECT_EQ(buffer_edit_begin(&b), 0);
    buffer_edit_end(&b, 1);

    buffer_valid(&b, 0);
    EXPECT_EQ(b.b_valid, 0);
    buffer_valid(&b, 5);
    EXPECT_EQ(b.b_valid, 1);
}

TEST_F(AudioLibTest, FindOwnerThroughTheNameSlot) {
    auto *owner = static_cast<t_buffer *>(object_alloc(buf_class));
    auto *peer = static_cast<t_buffer *>(object_alloc(buf_class));
    auto *stranger = static_cast<t_object *>(object_alloc(other_class));
    ASSERT_TRUE(owner && peer && stranger);
    t_symbol *name = gensym("h2_findowner_name");
    t_object *saved = name->s_thing;

    EXPECT_EQ(buffer_findowner(peer), peer) << "no name";
    peer->b_name = name;
    name->s_thing = nullptr;
    EXPECT_EQ(buffer_findowner(peer), peer) << "name bound to nothing";
    name->s_thing = &owner->b_obj;
    EXPECT_EQ(buffer_findowner(peer), owner);
    EXPECT_EQ(buffer_findowner(owner), owner);
    name->s_thing = stranger;
    EXPECT_EQ(buffer_findowner(peer), peer) << "bound to an object of another class";

    name->s_thing = saved;
    freeobject(&owner->b_obj);
    freeobject(&peer->b_obj);
    freeobject(stranger);
}

TEST_F(AudioLibTest, SetZeroCountsFloats) {
    float v[6] = {1, 2, 3, 4, 5, 6};
    set_zero(v + 1, 4);
    EXPECT_EQ(std::vector<float>(v, v + 6), (std::vector<float>{1, 0, 0, 0, 0, 6}));
    set_zero(v, -3);
    EXPECT_EQ(v[0], 1.0f);
}

}  // namespace
