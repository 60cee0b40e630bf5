// A user's program against the installed library: starts the globals,
// packs and unpacks a text with LZSS, reads a KCBL item back, and checks the
// leak list is empty at the end. Prints "consumer ok <version>" on success.
#include <tarvex/tarvex.h>
#include <tarvex/version.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
std::string g_trace;
void CollectTrace(char* text) { g_trace += text; }
} // namespace

static SGlobals globals;
static SSysGlobals sysGlobals;

int main()
{
    glb = &globals;
    sglb = &sysGlobals;
    xSetDprintfOutput(CollectTrace);
    if (!xCreateGlobals())
        return 1;

    const char text[] = "level1 = \"maps/one.xiff\", 100\nlevel2 = \"maps/two.xiff\", 200\n";
    CLzss* lzss = XNEW(CLzss);
    uint32_t size = sizeof text;
    char* packed = lzss->CompressBuffer(text, &size);
    char unpacked[sizeof text] = {};
    uint32_t unpackedSize = sizeof unpacked;
    bool ok = packed != nullptr && lzss->ExpandBuffer(packed, size, unpacked, &unpackedSize) &&
              unpackedSize == sizeof text && std::memcmp(text, unpacked, sizeof text) == 0;
    if (packed != nullptr)
        XFREE(packed);
    XDELETE(lzss);

    CKCBL* kcbl = XNEW(CKCBL);
    int32_t value = 0;
    ok = ok && kcbl->Import(unpacked) && kcbl->FindItem("level2") && kcbl->GetLong(1, &value) && value == 200;
    XDELETE(kcbl);

    xFreeGlobals();
    if (!ok || g_trace.find("Memory leaked") != std::string::npos) {
        std::printf("consumer failed\n%s", g_trace.c_str());
        return 1;
    }
    std::printf("consumer ok %s\n", TARVEX_VERSION_STRING);
    return 0;
}
