// Memory: plain ("XFAL") and tracked ("XCAL") heap blocks, the CMemory
// tracker with its leak list, the helpers that route library objects through
// the tracker with their call site, and the raw memory operations.
#pragma once

#include <tarvex/llist.h>

#include <new>
#include <type_traits>
#include <utility>

// One live tracked block.
struct SMemEntry {
    char* file; // copy of the source file name inside the block, or null
    int32_t line;
    void* address; // the user pointer
    uint32_t size; // user size
};

class CMemoryBase
{
  public:
    virtual void* Alloc(uint32_t size, const char* file, int32_t line) = 0;
    virtual int32_t Free(void* p, const char* file, int32_t line) = 0;
    virtual int32_t GetAvail(uint32_t* avail) = 0;
    virtual int32_t FreeAll() = 0;
    virtual uint32_t GetBytesAlloc() = 0;
    virtual int32_t PrintMemList(const char* fileName) = 0;
    virtual ~CMemoryBase() = default;
};

class CMemory : public CMemoryBase
{
  public:
    uint32_t bytesAlloc = 0; // sum of (size + 2) over live blocks
    CLList list;             // SMemEntry*, in allocation order (entry and node live in the block header)

    CMemory();
    CMemory(const CMemory& other);
    CMemory& operator=(const CMemory& other);
    // Prints the leak list, then releases every remaining block.
    ~CMemory() override;

    void* Alloc(uint32_t size, const char* file, int32_t line) override;
    int32_t Free(void* p, const char* file, int32_t line) override;
    int32_t GetAvail(uint32_t* avail) override;
    int32_t FreeAll() override;
    uint32_t GetBytesAlloc() override { return bytesAlloc; }
    int32_t PrintMemList(const char* fileName) override;
    void PrintLeakList();
};

// Plain blocks (file and line are not recorded).
void* xAllocMem(uint32_t size, const char* file, int32_t line);
void* xAllocMemFunc(uint32_t size, const char* file, int32_t line);
// Releases a block of either kind.
int32_t xFreeMem(void* p, const char* file, int32_t line);
int32_t xFreeMemFunc(void* p, const char* file, int32_t line);
// A tracked block when the tracker exists, else a plain block.
void* xAllocTracked(uint32_t size, const char* file, int32_t line);

// Untracked runtime heap.
void* xSysAllocMem(int32_t size);
void xSysFreeMem(void* p);

// Raw memory operations.
void* xMemcpy(void* dst, const void* src, uint32_t n);
void* xMemset(void* p, int16_t c, uint32_t n);
void* xMemset16(void* p, uint16_t v, uint32_t n);
void* xMemset24(void* p, uint32_t rgb, uint32_t n);
void xMemZero(void* p, uint32_t n);
int32_t xMemcmp(const void* a, const void* b, uint32_t n);
void* xMemchr(const void* p, int16_t c, uint32_t n);
int32_t xCheckForCharInBlock(const char* start, const char* end, char c);
int32_t xCheckForCharInBlock(const char* p, uint32_t n, char c);

// ---------------------------------------------------------------- tracked objects
// Library objects are created and deleted through these, so the tracker
// records the call site. Use the XNEW / XDELETE / XALLOC / XFREE forms.

namespace tarvex_detail
{
void SetAllocPosition(const char* file, int32_t line);

template <class T, class... A> T* NewAt(const char* file, int32_t line, A&&... args)
{
    SetAllocPosition(file, line);
    void* mem = xAllocTracked(static_cast<uint32_t>(sizeof(T)), file, line);
    SetAllocPosition(nullptr, 0);
    if (mem == nullptr)
        return nullptr;
    return ::new (mem) T(std::forward<A>(args)...);
}

template <class T> void DeleteAt(T* p, const char* file, int32_t line)
{
    if (p == nullptr)
        return;
    void* start;
    if constexpr (std::is_polymorphic_v<T>)
        start = dynamic_cast<void*>(p);
    else
        start = static_cast<void*>(p);
    p->~T();
    SetAllocPosition(file, line);
    xFreeMem(start, file, line);
    SetAllocPosition(nullptr, 0);
}
} // namespace tarvex_detail

#define XNEW(T, ...) ::tarvex_detail::NewAt<T>(__FILE__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)
#define XDELETE(p) ::tarvex_detail::DeleteAt((p), __FILE__, __LINE__)
#define XALLOC(n) ::xAllocTracked(static_cast<uint32_t>(n), __FILE__, __LINE__)
#define XFREE(p) ::xFreeMem((p), __FILE__, __LINE__)
