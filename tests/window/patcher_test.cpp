// The host's headless patcher window and waveform~ boxes, without buffer~.
#include <string>

#include "buffer_test.h"

namespace {

using orvo_test::Atoms;
using orvo_test::HostTest;

class PatcherTest : public HostTest {
  protected:
    // A patcher made from a dictionary of "@key value..." text, as editors make theirs.
    t_object *make(const std::string &text) {
        Atoms a(text);
        t_object *dict = dictionary_new();
        attr_args_dictionary(dict, (short)a.argc, a.argv);
        t_atom arg;
        atom_setobj(&arg, dict);
        auto *p = (t_object *)object_new_typed(gensym("nobox"), gensym("jpatcher"), 1, &arg);
        object_free(dict);
        return p;
    }
    static t_rect rect_of(t_object *x, const char *attr) {
        t_rect r{-1, -1, -1, -1};
        EXPECT_EQ(object_attr_get_rect(x, gensym(attr), &r), 0);
        return r;
    }
};

TEST_F(PatcherTest, BoxTextAttributesIncludingNumbersEndingInADot) {
    t_object *p = make("@defrect 0 0 350 100");
    t_object *box = newobject_sprintf(p,
                                      "@orvoclass waveform~ @patching_rect 0. %.6f. %.6f %.6f @norulerclick 1 "
                                      "@nosuchattr 3 @annotation \"%s\"",
                                      64.0, 350.0, 32.0, "two words:\nand a line");
    ASSERT_NE(box, nullptr);
    t_rect r = rect_of(box, "patching_rect");
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 64);
    EXPECT_EQ(r.width, 350);
    EXPECT_EQ(r.height, 32);
    EXPECT_EQ(object_attr_getlong(box, gensym("norulerclick")), 1);
    EXPECT_STREQ(object_attr_getsym(box, gensym("annotation"))->s_name, "two words:\nand a line");
    orvo::WindowInfo info;
    ASSERT_TRUE(orvo::window_info(p, &info));
    ASSERT_EQ(info.views.size(), 1u);
    EXPECT_EQ(info.views[0].box, box);
    EXPECT_TRUE(console().empty());
    object_free(p);
    EXPECT_FALSE(object_valid(box)) << "the patcher frees its boxes";
}

TEST_F(PatcherTest, BoxesFreedElsewhereLeaveThePatcher) {
    t_object *p = make("@defrect 0 0 350 100");
    t_object *a = newobject_sprintf(p, "@orvoclass waveform~");
    t_object *b = newobject_sprintf(p, "@orvoclass waveform~");
    ASSERT_TRUE(a && b);
    object_free(a);
    orvo::WindowInfo info;
    ASSERT_TRUE(orvo::window_info(p, &info));
    ASSERT_EQ(info.views.size(), 1u);
    EXPECT_EQ(info.views[0].box, b);
    object_free(p);  // must not free a again
    EXPECT_FALSE(object_valid(b));
}

TEST_F(PatcherTest, CreationTextWithoutAKnownClassMakesNothing) {
    t_object *p = make("@defrect 0 0 350 100");
    EXPECT_EQ(newobject_sprintf(p, "@patching_rect 0 0 10 10"), nullptr);
    EXPECT_FALSE(console().empty());
    EXPECT_EQ(newobject_sprintf(p, "@orvoclass nosuchbox"), nullptr);
    EXPECT_FALSE(console().empty());
    EXPECT_EQ(newobject_sprintf(nullptr, "@orvoclass waveform~"), nullptr);
    object_free(p);
}

}  // namespace
