// Memory blocks: a registry of every live block (for sizes, statistics and
// freeing each kind correctly), large blocks straight from the kernel, fault
// injection for tests; and, under the same lock, the edit brackets on buffer
// memory and the marks of blocks being read outside them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "memory_internal.h"
#include "orvo/runtime.h"

namespace {

constexpr t_ptr_int kHugeThreshold = t_ptr_int(4) << 20;  // from here on: mmap
constexpr uintptr_t kHugeAlign = uintptr_t(2) << 20;      // one huge page

struct Block {
    t_ptr_int size;
    size_t mapped;        // bytes mapped, 0 for malloc blocks
    int reads = 0;        // SampleReads holding it
    bool doomed = false;  // freed while read: goes when the last read ends
};

// An open edit bracket: the box it was granted to, that box's owner, and the
// blocks it covers: the owner's block at the start and every block allocated
// on the bracket's thread while it is that thread's latest (the memory that
// replaces the old; a bracket opened inside it takes what is allocated then).
struct Bracket {
    const void *box;
    const void *owner;
    std::thread::id thread;
    std::vector<void *> blocks;
};

struct Registry {
    std::mutex m;
    std::map<void *, Block> blocks;  // ordered: a pointer into a block finds it
    std::vector<Bracket> brackets;
    long long bytes = 0;
    long long allocs = 0;
    long fail_next = 0;
    long fail_nth = 0;  // countdown to the one allocation that fails; 0: off
    long long fail_above = 0;
    long bad_frees = 0;
    bool abort_on_bad_free = false;
};

Registry &reg() {
    static Registry *r = new Registry;  // outlives every static that might free a block at exit
    return *r;
}

size_t page_size() {
    static const size_t p = (size_t)sysconf(_SC_PAGESIZE);
    return p;
}

// A 2 MiB aligned anonymous mapping: map one alignment more than needed and
// give back the unaligned head and the unused tail.
void *map_huge(size_t size, size_t *mapped) {
    size_t len = (size + page_size() - 1) / page_size() * page_size();
    size_t over = len + kHugeAlign;
    void *raw = mmap(nullptr, over, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    uintptr_t base = (uintptr_t)raw;
    uintptr_t aligned = (base + kHugeAlign - 1) & ~(kHugeAlign - 1);
    if (aligned > base) munmap(raw, aligned - base);
    uintptr_t end = aligned + len, over_end = base + over;
    if (over_end > end) munmap((void *)end, over_end - end);
    madvise((void *)aligned, len, MADV_HUGEPAGE);  // only advice: fine if the kernel declines
    *mapped = len;
    return (void *)aligned;
}

// Decides under the registry lock whether this allocation is to fail.
bool injected_failure(Registry &r, t_ptr_int size) {
    bool nth = r.fail_nth > 0 && --r.fail_nth == 0;
    if (r.fail_next > 0) {
        --r.fail_next;
        return true;
    }
    return nth || (r.fail_above > 0 && size > r.fail_above);
}

// More than the machine has would be granted by overcommit and then kill the
// process when touched: such a request is out of memory, said at once.
t_ptr_int physical_bytes() {
    static const t_ptr_int bytes = [] {
        long pages = sysconf(_SC_PHYS_PAGES);
        return pages > 0 ? (t_ptr_int)pages * (t_ptr_int)page_size() : (t_ptr_int)INTPTR_MAX;
    }();
    return bytes;
}

char *allocate(t_ptr_int size, bool clear) {
    if (size < 0 || size > physical_bytes()) return nullptr;
    Registry &r = reg();
    {
        std::lock_guard lk(r.m);
        if (injected_failure(r, size)) return nullptr;
    }
    void *p;
    size_t mapped = 0;
    if (size >= kHugeThreshold) {
        p = map_huge((size_t)size, &mapped);  // fresh anonymous pages are zero already
    } else {
        size_t n = size > 0 ? (size_t)size : 1;  // a distinct block even for size 0
        p = clear ? calloc(1, n) : malloc(n);
    }
    if (!p) return nullptr;
    std::lock_guard lk(r.m);
    r.blocks[p] = Block{size, mapped};
    r.bytes += size;
    ++r.allocs;
    for (auto b = r.brackets.rbegin(); b != r.brackets.rend(); ++b)
        if (b->thread == std::this_thread::get_id()) {
            b->blocks.push_back(p);
            break;
        }
    return static_cast<char *>(p);
}

void release(void *p, const Block &b) {
    if (b.mapped)
        munmap(p, b.mapped);
    else
        free(p);
}

bool covered(const Registry &r, const void *block) {
    for (const Bracket &b : r.brackets)
        for (const void *q : b.blocks)
            if (q == block) return true;
    return false;
}

}  // namespace

extern "C" {

char *sysmem_newptr(t_ptr_int size) { return allocate(size, false); }

char *sysmem_newptrclear(t_ptr_int size) { return allocate(size, true); }

void sysmem_freeptr(void *p) {
    if (!p) return;
    Registry &r = reg();
    Block b;
    {
        std::lock_guard lk(r.m);
        auto it = r.blocks.find(p);
        if (it == r.blocks.end() || it->second.doomed) {
            // Not ours, or freed already: passing it on could corrupt the heap, and
            // staying quiet would hide a double free from every leak check.
            ++r.bad_frees;
            std::fprintf(stderr, "orvo: sysmem_freeptr of an unknown or freed block %p\n", p);
            if (r.abort_on_bad_free) std::abort();
            return;
        }
        // A freed block is no longer what a bracket replaces (its address may come back).
        for (Bracket &br : r.brackets) std::erase(br.blocks, p);
        if (it->second.reads > 0) {
            // A rename or a release frees without a bracket: the reader finishes first.
            it->second.doomed = true;
            return;
        }
        b = it->second;
        r.blocks.erase(it);
        r.bytes -= b.size;
    }
    release(p, b);
}

void sysmem_copyptr(const void *src, void *dst, t_ptr_int bytes) {
    if (bytes > 0 && src && dst) memcpy(dst, src, (size_t)bytes);
}

t_ptr_int sysmem_ptrsize(void *p) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    auto it = r.blocks.find(p);
    return it == r.blocks.end() || it->second.doomed ? 0 : it->second.size;
}

}  // extern "C"

namespace orvo {

MemStats mem_stats() {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    return MemStats{(long)r.blocks.size(), r.bytes, r.allocs};
}

void mem_fail_next(long n) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    r.fail_next = n > 0 ? n : 0;
}

void mem_fail_nth(long k) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    r.fail_nth = k > 0 ? k : 0;
}

void mem_fail_above(long long bytes) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    r.fail_above = bytes > 0 ? bytes : 0;
}

void mem_fail_reset() {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    r.fail_next = 0;
    r.fail_nth = 0;
    r.fail_above = 0;
}


long mem_bad_frees() {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    return r.bad_frees;
}

void mem_abort_on_bad_free(bool on) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    r.abort_on_bad_free = on;
}


SampleRead::SampleRead(t_object *reporter, const float *p, t_atom_long frames, long chans) {
    if (!p || frames <= 0 || chans <= 0) return;  // nothing to read: the caller judges the arguments
    const char *why = "the samples are not in a live memory block";
    t_atom_long n;
    if (!__builtin_mul_overflow(frames, (t_atom_long)chans, &n)) {
        Registry &r = reg();
        std::lock_guard lk(r.m);
        auto it = r.blocks.upper_bound(const_cast<float *>(p));
        if (it != r.blocks.begin()) {
            --it;
            Block &b = it->second;
            t_ptr_int offset = (const char *)p - (const char *)it->first;
            if (b.doomed || offset >= b.size || n > (b.size - offset) / (t_ptr_int)sizeof(float)) {
                // not (all) inside a live block
            } else if (covered(r, it->first)) {
                why = "the samples are being replaced";
            } else {
                ++b.reads;
                block_ = it->first;
                return;
            }
        }
    }
    ok_ = false;
    if (reporter) object_error(reporter, "%s", why);
}

SampleRead::~SampleRead() {
    if (!block_) return;
    Registry &r = reg();
    Block b;
    {
        std::lock_guard lk(r.m);
        auto it = r.blocks.find(block_);
        if (--it->second.reads > 0 || !it->second.doomed) return;
        b = it->second;
        r.blocks.erase(it);
        r.bytes -= b.size;
    }
    release(block_, b);
}

}  // namespace orvo

namespace orvo::detail {

bool edit_open(const void *box, const void *owner, float *const *block_field) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    for (const Bracket &b : r.brackets)
        if (owner && b.owner == owner) return false;
    void *block = block_field ? *block_field : nullptr;
    if (block) {
        auto it = r.blocks.find(block);
        if (it != r.blocks.end() && it->second.reads > 0) return false;
        if (covered(r, block)) return false;
    }
    Bracket b{box, owner, std::this_thread::get_id(), {}};
    if (block) b.blocks.push_back(block);
    r.brackets.push_back(std::move(b));
    return true;
}

bool edit_close(const void *box) {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    for (auto it = r.brackets.rbegin(); it != r.brackets.rend(); ++it)
        if (it->box == box) {
            r.brackets.erase(std::next(it).base());
            return true;
        }
    return false;
}

long edits_open() {
    Registry &r = reg();
    std::lock_guard lk(r.m);
    return (long)r.brackets.size();
}

}  // namespace orvo::detail
