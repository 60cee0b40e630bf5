// The default look's small bitmaps, drawn by the library itself at start-up:
// the caret, the check mark and the close, drop, arrow-up and arrow-down
// buttons in their four states (normal, pressed, highlight, disabled). They
// are 24-bit pictures whose top-left pixel is the colour key (magenta), so
// they draw on any screen after RemapDefaults.
#include <tarvex/memory.h>
#include <tarvex/window.h>

namespace
{
constexpr int32_t kSide = 12;

void Put(CBitmap* b, int32_t x, int32_t y, TRGBA c)
{
    if (x < 0 || y < 0 || x >= b->width || y >= b->height)
        return;
    uint8_t* p = b->data + static_cast<ptrdiff_t>(y) * b->pitch + static_cast<ptrdiff_t>(x) * 3;
    p[0] = c.b; // blue-green-red bytes
    p[1] = c.g;
    p[2] = c.r;
}

CBitmap* NewPicture(int32_t w, int32_t h, TRGBA fill)
{
    CBitmap* b = XNEW(CBitmap);
    if (b->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0) != 1) {
        XDELETE(b);
        return nullptr;
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            Put(b, x, y, fill);
    return b;
}

const TRGBA kKey{255, 0, 255};

// A small button: key-coloured corner, bevelled face by state, then the
// glyph drawn by the caller through the returned picture.
CBitmap* Button(int32_t st)
{
    static constexpr uint8_t kFace[4] = {190, 160, 215, 170};
    CBitmap* b = NewPicture(kSide, kSide, kKey);
    if (b == nullptr)
        return nullptr;
    TRGBA face(kFace[st], kFace[st], kFace[st]);
    TRGBA lit = st == 1 ? TRGBA(90, 90, 90) : TRGBA(250, 250, 250);
    TRGBA dark = st == 1 ? TRGBA(250, 250, 250) : TRGBA(90, 90, 90);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            if ((x == 0 && y == 0) || (x == kSide - 1 && y == kSide - 1) || (x == 0 && y == kSide - 1) ||
                (x == kSide - 1 && y == 0))
                continue; // rounded corners stay key-coloured
            TRGBA c = face;
            if (x == 0 || y == 0)
                c = lit;
            else if (x == kSide - 1 || y == kSide - 1)
                c = dark;
            Put(b, x, y, c);
        }
    return b;
}

TRGBA GlyphColor(int32_t st) { return st == 3 ? TRGBA(120, 120, 120) : TRGBA(0, 0, 0); }
int32_t Shift(int32_t st) { return st == 1 ? 1 : 0; }

CBitmap* CloseButton(int32_t st)
{
    CBitmap* b = Button(st);
    if (b != nullptr)
        for (int32_t i = 3; i <= 8; ++i) {
            int32_t s = Shift(st);
            Put(b, i + s, i + s, GlyphColor(st));
            Put(b, i + 1 + s, i + s, GlyphColor(st));
            Put(b, 11 - i + s, i + s, GlyphColor(st));
            Put(b, 10 - i + s, i + s, GlyphColor(st));
        }
    return b;
}

// A filled triangle pointing down (down = 1) or up.
CBitmap* Triangle(int32_t st, int32_t down)
{
    CBitmap* b = Button(st);
    if (b != nullptr)
        for (int32_t row = 0; row < 4; ++row) {
            int32_t y = (down ? 4 + row : 7 - row) + Shift(st);
            for (int32_t x = 3 + row; x <= 8 - row; ++x)
                Put(b, x + Shift(st), y, GlyphColor(st));
        }
    return b;
}
} // namespace

int32_t CWinCtrl::MakeDefaultLook()
{
    FreeDefaultLook();
    defCaret = NewPicture(2, 14, TRGBA(0, 0, 0));
    defCheck = NewPicture(10, 10, kKey);
    if (defCheck != nullptr) {
        // A check mark: short stroke down-right, long stroke up-right.
        for (int32_t i = 0; i < 3; ++i) {
            Put(defCheck, 1 + i, 4 + i, TRGBA(0, 0, 0));
            Put(defCheck, 1 + i, 5 + i, TRGBA(0, 0, 0));
        }
        for (int32_t i = 0; i < 6; ++i) {
            Put(defCheck, 4 + i, 6 - i, TRGBA(0, 0, 0));
            Put(defCheck, 4 + i, 7 - i, TRGBA(0, 0, 0));
        }
    }
    for (int32_t st = 0; st < 4; ++st) {
        defClose[st] = CloseButton(st);
        defDrop[st] = Triangle(st, 1);
        defArrowDown[st] = Triangle(st, 1);
        defArrowUp[st] = Triangle(st, 0);
    }
    ownsLook = 1;
    RemapDefaults();
    return defCaret != nullptr && defCheck != nullptr ? 1 : 0;
}

void CWinCtrl::FreeDefaultLook()
{
    if (!ownsLook)
        return;
    ownsLook = 0;
    auto drop = [](CBitmap*& b) {
        if (b != nullptr)
            XDELETE(b);
        b = nullptr;
    };
    drop(defCaret);
    drop(defCheck);
    for (int32_t i = 0; i < 4; ++i) {
        drop(defClose[i]);
        drop(defDrop[i]);
        drop(defArrowUp[i]);
        drop(defArrowDown[i]);
    }
}
