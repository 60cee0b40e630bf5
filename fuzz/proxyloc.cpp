// Fuzz target: any bytes as a received proxy location record (48 bytes,
// padded or cut), read with GetLocation, HeaderOk and GetVersion.
#include <tarvex/tarvex.h>

#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();

    CProxyLocation loc;
    std::memset(static_cast<void*>(&loc), 0, sizeof loc);
    if (size > 0)
        std::memcpy(static_cast<void*>(&loc), data, size < sizeof loc ? size : sizeof loc);
    loc.HeaderOk();
    uint8_t version;
    loc.GetVersion(version, 0);
    char* host = nullptr;
    uint16_t port = 0;
    if (loc.GetLocation(host, port)) {
        size_t n = std::strlen(host);
        if (n < 1 || n > 29)
            __builtin_trap();
        // A parsed location sets again (when the port is relayable).
        CProxyLocation again;
        if (port < 32768 && !again.SetLocation(host, port))
            __builtin_trap();
        XFREE(host);
    }

    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
