// Tracked copies of texts, shared by the library's source files: a copy made
// with the tracked allocator (so it shows in the leak list) and its release,
// which also clears the pointer. Both record the caller's file and line, not
// this header's, so a leaked copy points at the code that made it. Private
// to src/.
#pragma once

#include <tarvex/memory.h>

#include <cstring>
#include <source_location>

namespace tvcore
{

// A tracked copy of text; null for a null text or when memory runs out.
inline char* CopyText(const char* text, std::source_location at = std::source_location::current())
{
    if (text == nullptr)
        return nullptr;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(
        xAllocTracked(static_cast<uint32_t>(n), at.file_name(), static_cast<int32_t>(at.line())));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

inline void FreeText(char*& text, std::source_location at = std::source_location::current())
{
    if (text != nullptr)
        xFreeMem(text, at.file_name(), static_cast<int32_t>(at.line()));
    text = nullptr;
}

} // namespace tvcore
