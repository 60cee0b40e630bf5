// Fuzz target: bounded LZSS expansion of arbitrary bytes. The first two bytes
// give the output capacity (0 = count only), the rest is the packed stream.
// The raw input is also packed and expanded again, which must give it back.
#include <tarvex/tarvex.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto g = std::make_unique<SGlobals>();
    auto s = std::make_unique<SSysGlobals>();
    glb = g.get();
    sglb = s.get();
    xCreateGlobals();
    CLzss* lz = XNEW(CLzss);

    if (size >= 2) {
        uint32_t capacity = data[0] | (uint32_t{data[1]} << 8);
        std::vector<char> out(capacity);
        uint32_t n = capacity;
        lz->ExpandBuffer(reinterpret_cast<const char*>(data + 2), static_cast<uint32_t>(size - 2),
                         capacity != 0 ? out.data() : nullptr, &n);
    }

    uint32_t packedSize = static_cast<uint32_t>(size);
    char* packed = size != 0 ? lz->CompressBuffer(reinterpret_cast<const char*>(data), &packedSize) : nullptr;
    if (packed != nullptr) {
        std::vector<char> back(size);
        uint32_t n = static_cast<uint32_t>(size);
        if (!lz->ExpandBuffer(packed, packedSize, back.data(), &n) || n != size ||
            std::memcmp(back.data(), data, size) != 0)
            std::abort();
        XFREE(packed);
    }

    XDELETE(lz);
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
