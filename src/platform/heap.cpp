// The runtime heap under every allocation of the library. Small blocks that
// are released go to per-size free lists instead of back to the C heap:
// containers of many small items (KCBL texts, lists) are built and dropped
// over and over, and handing their memory back each time made the heap give
// pages to the system and fault them in again on the next build. The lists
// hold a bounded amount of memory; larger blocks go straight to malloc.
#include "platform/platform.h"

#include <cstdint>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TV_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TV_ASAN 1
#endif
#ifdef TV_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace tvp {

namespace {

constexpr size_t kHeader = 16;   // keeps user blocks 16-byte aligned
constexpr size_t kStep = 16;     // size classes in steps of 16 bytes
constexpr size_t kClasses = 64;  // blocks up to 1 KiB are cached
constexpr size_t kMaxCached = 32u << 20; // at most this many bytes wait in the lists

struct FreeBlock {
    FreeBlock* next;
};

// Per thread, so no locking; a block released on another thread simply joins
// that thread's lists. Trivially destructible on purpose: blocks may still be
// released by static objects' destructors at exit, after thread-local objects
// with destructors are gone; what waits in the lists at exit stays reachable.
struct Cache {
    FreeBlock* lists[kClasses + 1] = {};
    size_t bytes = 0;
};

thread_local Cache t_cache;

// The header stores the size class (0: not cached, freed to malloc).
size_t& ClassOf(void* user) { return *reinterpret_cast<size_t*>(static_cast<char*>(user) - kHeader); }

} // namespace

void* HeapAlloc(size_t n)
{
    size_t cls = n <= kClasses * kStep ? (n + kStep - 1) / kStep : 0;
    if (cls == 0 && n == 0)
        cls = 1; // a zero-sized block still gets a unique address
    char* block = nullptr;
    if (cls != 0) {
        FreeBlock*& head = t_cache.lists[cls];
        if (head != nullptr) {
            FreeBlock* b = head;
#ifdef TV_ASAN
            ASAN_UNPOISON_MEMORY_REGION(b, kHeader + cls * kStep);
#endif
            head = b->next;
            t_cache.bytes -= kHeader + cls * kStep;
            block = reinterpret_cast<char*>(b);
        } else {
            block = static_cast<char*>(std::malloc(kHeader + cls * kStep));
        }
    } else {
        block = static_cast<char*>(std::malloc(kHeader + n));
    }
    if (block == nullptr)
        return nullptr;
    *reinterpret_cast<size_t*>(block) = cls;
#ifdef TV_ASAN
    // Only the requested bytes are usable: the rounding tail stays poisoned.
    if (cls != 0)
        ASAN_POISON_MEMORY_REGION(block + kHeader + n, cls * kStep - n);
#endif
    return block + kHeader;
}

void HeapFree(void* p)
{
    if (p == nullptr)
        return;
    size_t cls = ClassOf(p);
    char* block = static_cast<char*>(p) - kHeader;
    size_t size = kHeader + cls * kStep;
    if (cls == 0 || t_cache.bytes + size > kMaxCached) {
#ifdef TV_ASAN
        if (cls != 0)
            ASAN_UNPOISON_MEMORY_REGION(block, size);
#endif
        std::free(block);
        return;
    }
    auto* b = reinterpret_cast<FreeBlock*>(block);
    b->next = t_cache.lists[cls];
    t_cache.lists[cls] = b;
    t_cache.bytes += size;
#ifdef TV_ASAN
    // A use after release is still caught while the block waits in a list.
    ASAN_POISON_MEMORY_REGION(block + sizeof(FreeBlock), size - sizeof(FreeBlock));
#endif
}

} // namespace tvp
