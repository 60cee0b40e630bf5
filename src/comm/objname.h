// Object names of comm objects and servers are built from parts.
#pragma once

#include <tarvex/memory.h>

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
