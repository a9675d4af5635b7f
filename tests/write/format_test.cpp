// format, samptype and filetype: what the next write will use.
#include "write_fixture.h"

using namespace write_test;

namespace {

class Format : public WriteTest {
  protected:
    // Size and encoding as one comparable value.
    static std::pair<t_atom_long, std::string> state(const t_buffer *b) {
        return {b->b_outsampsize, fourcc_text(b->b_samptype)};
    }
};

TEST_F(Format, EncodingNamesThroughFormatAndSamptype) {
    struct Case {
        const char *name;
        t_atom_long size;
        t_fourcc encoding;
    };
    const Case cases[] = {
        {"int8", 1, NONE},    {"int16", 2, NONE},   {"int24", 3, NONE}, {"int32", 4, NONE},
        {"float32", 4, FL32}, {"float64", 8, FL64}, {"mulaw", 1, ULAW}, {"alaw", 1, ALAW},
    };
    t_buffer *b = buffer();
    for (const char *msg : {"format", "samptype"}) {
        for (const Case &c : cases) {
            // Start from a state that differs in both fields, so a half-applied setting shows.
            send(b, "format", c.size == 8 ? "alaw" : "float64");
            send(b, msg, c.name);
            EXPECT_EQ(state(b), std::make_pair(c.size, fourcc_text(c.encoding))) << msg << " " << c.name;
        }
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(Format, BitDepthsMeanPlainIntegers) {
    const std::pair<int, t_atom_long> depths[] = {{8, 1}, {16, 2}, {24, 3}, {32, 4}};
    t_buffer *b = buffer();
    for (auto [bits, size] : depths) {
        send(b, "format", "float64");
        send(b, "format", std::to_string(bits));
        EXPECT_EQ(state(b), std::make_pair(size, std::string("NONE"))) << bits;
    }
    EXPECT_TRUE(console().empty());
}

TEST_F(Format, UnsupportedDepthReportsAndStillResetsEncoding) {
    t_buffer *b = buffer();
    for (const char *bits : {"12", "0", "-16", "64"}) {
        send(b, "format", "float32");
        send(b, "format", bits);
        EXPECT_EQ(console(),
                  std::vector<std::string>{std::string("buffer~: error: unsupported output bit depth ") + bits});
        EXPECT_EQ(state(b), std::make_pair(t_atom_long(4), std::string("NONE"))) << bits;
    }
}

TEST_F(Format, IgnoredArguments) {
    t_buffer *b = buffer();
    send(b, "format", "mulaw");
    const std::pair<const char *, const char *> ignored[] = {
        {"format", "16.0"}, {"format", "16.5 32"}, {"format", "MULAW"},     {"format", "int12"},
        {"format", ""},     {"samptype", "MULAW"}, {"samptype", "Float32"}, {"samptype", "wave"},
    };
    for (auto [msg, args] : ignored) {
        send(b, msg, args);
        EXPECT_EQ(state(b), std::make_pair(t_atom_long(1), std::string("ULAW"))) << msg << " " << args;
    }
    // Only the first argument counts.
    send(b, "format", "int8 float64");
    EXPECT_EQ(state(b), std::make_pair(t_atom_long(1), std::string("NONE")));
    send(b, "format", "24 12");
    EXPECT_EQ(state(b), std::make_pair(t_atom_long(3), std::string("NONE")));
    EXPECT_TRUE(console().empty());
}

TEST_F(Format, FileTypes) {
    const std::pair<const char *, const char *> cases[] = {
        {"wave", "WAVE"},
        {"raw", "????"},
        {"au", "NxTS"},
        {"aiff", "AIFF"},
        // Not file types: the last one stays.
        {"flac", "AIFF"},
        {"WAVE", "AIFF"},
        {"wav", "AIFF"},
        {"aif", "AIFF"},
    };
    t_buffer *b = buffer();
    for (auto [sym, code] : cases) {
        send(b, "filetype", sym);
        EXPECT_EQ(fourcc_text(b->b_filetype), code) << sym;
    }
    EXPECT_TRUE(console().empty());
    // The settings leave the encoding alone, and the encodings leave the type alone.
    send(b, "format", "float32");
    send(b, "filetype", "wave");
    EXPECT_EQ(state(b), std::make_pair(t_atom_long(4), std::string("FL32")));
    send(b, "format", "int8");
    EXPECT_EQ(fourcc_text(b->b_filetype), "WAVE");
}

}  // namespace
