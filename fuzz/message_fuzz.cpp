// Messages from a patch: random selectors of buffer~'s message table with
// random atoms, sent to buffers of random shapes sharing names, from the main
// thread and the scheduler thread. The boxes of one name hear one thread at a
// time and the queues are drained before the next message, as a patch that
// respects the threading rules does. After each drained message every chain
// must hold together (one owner, every box on the owner's memory and layout,
// zero guard zones, size = frames x channels) and no sample may have become
// NaN or infinite unless the message asked for it: a non-finite argument, or a
// fill value, gain, offset, normalize or difference beyond the float range.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_host.h"

namespace {

const char *const kNames[] = {"na", "nb", "nc"};

// Every message a patch can send to buffer~, and its attributes.
const char *const kSelectors[] = {"read",      "import",    "importreplace", "replace",   "readagain",    "write",
                                  "writeaiff", "writewave", "writeflac",     "writeraw",  "sizeinsamps",  "name",
                                  "set",       "clear",     "clearlow",      "fill",      "sr",           "open",
                                  "wclose",    "format",    "samptype",      "filetype",  "printmodtime", "enumerate",
                                  "normalize", "crop",      "apply",         "duplicate", "bang",         "setsize",
                                  "size",      "samps",     "padding"};

const char *const kWords[] = {"na",     "nb",        "nc",     "nd",       "",        "f.wav",    "g.aif",    "h.flac",
                              "k.raw",  "m.snd",     "take",   "take.WAV", "sin",     "cos",      "sinc",     "gain",
                              "offset", "getdeltas", "kaiser", "hamming",  "hanning", "blackman", "triangle", "welch",
                              "half",   "int8",      "int16",  "int24",    "int32",   "float32",  "float64",  "mulaw",
                              "alaw",   "aiff",      "wave",   "raw",      "au"};

// No single block above this: a size can ask for anything, the machine is shared.
constexpr long long kMemoryCeiling = 256ll << 20;

t_atom_long some_int(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0: {
            const t_atom_long edge[] = {0,
                                        -1,
                                        1,
                                        2,
                                        4,
                                        8,
                                        INT64_MAX,
                                        INT64_MIN,
                                        INT32_MAX,
                                        INT32_MIN,
                                        (t_atom_long)1 << 31,
                                        (t_atom_long)1 << 40,
                                        -((t_atom_long)1 << 40),
                                        100000};
            return edge[in.ConsumeIntegralInRange<size_t>(0, std::size(edge) - 1)];
        }
        case 1:
            return in.ConsumeIntegral<t_atom_long>();
        case 2:
        case 3:
            return in.ConsumeIntegralInRange<t_atom_long>(0, 5000);
        default:
            return in.ConsumeIntegralInRange<t_atom_long>(-3, 9);
    }
}

double some_float(FuzzedDataProvider &in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0: {
            const double edge[] = {std::numeric_limits<double>::quiet_NaN(),
                                   INFINITY,
                                   -INFINITY,
                                   1e38,
                                   -1e38,
                                   1e300,
                                   1e-45,
                                   -0.0,
                                   0.5,
                                   3.4e38};
            return edge[in.ConsumeIntegralInRange<size_t>(0, std::size(edge) - 1)];
        }
        case 1:
            return in.ConsumeFloatingPoint<double>();
        default:
            return in.ConsumeFloatingPointInRange<double>(-2000.0, 2000.0);
    }
}

t_symbol *some_symbol(FuzzedDataProvider &in) {
    if (in.ConsumeIntegralInRange(0, 9) == 0) {
        // Letters, digits and a dot: never a path separator.
        std::string s = in.ConsumeRandomLengthString(12), clean;
        for (char c : s)
            if (isalnum((unsigned char)c) || c == '.') clean += c;
        return gensym(clean.c_str());
    }
    return gensym(kWords[in.ConsumeIntegralInRange<size_t>(0, std::size(kWords) - 1)]);
}

struct Message {
    t_symbol *sel;
    std::vector<t_atom> args;
    bool nonfinite_arg = false;
};

Message some_message(FuzzedDataProvider &in) {
    Message m;
    m.sel = gensym(kSelectors[in.ConsumeIntegralInRange<size_t>(0, std::size(kSelectors) - 1)]);
    int n = in.ConsumeIntegralInRange(0, 5);
    for (int i = 0; i < n; ++i) {
        t_atom a;
        switch (in.ConsumeIntegralInRange(0, 2)) {
            case 0:
                atom_setlong(&a, some_int(in));
                break;
            case 1: {
                double f = some_float(in);
                m.nonfinite_arg |= !std::isfinite(f);
                atom_setfloat(&a, f);
                break;
            }
            default:
                atom_setsym(&a, some_symbol(in));
        }
        m.args.push_back(a);
    }
    return m;
}

// Whether the message may take samples beyond the float range by itself.
bool may_overflow(const Message &m) {
    if (m.nonfinite_arg) return true;
    const std::string s = m.sel->s_name;
    if (s == "normalize") return true;
    if (s == "fill") return !m.args.empty() && m.args[0].a_type != A_SYM;
    if (s == "apply" && !m.args.empty() && m.args[0].a_type == A_SYM) {
        const std::string fn = m.args[0].a_w.w_sym->s_name;
        return fn == "gain" || fn == "offset" || fn == "getdeltas";
    }
    return false;
}

// ORVO_FUZZ_TRACE=1 prints each step as a line of an orvo script, to replay a finding.
bool tracing() {
    static const bool on = getenv("ORVO_FUZZ_TRACE") != nullptr;
    return on;
}

std::string atom_text(const t_atom &a) {
    char s[64];
    if (a.a_type == A_LONG)
        snprintf(s, sizeof s, "%lld", (long long)a.a_w.w_long);
    else if (a.a_type == A_FLOAT)
        snprintf(s, sizeof s, "%.17g", a.a_w.w_float);
    else
        return a.a_w.w_sym->s_name[0] ? a.a_w.w_sym->s_name : "\"\"";
    return s;
}

long g_messages = 0, g_sequences = 0;

struct World {
    std::vector<t_buffer *> boxes;
    std::vector<int> ids;  // a stable number per box, for the trace
    int next_id = 0;
    std::set<t_symbol *> tainted;  // names whose samples may already hold NaN or infinities
    bool tainted_files = false;    // a file may have been written from such samples
};

std::string shape_args(FuzzedDataProvider &in) {
    std::string args = kNames[in.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)];
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0:
            break;
        case 1:
            args += " " + std::to_string(in.ConsumeIntegralInRange(0, 200));
            break;
        default:
            args += " " + std::to_string(in.ConsumeIntegralInRange(0, 200)) + " " +
                    std::to_string(in.ConsumeIntegralInRange(0, 9));
    }
    if (in.ConsumeIntegralInRange(0, 5) == 0) args += " @padding " + std::to_string(in.ConsumeIntegralInRange(0, 64));
    return args;
}

void trace(const std::string &line) {
    if (tracing()) fprintf(stderr, "%s\n", line.c_str());
}

void add_box(World &w, const std::string &args) {
    if (t_buffer *b = fuzz::new_buffer(args)) {
        w.boxes.push_back(b);
        w.ids.push_back(w.next_id);
        trace("new b" + std::to_string(w.next_id) + " buffer~ " + args);
    }
    ++w.next_id;
}

std::set<t_symbol *> names_of(const World &w) {
    std::set<t_symbol *> names;
    for (auto *b : w.boxes) names.insert(b->b_name);
    return names;
}

void check(World &w, const std::set<t_symbol *> &allowed, const std::string &what) {
    for (auto *b : w.boxes) {
        t_symbol *name = b->b_name;
        bool found = false;
        for (auto *m = (t_buffer *)name->s_thing; m && !found; m = m->b_next) found = m == b;
        if (!found && name->s_thing) fuzz::fail(what + ": a box left out of its name's chain");
    }
    for (t_symbol *name : names_of(w)) {
        std::string p = fuzz::chain_problems(name);
        if (!p.empty()) fuzz::fail(what + ": " + p);
        auto *head = (t_buffer *)name->s_thing;
        bool nonfinite = head && fuzz::nonfinite_samples(head) > 0;
        if (nonfinite && !w.tainted.count(name) && !allowed.count(name))
            fuzz::fail(what + ": samples of " + name->s_name + " became NaN or infinite");
        if (nonfinite)
            w.tainted.insert(name);
        else
            w.tainted.erase(name);
    }
}

void send(World &w, FuzzedDataProvider &in) {
    if (w.boxes.empty()) return;
    size_t index = in.ConsumeIntegralInRange<size_t>(0, w.boxes.size() - 1);
    t_buffer *x = w.boxes[index];
    bool scheduler = in.ConsumeBool();
    Message m = some_message(in);
    std::set<t_symbol *> allowed;
    const std::string sel = m.sel->s_name;
    t_symbol *target = !m.args.empty() && m.args[0].a_type == A_SYM ? m.args[0].a_w.w_sym : nullptr;
    bool from_tainted = w.tainted.count(x->b_name) > 0;
    if (may_overflow(m)) allowed.insert(x->b_name);
    // Samples move with a copy, a rename or a file.
    if (sel == "duplicate" && target && w.tainted.count(target)) allowed.insert(x->b_name);
    if ((sel == "name" || sel == "set") && target && from_tainted) allowed.insert(target);
    if (sel.rfind("write", 0) == 0 && from_tainted) w.tainted_files = true;
    if (w.tainted_files &&
        (sel == "read" || sel == "import" || sel == "replace" || sel == "importreplace" || sel == "readagain"))
        allowed.insert(x->b_name);

    if (tracing()) {
        std::string line = std::string(scheduler ? "sched " : "") + "b" + std::to_string(w.ids[index]) + " " + sel;
        for (auto &a : m.args) line += " " + atom_text(a);
        trace(line);
    }
    ++g_messages;
    auto deliver = [&] { object_method_typed(x, m.sel, (long)m.args.size(), m.args.data(), nullptr); };
    if (scheduler)
        orvo::run_on_scheduler(deliver);
    else
        deliver();
    fuzz::drain();
    orvo::console_take();
    check(w, allowed, sel + (scheduler ? " on the scheduler thread" : ""));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzz::start_host();
    orvo::mem_fail_above(kMemoryCeiling);
    std::atexit([] { fprintf(stderr, "messages: %ld in %ld sequences\n", g_messages, g_sequences); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    ++g_sequences;
    long blocks = orvo::mem_stats().blocks;
    // "duplicate" ends brackets whose opening it does not check: the count may fall, never rise.
    long edits = orvo::open_edits();
    World w;
    for (int i = in.ConsumeIntegralInRange(1, 4); i > 0; --i) add_box(w, shape_args(in));
    fuzz::drain();
    check(w, {}, "creation");

    for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 15)) {
            case 0: {
                bool refuse = in.ConsumeBool();
                trace(refuse ? "set edits refuse" : "set edits allow");
                orvo::set_edits_refused(refuse);
                break;
            }
            case 1: {
                int ms = in.ConsumeIntegralInRange(0, 3);
                trace("wait " + std::to_string(ms));
                orvo::advance(ms);
                break;
            }
            case 2:
                if (!w.boxes.empty()) {
                    size_t i = in.ConsumeIntegralInRange<size_t>(0, w.boxes.size() - 1);
                    trace("free b" + std::to_string(w.ids[i]));
                    object_free(w.boxes[i]);
                    w.boxes.erase(w.boxes.begin() + (long)i);
                    w.ids.erase(w.ids.begin() + (long)i);
                    fuzz::drain();
                    check(w, {}, "free");
                }
                break;
            case 3:
                add_box(w, shape_args(in));
                fuzz::drain();
                check(w, {}, "new box");
                break;
            default:
                send(w, in);
        }
    }
    orvo::set_edits_refused(false);
    for (auto *b : w.boxes) object_free(b);
    fuzz::drain();
    orvo::console_take();
    if (orvo::mem_stats().blocks != blocks) fuzz::fail("host memory blocks left over");
    if (orvo::open_edits() > edits) fuzz::fail("edit bracket left open");
    fuzz::clear_folder();
    return 0;
}
