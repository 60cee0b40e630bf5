// Tracked copies of texts, shared by the library's source files: a copy made
// with the tracked allocator (so it shows in the leak list) and its release,
// which also clears the pointer. Private to src/.
#pragma once

#include <tarvex/memory.h>

#include <cstring>

namespace tvcore
{

// A tracked copy of text; null for a null text or when memory runs out.
inline char* CopyText(const char* text)
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(XALLOC(n));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

inline void FreeText(char*& text)
{
    if (text != nullptr)
        XFREE(text);
    text = nullptr;
}

} // namespace tvcore
