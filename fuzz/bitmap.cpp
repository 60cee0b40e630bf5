// Fuzz target: palette files, colour-match files and the blit / conversion
// paths (scaled ones too) driven by arbitrary layouts, sizes and coordinates.
#include <tarvex/tarvex.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace
{
struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t Byte()
    {
        if (n == 0)
            return 0;
        --n;
        return *p++;
    }
    int32_t Small(int32_t lo, int32_t hi) { return lo + Byte() % (hi - lo + 1); }
};

void WriteFile(const char* name, const uint8_t* data, size_t n)
{
    FILE* f = std::fopen(name, "wb");
    if (f == nullptr)
        return;
    if (n > 0)
        std::fwrite(data, 1, n, f);
    std::fclose(f);
}

void MakeBitmap(CBitmap& b, Reader& r)
{
    int32_t w = r.Small(-2, 40), h = r.Small(-2, 20);
    switch (r.Byte() % 6) {
    case 0:
        b.CreateIndex(w, h, 8, nullptr, 0);
        break;
    case 1:
        b.CreateRGB(w, h, 16, 5, 6, 5, 11, 5, 0, 0);
        break;
    case 2:
        b.CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0);
        break;
    case 3:
        b.CreateRGBA(w, h, 32, r.Small(0, 12), r.Small(0, 12), r.Small(0, 12), r.Small(0, 9), r.Small(-3, 40),
                     r.Small(-3, 40), r.Small(-3, 40), r.Small(-3, 40), 0);
        break;
    case 4:
        b.CreateRGB(w, h, 16, r.Small(0, 9), r.Small(0, 9), r.Small(0, 9), r.Small(0, 17), r.Small(0, 17),
                    r.Small(0, 17), 0);
        break;
    default:
        b.CreateIndex(w, h, r.Small(1, 40), nullptr, 0);
        break;
    }
    if (b.data != nullptr)
        for (int64_t i = 0; i < static_cast<int64_t>(b.pitch) * b.height; ++i)
            b.data[i] = r.Byte();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SGlobals globals;
    SSysGlobals sys;
    glb = &globals;
    sglb = &sys;
    if (!xCreateGlobals()) {
        xFreeGlobals();
        return 0;
    }
    Reader r{data, size};
    uint8_t mode = r.Byte();
    if (mode % 2 == 0) {
        // The rest is a palette file and, split off at a chosen point, its
        // colour-match file.
        size_t cut = r.n == 0 ? 0 : (static_cast<size_t>(r.Byte()) * 160) % (r.n + 1);
        WriteFile("fuzz.pal", r.p, r.n - cut);
        WriteFile("fuzz.pal.tab", r.p + (r.n - cut), cut);
        CPalette pal;
        pal.Load("fuzz.pal");
        // A narrow match range keeps a rebuilt colour-match table cheap.
        pal.firstIndex = static_cast<uint8_t>(size);
        pal.lastIndex = static_cast<uint8_t>(pal.firstIndex + size % 7);
        TRGBA c(size > 0 ? data[0] : 0, static_cast<uint8_t>(size), 7);
        pal.FindMatch(&c);
        pal.FindSecondBest(&c);
        CBitmap b;
        if (b.CreateRGB(9, 3, 24, 8, 8, 8, 0, 8, 16, 0)) {
            for (int i = 0; i < b.pitch * b.height; ++i)
                b.data[i] = static_cast<uint8_t>(i * 37 + size);
            b.ConvertIndex(-1, -1, 8, &pal, 0);
        }
    } else {
        CBitmap a, b;
        MakeBitmap(a, r);
        MakeBitmap(b, r);
        int32_t sx = r.Small(-50, 50), sy = r.Small(-30, 30), dx = r.Small(-50, 50), dy = r.Small(-30, 30);
        int32_t w = r.Small(-2, 60), h = r.Small(-2, 40);
        a.Blt(&b, sx, sy, dx, dy, w, h, r.Byte() & 1, 0, 0);
        a.Blt(&a, sx, sy, dx, dy, w, h, r.Byte() & 1, 0, 0);
        TRGBA c(r.Byte(), r.Byte(), r.Byte(), r.Byte());
        a.PutPixel(sx, sy, &c);
        a.GetPixel(dx * 3 + sy, &c);
        a.Fill(&c);
        CPalette pal;
        pal.firstIndex = r.Byte();
        pal.lastIndex = static_cast<uint8_t>(pal.firstIndex + r.Byte() % 9);
        switch (r.Byte() % 3) {
        case 0:
            b.ConvertIndex(-1, -1, 8, &pal, r.Byte() & 2);
            break;
        case 1:
            b.ConvertRGB(-1, -1, 8 * r.Small(1, 4), r.Small(0, 9), r.Small(0, 9), r.Small(0, 9),
                         r.Small(-2, 33), r.Small(-2, 33), r.Small(-2, 33), r.Byte() & 2);
            break;
        default:
            b.ConvertRGB(-1, -1, 16, 5, 5, 5, 10, 5, 0, 0);
            break;
        }
        a.Blt(&b, 0, 0, 0, 0, -1, -1, 1, 0, 0);
        // Scaled blits with rectangles anywhere, the far ends of the range
        // among them.
        auto coord = [&](int32_t lo, int32_t hi) {
            const uint8_t k = r.Byte();
            return k == 255 ? INT32_MAX : k == 254 ? INT32_MIN : lo + k % (hi - lo + 1);
        };
        CRect sr(coord(-50, 50), coord(-30, 30), coord(-50, 80), coord(-30, 50));
        CRect dr(coord(-50, 50), coord(-30, 30), coord(-50, 80), coord(-30, 50));
        a.BltScale(&b, &sr, &dr, r.Byte() & 1);
        a.BltScale(&a, (r.Byte() & 1) != 0 ? &sr : nullptr, &dr, r.Byte() & 1);
        CBitmap copy(b);
        copy.Free();
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
