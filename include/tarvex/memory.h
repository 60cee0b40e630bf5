// Memory: plain ("XFAL") and tracked ("XCAL") heap blocks, the CMemory
// tracker with its leak list, the helpers that route library objects through
// the tracker with their call site, and the raw memory operations.
#pragma once

#include <tarvex/export.h>

#include <tarvex/llist.h>

#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

// One live tracked block.
struct TARVEX_API SMemEntry {
    char* file; // copy of the source file name inside the block, or null
    int32_t line;
    void* address; // the user pointer
    uint32_t size; // user size
};

class TARVEX_API CMemoryBase
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

class TARVEX_API CMemory : public CMemoryBase
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
TARVEX_API void* xAllocMem(uint32_t size, const char* file, int32_t line);
TARVEX_API void* xAllocMemFunc(uint32_t size, const char* file, int32_t line);
// Releases a block of either kind.
TARVEX_API int32_t xFreeMem(void* p, const char* file, int32_t line);
TARVEX_API int32_t xFreeMemFunc(void* p, const char* file, int32_t line);
// A tracked block when the tracker exists, else a plain block.
TARVEX_API void* xAllocTracked(uint32_t size, const char* file, int32_t line);

// Untracked runtime heap.
TARVEX_API void* xSysAllocMem(int32_t size);
TARVEX_API void xSysFreeMem(void* p);

// Raw memory operations.
TARVEX_API void* xMemcpy(void* dst, const void* src, uint32_t n);
TARVEX_API void* xMemset(void* p, int16_t c, uint32_t n);
TARVEX_API void* xMemset16(void* p, uint16_t v, uint32_t n);
TARVEX_API void* xMemset24(void* p, uint32_t rgb, uint32_t n);
TARVEX_API void xMemZero(void* p, uint32_t n);
TARVEX_API int32_t xMemcmp(const void* a, const void* b, uint32_t n);
TARVEX_API void* xMemchr(const void* p, int16_t c, uint32_t n);
TARVEX_API int32_t xCheckForCharInBlock(const char* start, const char* end, char c);
TARVEX_API int32_t xCheckForCharInBlock(const char* p, uint32_t n, char c);

// ---------------------------------------------------------------- tracked objects
// Library objects are created and deleted through these, so the tracker
// records the call site. Use the XNEW / XDELETE / XALLOC / XFREE forms.

namespace tarvex_detail
{
TARVEX_API void SetAllocPosition(const char* file, int32_t line);

// Index lists for C++11 (std::index_sequence is C++14).
template <unsigned... I> struct Indices {
};
template <unsigned N, unsigned... I> struct MakeIndices : MakeIndices<N - 1, N - 1, I...> {
};
template <unsigned... I> struct MakeIndices<0, I...> {
    typedef Indices<I...> type;
};

// Marks the end of XNEW's argument list (so the macro needs no __VA_OPT__).
struct ArgsEnd {
};

template <class T, class Tuple, unsigned... I> T* ConstructAt(void* mem, Tuple& args, Indices<I...>)
{
    return ::new (mem) T(std::forward<typename std::tuple_element<I, Tuple>::type>(std::get<I>(args))...);
}

// args ends with an ArgsEnd, which is not passed to the constructor.
template <class T, class... A> T* NewAt(const char* file, int32_t line, A&&... args)
{
    SetAllocPosition(file, line);
    void* mem = xAllocTracked(static_cast<uint32_t>(sizeof(T)), file, line);
    SetAllocPosition(nullptr, 0);
    if (mem == nullptr)
        return nullptr;
    std::tuple<A&&...> all(std::forward<A>(args)...);
    return ConstructAt<T>(mem, all, typename MakeIndices<sizeof...(A) - 1>::type());
}

template <class T> void* ObjectStart(T* p, std::true_type /*polymorphic*/)
{
    return dynamic_cast<void*>(p);
}
template <class T> void* ObjectStart(T* p, std::false_type)
{
    return static_cast<void*>(p);
}

template <class T> void DeleteAt(T* p, const char* file, int32_t line)
{
    if (p == nullptr)
        return;
    void* start = ObjectStart(p, std::is_polymorphic<T>());
    p->~T();
    SetAllocPosition(file, line);
    xFreeMem(start, file, line);
    SetAllocPosition(nullptr, 0);
}
} // namespace tarvex_detail

#define XNEW(...) TARVEX_XNEW_(__VA_ARGS__, ::tarvex_detail::ArgsEnd())
#define TARVEX_XNEW_(T, ...) ::tarvex_detail::NewAt<T>(__FILE__, __LINE__, __VA_ARGS__)
#define XDELETE(p) ::tarvex_detail::DeleteAt((p), __FILE__, __LINE__)
#define XALLOC(n) ::xAllocTracked(static_cast<uint32_t>(n), __FILE__, __LINE__)
#define XFREE(p) ::xFreeMem((p), __FILE__, __LINE__)
