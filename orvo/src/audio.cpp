// The host's audio library: system sample rate, the edit bracket around
// replacements of buffer memory, and a few helpers on the public buffer record.
#include <atomic>
#include <cstring>

#include "memory_internal.h"
#include "objects_internal.h"
#include "orvo/runtime.h"

namespace {
std::atomic<double> g_sr{44100.0};
std::atomic<bool> g_edits_refused{false};

// Validity belongs to the memory, which every box of a name shares: mark them all.
void mark_valid(t_buffer *b, long valid) {
    b->b_valid = valid;
    auto *owner = static_cast<t_buffer *>(buffer_findowner(b));
    for (t_buffer *p = owner; p; p = p->b_next)
        if (p->b_memory == b->b_memory) p->b_valid = valid;
}
}  // namespace

extern "C" {

void z_sysinit(void) {}

double sys_getsr(void) { return g_sr.load(); }

t_orvo_err buffer_edit_begin(void *buffer) {
    if (g_edits_refused.load()) return ORVO_ERR_GENERIC;
    auto *owner = static_cast<t_buffer *>(buffer_findowner(buffer));
    return orvo::detail::edit_open(buffer, owner, owner ? &owner->b_memory : nullptr) ? ORVO_ERR_NONE
                                                                                     : ORVO_ERR_GENERIC;
}

t_orvo_err buffer_edit_end(void *buffer, long valid) {
    // Only the box granted the bracket closes it (duplicate ends what it may not have begun).
    if (!orvo::detail::edit_close(buffer)) return ORVO_ERR_GENERIC;
    auto *b = static_cast<t_buffer *>(buffer);
    if (b && valid >= 0) mark_valid(b, valid > 0 ? 1 : 0);
    return ORVO_ERR_NONE;
}

void *buffer_findowner(void *buffer) {
    auto *b = static_cast<t_buffer *>(buffer);
    if (!b) return nullptr;
    t_symbol *s = b->b_name;
    if (s && s->s_thing && object_class(s->s_thing) == object_class(b)) return s->s_thing;
    return b;
}

void buffer_valid(void *buffer, long way) {
    if (buffer) mark_valid(static_cast<t_buffer *>(buffer), way != 0);
}

void set_zero(float *p, t_ptr_int n) {
    if (p && n > 0) memset(p, 0, (size_t)n * sizeof(float));
}

}  // extern "C"

namespace orvo {

void set_sr(double sr) { g_sr.store(sr); }
void set_edits_refused(bool refused) { g_edits_refused.store(refused); }
long open_edits() { return detail::edits_open(); }

}  // namespace orvo

namespace orvo {

t_buffer *buffer_record(void *x) {
    // Classes live as long as the process, so the pointer once found stays good.
    static std::atomic<t_class *> cls{nullptr};
    if (!x) return nullptr;
    t_class *c = cls.load();
    if (!c) {
        c = detail::find_class(gensym("box"), gensym("buffer~"));
        if (!c) return nullptr;
        cls.store(c);
    }
    return object_class(x) == c ? static_cast<t_buffer *>(x) : nullptr;
}

}  // namespace orvo
