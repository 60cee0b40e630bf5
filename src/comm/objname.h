// Object names of comm objects and servers are built from parts.
#pragma once

#include <tarvex/memory.h>

#include <cstdio>
#include <cstring>

namespace tvcomm {

// a + b + c (null parts count as empty) as a new tracked string; null when
// out of memory.
inline char* JoinName(const char* a, const char* b, const char* c = nullptr)
{
    const char* parts[3] = {a, b, c};
    size_t total = 1;
    for (const char* p : parts)
        total += p != nullptr ? std::strlen(p) : 0;
    auto* joined = static_cast<char*>(XALLOC(total));
    if (joined == nullptr)
        return nullptr;
    char* w = joined;
    for (const char* p : parts)
        if (p != nullptr) {
            size_t n = std::strlen(p);
            std::memcpy(w, p, n);
            w += n;
        }
    *w = 0;
    return joined;
}

} // namespace tvcomm

namespace tvcomm {

// Replaces slot with a tracked copy of name (defaultName for null). When the
// copy cannot be made the slot holds the default text (or nothing) and the
// result is false.
inline bool StoreName(char*& slot, const char* name, const char* defaultName)
{
    char* copy = JoinName(name != nullptr ? name : defaultName, nullptr);
    if (slot != nullptr)
        XFREE(slot);
    slot = copy != nullptr ? copy : JoinName(defaultName, nullptr);
    return copy != nullptr;
}

// Sets obj's name to a + b + c through its one-part SetObjName.
template <class Obj>
int32_t SetJoinedName(Obj& obj, const char* a, const char* b, const char* c = nullptr)
{
    char* joined = JoinName(a, b, c);
    if (joined == nullptr)
        return obj.SetObjName(static_cast<const char*>(nullptr)) & 0;
    int32_t r = obj.SetObjName(joined);
    XFREE(joined);
    return r;
}

// A number as decimal text, as names carry it.
struct NumberText {
    char text[16];
    explicit NumberText(uint32_t n) { std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(n)); }
};

} // namespace tvcomm
