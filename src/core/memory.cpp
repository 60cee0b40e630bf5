// Heap blocks and the memory tracker. Every block carries a 4-byte kind
// text in front of the user pointer ("XFAL" plain, "XCAL" tracked) so that
// xFreeMem can tell them apart; tracked blocks also carry two guard bytes
// and a copy of the allocating source file name behind the user data.
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include "platform/platform.h"

#include <cstring>

namespace
{

constexpr char kPlain[4] = {'X', 'F', 'A', 'L'};
constexpr char kTracked[4] = {'X', 'C', 'A', 'L'};
// The kind text sits in the last 4 bytes of each block header (16 bytes for
// plain blocks, a multiple of 16 for tracked ones), so user pointers keep
// the heap's alignment: objects with pointers and vtables live in them.
constexpr size_t kHeader = 16;
constexpr size_t kTrackedExtra = 130; // guards 2 + 128 spare, behind the user data

// A tracked block starts with its tracker record and list node, so an
// allocation is one heap block and a release needs no search; the owner and
// address fields tell a live block of this tracker from anything else.
struct TrackedHeader {
    SMemEntry entry;
    SLListNode node;
    CMemory* owner;
};
constexpr size_t kTrackedHeader = (sizeof(TrackedHeader) + 4 + 15) / 16 * 16;

// Takes a node embedded in a block out of the list without releasing it;
// the tracker's walks always start from the front, so the cursor is parked.
void Detach(CLList& l, SLListNode* n)
{
    l.Detach(n);
    l.current = nullptr;
    l.index = l.count;
}

bool HasKind(const void* p, const char (&kind)[4])
{
    return std::memcmp(static_cast<const char*>(p) - 4, kind, 4) == 0;
}

uint32_t PageTotal(CLList& list)
{
    uint32_t total = 0;
    for (SLListNode* n = list.first; n != nullptr; n = n->next) {
        uint32_t pages = static_cast<SMemEntry*>(n->data)->size >> 12;
        total += (pages < 1 ? 1 : pages) << 12;
    }
    return total;
}

} // namespace

void tarvex_detail::SetAllocPosition(const char* file, int32_t line)
{
    if (glb != nullptr) {
        glb->allocFile = file;
        glb->allocLine = line;
    }
}

// ---------------------------------------------------------------- plain blocks

void* xAllocMemFunc(uint32_t size, const char*, int32_t)
{
    auto* block = static_cast<char*>(tvp::HeapAlloc(static_cast<size_t>(size) + kHeader));
    if (block == nullptr)
        return nullptr;
    std::memcpy(block + kHeader - 4, kPlain, 4);
    return block + kHeader;
}

void* xAllocMem(uint32_t size, const char* file, int32_t line) { return xAllocMemFunc(size, file, line); }

void* xAllocTracked(uint32_t size, const char* file, int32_t line)
{
    if (glb != nullptr && glb->memory != nullptr)
        return glb->memory->Alloc(size, file, line);
    return xAllocMem(size, file, line);
}

int32_t xFreeMem(void* p, const char* file, int32_t line)
{
    if (p == nullptr) {
        if (glb != nullptr)
            glb->error.SetErrorf("xFreeMem: Invalid pointer (NULL pointer)");
        return FALSE;
    }
    if (HasKind(p, kTracked)) {
        if (glb == nullptr)
            return FALSE;
        if (glb->memory == nullptr)
            return xErrorTxt_Func(
                "xFreemem: Memory was allocated with memory class but the memory object do not exists",
                nullptr, 0);
        return glb->memory->Free(p, file, line);
    }
    if (HasKind(p, kPlain)) {
        tvp::HeapFree(static_cast<char*>(p) - kHeader);
        return TRUE;
    }
    if (glb != nullptr)
        glb->error.SetErrorf(
            "xFreeMem: invalid memory pointer (no XCAL or XFAL header)\nFreed in file %s at line %ld",
            file != nullptr ? file : "", static_cast<long>(line));
    return FALSE;
}

int32_t xFreeMemFunc(void* p, const char* file, int32_t line)
{
    if (p == nullptr)
        return FALSE;
    return xFreeMem(p, file, line);
}

void* xSysAllocMem(int32_t size) { return tvp::HeapAlloc(size < 0 ? 0 : static_cast<size_t>(size)); }
void xSysFreeMem(void* p) { tvp::HeapFree(p); }

// ---------------------------------------------------------------- tracker

CMemory::CMemory() = default;

// Copies share the list nodes as they stand; only one may be used further.
CMemory::CMemory(const CMemory& other) : CMemoryBase(other), bytesAlloc(other.bytesAlloc), list(other.list) {}

CMemory& CMemory::operator=(const CMemory& other)
{
    bytesAlloc = other.bytesAlloc;
    list = other.list;
    return *this;
}

CMemory::~CMemory()
{
    PrintLeakList();
    FreeAll();
}

void* CMemory::Alloc(uint32_t size, const char* file, int32_t line)
{
    if (glb != nullptr && glb->allocFile != nullptr) {
        file = glb->allocFile;
        line = glb->allocLine;
    }
    size_t nameLen = file != nullptr ? std::strlen(file) + 1 : 0;
    auto* block = static_cast<char*>(
        tvp::HeapAlloc(kTrackedHeader + static_cast<size_t>(size) + nameLen + kTrackedExtra));
    if (block == nullptr) {
        xError_Func(XERR_OUT_OF_MEMORY, nullptr, 0);
        return nullptr;
    }
    auto* h = reinterpret_cast<TrackedHeader*>(block);
    char* user = block + kTrackedHeader;
    std::memcpy(user - 4, kTracked, 4);
    h->entry = {nullptr, line, user, size};
    h->node = {nullptr, nullptr, &h->entry};
    h->owner = this;
    user[size] = 0x00;
    user[size + 1] = static_cast<char>(0xFF);
    if (nameLen != 0) {
        h->entry.file = user + size + 2;
        std::memcpy(h->entry.file, file, nameLen);
    }
    list.InsertLast(&h->node, 1);
    bytesAlloc += size + 2;
    return user;
}

int32_t CMemory::Free(void* p, const char* file, int32_t line)
{
    if (p == nullptr || bytesAlloc == 0)
        return TRUE;
    auto* user = static_cast<uint8_t*>(p);
    auto* h = reinterpret_cast<TrackedHeader*>(user - kTrackedHeader);
    if (!HasKind(p, kTracked) || h->owner != this || h->entry.address != p) {
        if (file == nullptr)
            return xErrorTxt_Func("Memory entry not found", nullptr, 0);
        return glb != nullptr ? glb->error.SetErrorf("Memory entry not found in file \"%s\" at line %ld",
                                                     file, static_cast<long>(line))
                              : FALSE;
    }
    int32_t result = TRUE;
    if (user[h->entry.size] != 0x00 || user[h->entry.size + 1] < 0xFF)
        result = xError_Func(XERR_OVERFLOW, nullptr, 0);
    bytesAlloc -= h->entry.size + 2;
    Detach(list, &h->node);
    h->owner = nullptr;
    h->entry.address = nullptr;
    tvp::HeapFree(h);
    return result;
}

int32_t CMemory::GetAvail(uint32_t*) { return xError_Func(XERR_NOT_IMPLEMENTED, nullptr, 0); }

int32_t CMemory::FreeAll()
{
    while (list.first != nullptr) {
        SLListNode* before = list.first;
        Free(static_cast<SMemEntry*>(list.first->data)->address, nullptr, 0);
        if (list.first == before) // entry could not be released: drop it from the list
            Detach(list, before);
    }
    return TRUE;
}

int32_t CMemory::PrintMemList(const char* fileName)
{
    CFile f;
    if (!f.Open(fileName, XFILE_WRITE))
        return FALSE;
    const char* rule = "+------+----------+----------+----------+----------->\n";
    if (!f.Print("%s", rule) || !f.Print("| Nr.  | Adress   | Size     | Line nr  | Allocated in file\n") ||
        !f.Print("%s", rule))
        return FALSE;
    int32_t nr = 0;
    for (SLListNode* n = list.first; n != nullptr; n = n->next, ++nr) {
        auto* e = static_cast<SMemEntry*>(n->data);
        if (!f.Print("| %4d | %8lx | %8ld | %8ld | %s\n", nr,
                     static_cast<unsigned long>(reinterpret_cast<uintptr_t>(e->address)),
                     static_cast<long>(e->size), static_cast<long>(e->line),
                     e->file != nullptr ? e->file : "<File info missing>"))
            return FALSE;
    }
    if (!f.Print("%s", rule) ||
        !f.Print("| %4d |        0 | %8ld |          |\n", nr, static_cast<long>(bytesAlloc)) ||
        !f.Print("|   -  |        0 | %8ld |          |\n", static_cast<long>(PageTotal(list))) ||
        !f.Print("+------+----------+----------+----------+\n"))
        return FALSE;
    f.Close();
    return TRUE;
}

void CMemory::PrintLeakList()
{
    if (list.first == nullptr)
        return;
    const char* rule = "+-----+----------+----------+----------+----------->\n";
    dprintf("\n------------ Memory leaked ------------\n\n");
    dprintf("%s", rule);
    dprintf("| Nr. | Adress   | Size     | Line nr  | Allocated in file\n");
    dprintf("%s", rule);
    int32_t nr = 0;
    for (SLListNode* n = list.first; n != nullptr; n = n->next, ++nr) {
        auto* e = static_cast<SMemEntry*>(n->data);
        dprintf("| %3d | %8lx | %8ld | %8ld | %s\n", nr,
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(e->address)),
                static_cast<long>(e->size), static_cast<long>(e->line),
                e->file != nullptr ? e->file : "<File info missing>");
    }
    dprintf("%s", rule);
    dprintf("| %3d |        0 | %8ld |          |\n", nr, static_cast<long>(bytesAlloc));
    dprintf("+-----+----------+----------+----------+\n");
    dprintf("%s", rule);
    dprintf("| XXX |        0 | %8ld |          |\n", static_cast<long>(PageTotal(list)));
    dprintf("+-----+----------+----------+----------+\n");
}

// ---------------------------------------------------------------- raw memory

void* xMemcpy(void* dst, const void* src, uint32_t n)
{
    if (n != 0)
        std::memmove(dst, src, n);
    return dst;
}

void* xMemset(void* p, int16_t c, uint32_t n)
{
    if (n != 0)
        std::memset(p, c & 0xFF, n);
    return p;
}

void* xMemset16(void* p, uint16_t v, uint32_t n)
{
    auto* d = static_cast<uint8_t*>(p);
    uint8_t pair[2];
    std::memcpy(pair, &v, 2);
    if (pair[0] == pair[1]) {
        std::memset(d, pair[0], static_cast<size_t>(n) * 2);
        return p;
    }
    uint32_t v32 = static_cast<uint32_t>(v) * 0x10001u;
    uint32_t i = 0;
    for (; i + 2 <= n; i += 2)
        std::memcpy(d + static_cast<size_t>(i) * 2, &v32, 4);
    if (i < n)
        std::memcpy(d + static_cast<size_t>(i) * 2, &v, 2);
    return p;
}

void* xMemset24(void* p, uint32_t rgb, uint32_t n)
{
    auto* d = static_cast<uint8_t*>(p);
    const uint8_t b0 = static_cast<uint8_t>(rgb >> 16), b1 = static_cast<uint8_t>(rgb >> 8),
                  b2 = static_cast<uint8_t>(rgb);
    for (uint32_t i = 0; i < n; ++i, d += 3) {
        d[0] = b0;
        d[1] = b1;
        d[2] = b2;
    }
    return p;
}

void xMemZero(void* p, uint32_t n)
{
    if (n != 0)
        std::memset(p, 0, n);
}

int32_t xMemcmp(const void* a, const void* b, uint32_t n)
{
    if (n == 0)
        return 0;
    int r = std::memcmp(a, b, n);
    return r == 0 ? 0 : (r < 0 ? -1 : 1);
}

void* xMemchr(const void* p, int16_t c, uint32_t n)
{
    return n == 0 ? nullptr : const_cast<void*>(std::memchr(p, c & 0xFF, n));
}

int32_t xCheckForCharInBlock(const char* start, const char* end, char c)
{
    if (start == nullptr || end == nullptr || start >= end)
        return FALSE;
    return std::memchr(start, c, static_cast<size_t>(end - start)) != nullptr ? TRUE : FALSE;
}

int32_t xCheckForCharInBlock(const char* p, uint32_t n, char c)
{
    if (p == nullptr || n == 0)
        return FALSE;
    return std::memchr(p, c, n) != nullptr ? TRUE : FALSE;
}
