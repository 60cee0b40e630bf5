// Fuzz target: the BMP picture type on arbitrary bytes (plain or scrambled).
// A picture that loads is saved again and reloaded: the copy must show the
// same colours.
#include <tarvex/tarvex.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "bmp_load: %s\n", what);
    std::abort();
}

void RoundTrip(CBMPPic& type, CBitmap& bm)
{
    if (static_cast<int64_t>(bm.width) * bm.height > 65536)
        return;
    int32_t outBpp = bm.bits == 8 ? 1 : 3;
    size_t size = 54 + 1024 + static_cast<size_t>((bm.width * outBpp + 3) & ~3) * bm.height;
    // One spare byte: a memory stream opened for writing ends its data
    // with a zero byte.
    std::vector<uint8_t> buf(size + 1);
    CFile out;
    out.handle = fmemopen(buf.data(), buf.size(), "wb");
    if (out.handle == nullptr)
        return;
    if (!type.Save(&out, &bm, nullptr, nullptr, 0))
        Die("save failed");
    out.Close();
    CFile in;
    in.handle = fmemopen(buf.data(), size, "rb");
    if (in.handle == nullptr)
        return;
    CBitmap copy;
    if (!type.Load(&in, &copy, nullptr))
        Die("reload failed");
    if (copy.width != bm.width || copy.height != bm.height)
        Die("size differs");
    for (int32_t y = 0; y < bm.height; ++y)
        for (int32_t x = 0; x < bm.width; ++x) {
            TRGBA a(0, 0, 0), b(0, 0, 0);
            bm.GetPixel(x, y, &a);
            copy.GetPixel(x, y, &b);
            if (a.r != b.r || a.g != b.g || a.b != b.b)
                Die("pixels differ");
        }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 0;
    {
        CBMPPic type;
        CBitmap bm;
        CFile f;
        f.handle = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (f.handle != nullptr && type.Load(&f, &bm, nullptr)) {
            if (bm.data == nullptr || bm.width <= 0 || bm.height <= 0)
                Die("loaded without pixels");
            RoundTrip(type, bm);
        }
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
