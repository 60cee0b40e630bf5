// String helpers, path strings and byte-order conversion.
#include <tarvex/frame.h>
#include <tarvex/strings.h>
#include <tarvex/version.h>

#include "core/byteswap.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <strings.h>

// ---------------------------------------------------------------- strings

int32_t xStrlen(const char* s) { return static_cast<int32_t>(std::strlen(s)); }
char* xStrcpy(char* dst, const char* src) { return std::strcpy(dst, src); }
char* xStrncpy(char* dst, const char* src, int32_t n) { return std::strncpy(dst, src, n < 0 ? 0 : n); }
char* xStrcat(char* dst, const char* src) { return std::strcat(dst, src); }
char* xStrncat(char* dst, const char* src, int32_t n) { return std::strncat(dst, src, n < 0 ? 0 : n); }
char* xStrchr(const char* s, char c) { return const_cast<char*>(std::strchr(s, c)); }
char* xStrrchr(const char* s, char c) { return const_cast<char*>(std::strrchr(s, c)); }

int32_t xStrcmp(const char* a, const char* b)
{
    int r = std::strcmp(a, b); // strcmp compares as unsigned char
    return r == 0 ? 0 : (r < 0 ? -1 : 1);
}

int32_t xStricmp(const char* a, const char* b) { return strcasecmp(a, b); }
int32_t xStrncmp(const char* a, const char* b, int32_t n) { return std::strncmp(a, b, n < 0 ? 0 : n); }
int32_t xStrnicmp(const char* a, const char* b, int32_t n) { return strncasecmp(a, b, n < 0 ? 0 : n); }
char* xStrstr(const char* s, const char* sub) { return const_cast<char*>(std::strstr(s, sub)); }
char* xStrpbrk(const char* s, const char* set) { return const_cast<char*>(std::strpbrk(s, set)); }

uint32_t xStrCntSet(const char* s, const char* set)
{
    if (s == nullptr || set == nullptr)
        return 0;
    uint32_t n = 0;
    for (; *s != 0; ++s)
        if (std::strchr(set, *s) != nullptr)
            ++n;
    return n;
}

char* xStrRemoveSet(char* s, const char* set)
{
    if (s == nullptr || set == nullptr)
        return s;
    char* w = s;
    for (char* r = s; *r != 0; ++r)
        if (std::strchr(set, *r) == nullptr)
            *w++ = *r;
    *w = 0;
    return s;
}

char* xStuffSet(char* src, char* dst, uint32_t dstSize, const char* set)
{
    if (src == nullptr || dst == nullptr || dstSize == 0 || set == nullptr)
        return src;
    uint32_t hits = xStrCntSet(src, set);
    if (hits == 0 || static_cast<uint64_t>(std::strlen(src)) + 2ull * hits + 1 > dstSize)
        return src;
    char* w = dst;
    for (const char* r = src; *r != 0; ++r) {
        *w++ = *r;
        if (std::strchr(set, *r) != nullptr)
            *w++ = *r;
    }
    *w = 0;
    return dst;
}

void xStrcatVariableTRUEFALSE(char* dst, const char* name, int32_t value)
{
    std::strcat(dst, name);
    if (value == 1)
        std::strcat(dst, "TRUE");
    else if (value == 0)
        std::strcat(dst, "FALSE");
    else
        std::sprintf(dst + std::strlen(dst), "%ld", static_cast<long>(value));
}

void xStrcatVariableSTRING(char* dst, const char* name, const char* value)
{
    std::strcat(dst, name);
    std::strcat(dst, value);
}

void xShowVersionInfo(const char* name, const char* date)
{
    char scratch[1024];
    std::snprintf(scratch, sizeof scratch, "%s (%s)\n", name, date);
}

void xShowVersionInfoTarvex() { xShowVersionInfo("Tarvex v" TARVEX_VERSION_STRING, "Apr 30 2001, 13:08:39"); }

// ---------------------------------------------------------------- path strings

namespace
{

bool IsSep(char c) { return c == '/' || c == '\\'; }

// A new tracked string holding len bytes of s; null (with the text recorded) on failure.
char* NewString(const char* s, size_t len, const char* failText)
{
    auto* r = static_cast<char*>(XALLOC(len + 1));
    if (r == nullptr) {
        xErrorTxt_Func(failText, nullptr, 0);
        return nullptr;
    }
    if (len != 0)
        std::memcpy(r, s, len);
    r[len] = 0;
    return r;
}

char* Concat(const char* a, const char* sep, const char* b, const char* failText)
{
    size_t la = std::strlen(a), ls = std::strlen(sep), lb = std::strlen(b);
    auto* r = static_cast<char*>(XALLOC(la + ls + lb + 1));
    if (r == nullptr) {
        xErrorTxt_Func(failText, nullptr, 0);
        return nullptr;
    }
    std::memcpy(r, a, la);
    std::memcpy(r + la, sep, ls);
    std::memcpy(r + la + ls, b, lb + 1);
    return r;
}

// Start of the last component.
const char* LastComponent(const char* path)
{
    const char* start = path;
    for (const char* p = path; *p != 0; ++p)
        if (IsSep(*p))
            start = p + 1;
    return start;
}

constexpr const char* kParentFail = "String_ParentDir:Unable to allocate memory for new string";
constexpr const char* kMergeFail = "String_FileNameExtension: Unable to allocate memory for the new string";

} // namespace

char* String_ParentDir(const char* path, int32_t mode)
{
    if (path == nullptr)
        return nullptr;
    ptrdiff_t i = static_cast<ptrdiff_t>(std::strlen(path)) - 1;
    if (mode == 1) {
        --i; // the last character is taken as the closing separator
    } else {
        while (i >= 0 && (IsSep(path[i]) || path[i] == ' '))
            --i;
    }
    while (i >= 0 && !IsSep(path[i]))
        --i;
    if (i < 0)
        return nullptr;
    return NewString(path, static_cast<size_t>(i), kParentFail);
}

char* String_SubDir(const char* dir, const char* sub)
{
    if (dir == nullptr || sub == nullptr)
        return nullptr;
    size_t ld = std::strlen(dir);
    if (ld != 0 && (IsSep(*sub) || *sub == ' '))
        ++sub;
    const char* sep = (ld == 0 || IsSep(dir[ld - 1])) ? "" : "/";
    return Concat(dir, sep, sub, "String_SubDir: Unable to allocate memory for new string");
}

char* String_FileNamePath(const char* path)
{
    if (path == nullptr)
        return nullptr;
    const char* last = LastComponent(path);
    size_t len = last == path ? 0 : static_cast<size_t>(last - path - 1);
    return NewString(path, len, kParentFail);
}

char* String_FileNameFirstName(const char* path)
{
    if (path == nullptr)
        return nullptr;
    const char* start = LastComponent(path);
    if (*start == 0 && start != path)
        return nullptr;
    size_t len = std::strcspn(start, ". ");
    return NewString(start, len, "String_FileNameFirstName: Unable to allocate memory for the new string");
}

char* String_FileName(const char* path)
{
    if (path == nullptr)
        return nullptr;
    const char* start = LastComponent(path);
    if (*start == 0 && start != path)
        return nullptr;
    size_t len = std::strcspn(start, " ");
    return NewString(start, len, "String_FileName: Unable to allocate memory for the new string");
}

char* String_FileNameExtension(const char* path)
{
    if (path == nullptr)
        return nullptr;
    size_t total = std::strlen(path);
    if (total != 0 && path[total - 1] == '.')
        return nullptr;
    const char* start = LastComponent(path);
    const char* dot = std::strrchr(start, '.');
    constexpr const char* fail = "String_FileNameExtension: Unable to allocate memory for the new string";
    if (dot == nullptr)
        return NewString("", 0, fail);
    return NewString(dot + 1, std::strcspn(dot + 1, " "), fail);
}

char* String_MergeDirectoryAndFile(const char* dir, const char* file)
{
    if (dir == nullptr || file == nullptr)
        return nullptr;
    size_t ld = std::strlen(dir);
    while (ld > 0 && dir[ld - 1] == ' ')
        --ld;
    const char* sep = (ld == 0 || IsSep(dir[ld - 1])) ? "" : "/";
    return Concat(dir, sep, file, kMergeFail);
}

char* String_FullNameWithoutExtension(const char* path)
{
    char* dir = String_FileNamePath(path);
    char* name = String_FileNameFirstName(path);
    char* r = (dir != nullptr && name != nullptr) ? String_MergeDirectoryAndFile(dir, name) : nullptr;
    String_Free(dir);
    String_Free(name);
    return r;
}

void* String_Alloc(uint32_t n) { return XALLOC(n); }

void String_Free(void* s)
{
    if (s != nullptr)
        XFREE(s);
}

// ---------------------------------------------------------------- byte order

int32_t xProcessorByteOrder()
{
    constexpr int32_t order = std::endian::native == std::endian::big ? 1 : 2;
    if (glb != nullptr && glb->byteOrder == 0)
        glb->byteOrder = order;
    return order;
}

uint32_t XULONG_FromProcToStd(uint32_t v) { return tvcore::ToBigEndian(v); }
uint32_t XULONG_FromStdToProc(uint32_t v) { return tvcore::ToBigEndian(v); }
uint16_t XUWORD_FromProcToStd(uint16_t v) { return tvcore::ToBigEndian(v); }
uint16_t XUWORD_FromStdToProc(uint16_t v) { return tvcore::ToBigEndian(v); }
float XFLOAT_FromProcToStd(float v) { return tvcore::ToBigEndian(v); }
float XFLOAT_FromStdToProc(float v) { return tvcore::ToBigEndian(v); }
double XDOUBLE_FromProcToStd(double v) { return tvcore::ToBigEndian(v); }
double XDOUBLE_FromStdToProc(double v) { return tvcore::ToBigEndian(v); }
