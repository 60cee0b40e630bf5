// The frame around one fuzz input for the targets that need the library's
// globals: fresh globals (and, when asked, a GUI root) per input, the
// target's check run between them, and a stop when the check leaves tracked
// blocks behind.
#pragma once

#include <tarvex/tarvex.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzzglb
{

[[noreturn]] inline void Stop(const char* target, const char* what)
{
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

// Runs check(data, size) between xCreateGlobals and xFreeGlobals (inside a
// GUI root when withGuiRoot); target names the program in its messages.
inline int RunWithGlobals(const char* target, bool withGuiRoot, void (*check)(const uint8_t*, size_t),
                          const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    if (!xCreateGlobals())
        Stop(target, "xCreateGlobals failed");
    if (withGuiRoot && xCreateGuiRoot() == nullptr)
        Stop(target, "no GUI root");
    // The timer lists are made on first use and live until xFreeGlobals:
    // made here, so a control's first timer is not taken for a leak.
    ValidateTimerList();
    const int32_t blocksAtStart = glb->memory->list.GetNumNodes(); // what xCreateGlobals made
    check(data, size);
    if (glb->memory->list.GetNumNodes() != blocksAtStart)
        Stop(target, "tracked blocks left behind");
    if (withGuiRoot)
        xFreeGuiRoot();
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}

} // namespace fuzzglb
