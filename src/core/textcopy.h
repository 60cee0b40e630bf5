// Tracked copies of texts, shared by the library's source files: a copy made
// with the tracked allocator (so it shows in the leak list) and its release,
// which also clears the pointer. Both record the caller's file and line, not
// this header's, so a leaked copy points at the code that made it. Private
// to src/.
#pragma once

#include <tarvex/memory.h>

#include <cstdint>
#include <cstring>
#if __has_include(<source_location>)
#include <source_location>
#endif

namespace tvcore
{

// The place of a call, taken as a default argument. Standard libraries
// without std::source_location get the same from the compiler's builtins.
#if defined(__cpp_lib_source_location)
using CallSite = std::source_location;
#else
class CallSite
{
  public:
    static constexpr CallSite current(const char* file = __builtin_FILE(),
                                      std::uint_least32_t line = __builtin_LINE()) noexcept
    {
        CallSite at;
        at.file = file;
        at.lineNo = line;
        return at;
    }
    constexpr const char* file_name() const noexcept { return file; }
    constexpr std::uint_least32_t line() const noexcept { return lineNo; }

  private:
    const char* file = "";
    std::uint_least32_t lineNo = 0;
};
#endif

// A tracked copy of text; null for a null text or when memory runs out.
inline char* CopyText(const char* text, CallSite at = CallSite::current())
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

inline void FreeText(char*& text, CallSite at = CallSite::current())
{
    if (text != nullptr)
        xFreeMem(text, at.file_name(), static_cast<int32_t>(at.line()));
    text = nullptr;
}

} // namespace tvcore
