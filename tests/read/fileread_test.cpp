// The file load driver: refusals and failures, the read at creation, peers, raw
// data and the instrument data of AIFF files.
#include <cstring>
#include <fstream>
#include <iterator>

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
    EXPECT_EQ(events(), Lines{"watch a: buffer_modified"});
    orvo::connect(&a->b_obj, 1, box("print", "done"), 0);
    orvo::advance(1);
    send(a, "fill", "0.25");
    EXPECT_EQ(events(), (Lines{"watch a: buffer_modified", "done: bang"}));

    // A size and channels given too: the file decides the length, the box the channels.
    t_buffer *b = buffer("b st.wav 500 1");
    EXPECT_EQ(b->b_frames, 4410);
    EXPECT_TRUE(holds(b, 0, 4410, 1, 4410));
    t_buffer *c = buffer("c nothere.wav 500 1");
    EXPECT_EQ(console(), Lines{"buffer~: error: nothere.wav: can't open"});
    EXPECT_EQ(c->b_memory, nullptr);
}

TEST_F(FileRead, PeersSeeTheLoad) {
    make("st.wav", 2, 3000);
    t_buffer *a = buffer("a 10 1"), *b = buffer("a"), *c = buffer("a");
    send(c, "replace", "st.wav");
    for (t_buffer *x : {a, b, c}) {
        EXPECT_EQ(x->b_samples, a->b_samples);
        EXPECT_EQ(x->b_frames, 3000);
        EXPECT_EQ(x->b_nchans, 2);
        EXPECT_EQ(x->b_filename, gensym("st.wav"));
        EXPECT_EQ(x->b_valid, 1);
        EXPECT_EQ(x->b_window->w_nchans, x == c ? 2 : 1) << "the reading box re-counts its views";
    }
    EXPECT_TRUE(holds(a, 0, 3000, 2, 3000));
    EXPECT_EQ(a->b_prevchans, 1) << "kept on the owner";
}

void record_error(void *arg, t_atom_long code) { *static_cast<t_atom_long *>(arg) = code; }

TEST_F(FileRead, ParserOpenFailure) {
    std::ofstream(dir.file("junk.wav"), std::ios::binary) << std::string(300, 'j');
    t_buffer *a = watched("a 10 1");
    float *mem = a->b_memory;
    send(a, "read", "junk.wav");
    auto ev = events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].rfind("watch a: read_failed ", 0), 0u) << ev[0];
    EXPECT_EQ(other_, Lines{"buffer~: error: cannot open parser for this file"});

    // A custom handler hears the code instead of the console; the clients still do.
    t_atom_long code = 0;
    object_method(a, gensym("set_custom_error_handler"), reinterpret_cast<void *>(&record_error), &code);
    send(a, "read", "junk.wav");
    EXPECT_NE(code, 0);
    EXPECT_EQ(events(), Lines{"watch a: read_failed " + std::to_string(code)});
    EXPECT_TRUE(other_.empty()) << other_.front();
    object_method(a, gensym("set_custom_error_handler"), nullptr, nullptr);
    send(a, "read", "junk.wav");
    events();
    EXPECT_EQ(other_, Lines{"buffer~: error: cannot open parser for this file"});
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_filetype, (t_atom_long)AIFF) << "failed before the type was taken";
}

TEST_F(FileRead, EditsRefused) {
    make("m.wav", 1, 1000);
    t_buffer *a = watched("a 10 2");
    send(a, "fill", "0.5");
    orvo::advance(1);
    events();
    float *mem = a->b_memory;
    orvo::set_edits_refused(true);
    send(a, "replace", "m.wav");
    orvo::set_edits_refused(false);
    EXPECT_EQ(events(), Lines{"watch a: read_failed -1"});
    EXPECT_EQ(other_, Lines{"buffer~: error: can't read file now"});
    EXPECT_EQ(a->b_memory, mem);
    EXPECT_EQ(a->b_samples[5], 0.5f);
    EXPECT_EQ(a->b_filetype, (t_atom_long)WAVE) << "taken as soon as the parser had the file";
    send(a, "replace", "m.wav");
    EXPECT_EQ(a->b_frames, 1000) << "the parser was closed";
}

TEST_F(FileRead, OutOfMemory) {
    make("long.wav", 2, 441000);  // 3.5 MB of samples
    t_buffer *a = watched("a 10 3"), *peer = buffer("a");
    t_buffer *b = buffer("b 10 3000");  // 100 frames of these are more than a MiB too
    watch("b");
    orvo::mem_fail_above(1 << 20);
    send(a, "replace", "long.wav");
    EXPECT_EQ(events(), Lines{"watch a: read_failed -1"});
    EXPECT_EQ(other_, Lines{"buffer~: error: a: out of memory reading long.wav"});
    EXPECT_EQ(a->b_size, 300) << "100 frames of the channels from before";
    EXPECT_TRUE(holds(a, 0, 0, 0, 0));
    EXPECT_EQ(a->b_valid, 0);
    EXPECT_EQ(peer->b_samples, a->b_samples);
    EXPECT_EQ(peer->b_frames, 100);
    // A duration beyond any memory takes the same way, with no undefined arithmetic.
    send(a, "read", "long.wav 0 1e30 2");
    EXPECT_EQ(events(), Lines{"watch a: read_failed -1"});
    EXPECT_EQ(other_, Lines{"buffer~: error: a: out of memory reading long.wav"});
    EXPECT_EQ(a->b_frames, 100);
    // When not even the fallback can be had: no memory at all.
    send(b, "replace", "long.wav");
    EXPECT_EQ(events(), Lines{"watch b: read_failed -1"});
    EXPECT_EQ(b->b_memory, nullptr);
    EXPECT_EQ(b->b_samples, nullptr);
}

TEST_F(FileRead, KeptSizeWithoutMemoryFails) {
    make("m.wav", 2, 1000);
    orvo::mem_fail_above(1 << 20);
    t_buffer *a = buffer("a 1000 3000");  // neither creation block can be had: a size, no memory
    orvo::mem_fail_reset();
    ASSERT_EQ(a->b_memory, nullptr);
    ASSERT_EQ(a->b_size, 300000);
    watch("a");
    console();
    send(a, "read", "m.wav");
    EXPECT_EQ(events(), Lines{"watch a: read_failed -1"});
    EXPECT_TRUE(other_.empty()) << other_.front();
    EXPECT_EQ(a->b_filetype, (t_atom_long)WAVE);
}

TEST_F(FileRead, RawDataFollowsTheSampleType) {
    // Big-endian 32-bit floats, which read as 16-bit integers are something else entirely.
    const float values[] = {0.5f, -0.25f, 0.75f, -1.0f};
    std::string bytes;
    for (float v : values) {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int s = 24; s >= 0; s -= 8) bytes += (char)(u >> s);
    }
    std::ofstream(dir.file("f.raw"), std::ios::binary) << bytes;
    t_buffer *a = buffer("a");
    send(a, "sizeinsamps", "4 1");
    send(a, "samptype", "float32");
    send(a, "read", "f.raw");
    EXPECT_EQ(a->b_filetype, (t_atom_long)DATA);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a->b_samples[i], values[i]) << i;
    send(a, "samptype", "int16");
    send(a, "read", "f.raw");
    EXPECT_EQ(a->b_samples[0], (float)0x3F00 / 32768.0f) << "the high half of 0.5";
}

// ---- instrument data -----------------------------------------------------------------------------

void put16(std::string &s, int v) { s += (char)((v >> 8) & 0xFF), s += (char)(v & 0xFF); }
void put32(std::string &s, uint32_t v) {
    for (int sh = 24; sh >= 0; sh -= 8) s += (char)((v >> sh) & 0xFF);
}
std::string chunk(const char *id, const std::string &body) {
    std::string s(id, 4);
    put32(s, (uint32_t)body.size());
    return s + body + (body.size() & 1 ? std::string(1, '\0') : std::string());
}

// Adds markers 1..4 at frames 10, 50, 60, 90 and an INST chunk (pitch 60, detune -5, keys
// 16-112, velocities 5-127, gain -6, loops as mode and marker ids) to an AIFF or AIFC
// file. This libsndfile writes neither chunk itself.
void add_instrument(const std::string &path, const int *loops) {
    std::string mark;
    put16(mark, 4);
    const int pos[] = {10, 50, 60, 90};
    for (int i = 0; i < 4; ++i) {
        put16(mark, i + 1);
        put32(mark, (uint32_t)pos[i]);
        mark += "\x01", mark += (char)('a' + i);  // a counted name of one letter: even already
    }
    std::string inst("\x3C\xFB\x10\x70\x05\x7F", 6);
    put16(inst, -6);
    for (int i = 0; i < 6; ++i) put16(inst, loops[i]);
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string added = chunk("MARK", mark) + chunk("INST", inst), size;
    put32(size, (uint32_t)(file.size() - 8 + added.size()));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << file.substr(0, 4) + size + file.substr(8, 4) + added + file.substr(12);
}

struct Block {
    t_atom_long loops[4];
    int16_t settings[7];
    bool operator==(const Block &o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

std::ostream &operator<<(std::ostream &o, const Block &b) {
    for (auto v : b.loops) o << v << " ";
    for (auto v : b.settings) o << v << " ";
    return o;
}

Block block_of(const t_buffer *b) {
    return {{b->b_susloopstart, b->b_susloopend, b->b_relloopstart, b->b_relloopend},
            {b->b_basepitch, b->b_detune, b->b_lowpitch, b->b_highpitch, b->b_lowvel, b->b_highvel, b->b_gain}};
}

TEST_F(FileRead, InstrumentBlock) {
    const int off[6] = {}, both[6] = {1, 1, 2, 2, 3, 4}, susoff[6] = {0, 1, 2, 1, 3, 4},
              relonly[6] = {3, 4, 3, 0, 1, 2}, missing[6] = {1, 1, 9, 0, 0, 0};
    struct Step {
        const char *file;
        int format;
        const int *loops;  // null: no instrument chunk
        Block want;
    };
    const int AIFF16 = SF_FORMAT_AIFF | SF_FORMAT_PCM_16, AIFC = SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    const int16_t s[7] = {60, -5, 16, 112, 5, 127, -6};
    auto blk = [&](t_atom_long a, t_atom_long b, t_atom_long c, t_atom_long d) {
        return Block{{a, b, c, d}, {s[0], s[1], s[2], s[3], s[4], s[5], s[6]}};
    };
    const Step steps[] = {
        {"both.aif", AIFF16, both, blk(10, 50, 60, 90)},
        {"plain.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, nullptr, Block{}},
        {"susoff.aifc", AIFC, susoff, blk(0, 0, 60, 90)},  // a loop that is off has no points
        {"plain.aif", AIFF16, nullptr, Block{}},
        {"relonly.aif", AIFF16, relonly, blk(90, 60, 0, 0)},
        {"missing.aif", AIFF16, missing, blk(10, 0, 0, 0)},  // an id the file does not hold
        {"off.aif", AIFF16, off, blk(0, 0, 0, 0)},
        {"raw.raw", 0, nullptr, Block{}},
    };
    t_buffer *a = buffer("a"), *peer = buffer("a");
    for (const Step &st : steps) {
        SCOPED_TRACE(st.file);
        if (st.format)
            make(st.file, 1, 100, 44100, st.format);
        else
            std::ofstream(dir.file(st.file), std::ios::binary) << std::string(200, '\0');
        if (st.loops) add_instrument(dir.file(st.file), st.loops);
        send(peer, "replace", st.file);
        EXPECT_EQ(a->b_frames, 100);
        EXPECT_TRUE(holds(a, 0, st.format ? 100 : 0, 1, 100));
        EXPECT_EQ(block_of(a), st.want);
        EXPECT_EQ(block_of(peer), st.want) << "every box of the name";
    }
    EXPECT_EQ(a->b_filetype, (t_atom_long)DATA);
    EXPECT_TRUE(console().empty());
}

}  // namespace
