// CScreenBase bookkeeping: mode selection, the clip rectangle and its stack,
// the per-page area lists with their merge and overflow rule, the persistent,
// background and alpha pictures, the palette, the grey screen, and the
// library's screen list. Everything here is allocation-free per frame: the
// lists and the stack are fixed arrays inside the screen.
#include <tarvex/screen.h>

#include <tarvex/memory.h>
#include <tarvex/shade.h>

#include "gfx/screenhooks.h"

#include <cstring>

// Empty until the GUI and the input fill them as the library loads.
SScreenGuiHooks g_screenGuiHooks = {};
SScreenInputHooks g_screenInputHooks = {};

CScreenBase::CScreenBase()
{
    for (int32_t i = 0; i < 256; ++i) {
        auto v = static_cast<uint8_t>(i);
        defaultPalette.colors[i] = TRGBA(v, v, v, 255);
    }
    palette.Clone(&defaultPalette);
    std::memset(scanLeftX, 0, sizeof scanLeftX);
    std::memset(scanRightX, 0, sizeof scanRightX);
    std::memset(scanLeftU, 0, sizeof scanLeftU);
    std::memset(scanRightU, 0, sizeof scanRightU);
    std::memset(scanLeftV, 0, sizeof scanLeftV);
    std::memset(scanRightV, 0, sizeof scanRightV);
}

CScreenBase::~CScreenBase()
{
    activeMode = nullptr;
    SetPersistent(0);
    SetBackground(0);
    SetAlphaBuffer(0);
    modes.KillAllData();
    if (m_filterBuf != nullptr)
        XFREE(m_filterBuf);
    m_filterBuf = nullptr;
    if (glb != nullptr) {
        if (glb->screens != nullptr)
            glb->screens->Unregister(this);
        if (glb->screen == this)
            glb->screen = nullptr;
    }
}

// ---------------------------------------------------------------- modes

int32_t CScreenBase::InitModeRez(int32_t width, int32_t height, int32_t bits, int32_t kind)
{
    for (modes.First(); modes.Exists(); modes.Next()) {
        auto* m = static_cast<SVmode*>(modes.Get());
        if (m->width == width && m->height == height && m->bitsPerPixel == bits &&
            (kind == -1 || m->windowKind == kind)) {
            int32_t rc = InitMode();
            if (rc)
                SetPalette(&defaultPalette);
            return rc;
        }
    }
    return FALSE;
}

int32_t CScreenBase::InitModeMode(SVmode* mode)
{
    if (mode == nullptr)
        return FALSE;
    for (modes.First(); modes.Exists(); modes.Next()) {
        auto* m = static_cast<SVmode*>(modes.Get());
        if (m->width == mode->width && m->height == mode->height && m->bitsPerPixel == mode->bitsPerPixel)
            return InitMode();
    }
    return FALSE;
}

SVmode* CScreenBase::GetActiveMode() { return activeMode; }
int32_t CScreenBase::ModeFirst() { return modes.First(); }
int32_t CScreenBase::ModeExists() { return modes.Exists(); }
int32_t CScreenBase::ModeNext() { return modes.Next(); }
SVmode* CScreenBase::ModeGet() { return static_cast<SVmode*>(modes.Get()); }

int32_t CScreenBase::Activate()
{
    active = 1;
    if (activeMode != nullptr) {
        if (persistentMode)
            AddClearAreaPersistent(0, 0, activeMode->width - 1, activeMode->height - 1);
        else
            AddClearArea(0, 0, activeMode->width - 1, activeMode->height - 1);
    }
    return TRUE;
}

int32_t CScreenBase::DeActivate()
{
    active = 0;
    return TRUE;
}

int32_t CScreenBase::IsFullScreen()
{
    return activeMode != nullptr && activeMode->windowKind == XVMODE_FULLSCREEN ? TRUE : FALSE;
}

CRect CScreenBase::ScreenRect() const
{
    if (activeMode == nullptr || activeMode->width <= 0 || activeMode->height <= 0)
        return CRect(0, 0, -1, -1);
    return CRect(0, 0, activeMode->width - 1, activeMode->height - 1);
}

void CScreenBase::CleanUp()
{
    // The active mode goes first so nothing points into the list below.
    activeMode = nullptr;
    SetPersistent(0);
    SetBackground(0);
    SetAlphaBuffer(0);
    page = 0;
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        persistentCount[p] = 0;
    clipDepth = 0;
    modes.KillAllData();
    if (glb != nullptr && glb->screen == this)
        glb->screen = nullptr;
}

void CScreenBase::MatchBuffersToMode()
{
    if (activeMode == nullptr)
        return;
    auto stale = [this](CBitmap* b, int32_t bits) {
        return b != nullptr &&
               (b->width != activeMode->width || b->height != activeMode->height || b->bits != bits);
    };
    const int32_t bits = activeMode->bitsPerPixel;
    if (stale(persistent, bits)) {
        int32_t mode = persistentMode;
        SetPersistent(0);
        if (mode)
            SetPersistentMode(1);
    }
    if (stale(background, bits)) {
        int32_t mode = backgroundMode;
        SetBackground(0);
        if (mode)
            SetBackgroundMode(1);
    }
    if (stale(alphaBuffer, 8)) {
        int32_t mode = alphaMode;
        SetAlphaBuffer(0);
        if (mode)
            SetAlphaBufferMode(1);
    }
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        clearCount[p] = persistentCount[p] = shadowCount[p] = 0;
}

// ---------------------------------------------------------------- bitmaps in the screen's format

int32_t CScreenBase::MakeScreenFormat(CBitmap* bmp, int32_t keep)
{
    if (bmp == nullptr || activeMode == nullptr)
        return FALSE;
    const SVmode& m = *activeMode;
    if (m.bitsPerPixel == 8)
        return bmp->ConvertIndex(-1, -1, 8, &palette, keep);
    return bmp->ConvertRGB(-1, -1, m.bitsPerPixel, m.redBits, m.greenBits, m.blueBits, m.redShift,
                           m.greenShift, m.blueShift, keep);
}

namespace
{
// A screen-sized picture in the mode's layout.
CBitmap* NewModeBitmap(const SVmode& m, CPalette* pal, bool indexed8)
{
    CBitmap* b = XNEW(CBitmap);
    if (b == nullptr)
        return nullptr;
    int32_t ok;
    if (indexed8)
        ok = b->CreateIndex(m.width, m.height, 8, pal, 0);
    else if (m.palettized)
        ok = b->CreateIndex(m.width, m.height, m.bitsPerPixel, pal, 0);
    else
        ok = b->CreateRGB(m.width, m.height, m.bitsPerPixel, m.redBits, m.greenBits, m.blueBits, m.redShift,
                          m.greenShift, m.blueShift, 0);
    if (!ok) {
        XDELETE(b);
        return nullptr;
    }
    return b;
}

void DropBitmap(CBitmap*& b)
{
    if (b == nullptr)
        return;
    b->Free();
    XDELETE(b);
    b = nullptr;
}
} // namespace

int32_t CScreenBase::SetPersistent(int32_t on)
{
    if (on) {
        if (persistent != nullptr)
            return TRUE;
        if (activeMode == nullptr)
            return FALSE;
        persistent = NewModeBitmap(*activeMode, &palette, false);
        return persistent != nullptr ? TRUE : FALSE;
    }
    DropBitmap(persistent);
    persistentMode = 0;
    return TRUE;
}

int32_t CScreenBase::SetPersistentMode(int32_t on)
{
    persistentMode = on;
    if (on && persistent == nullptr && !SetPersistent(1)) {
        persistentMode = 0;
        return FALSE;
    }
    return TRUE;
}

int32_t CScreenBase::SetBackground(int32_t on)
{
    if (on) {
        if (background != nullptr)
            return TRUE;
        if (activeMode == nullptr)
            return FALSE;
        background = NewModeBitmap(*activeMode, &palette, false);
        return background != nullptr ? TRUE : FALSE;
    }
    DropBitmap(background);
    backgroundMode = 0;
    return TRUE;
}

int32_t CScreenBase::SetBackgroundMode(int32_t on)
{
    backgroundMode = on;
    if (on && background == nullptr && !SetBackground(1)) {
        backgroundMode = 0;
        return FALSE;
    }
    return TRUE;
}

int32_t CScreenBase::SetPersistentToBackground()
{
    if (!persistentMode || !backgroundMode || persistent == nullptr || background == nullptr)
        return FALSE;
    // The whole picture: width x height pixels, not one row and column less.
    background->Blt(persistent, 0, 0, 0, 0, persistent->width, persistent->height, 0, 1, 0);
    return TRUE;
}

int32_t CScreenBase::CachePersistentBitmap()
{
    if (persistent == nullptr)
        return FALSE;
    return MakeScreenBitmap(persistent, 1);
}

int32_t CScreenBase::SetAlphaBuffer(int32_t on)
{
    if (on) {
        if (alphaBuffer != nullptr)
            return TRUE;
        if (activeMode == nullptr)
            return FALSE;
        alphaBuffer = NewModeBitmap(*activeMode, &defaultPalette, true);
        return alphaBuffer != nullptr ? TRUE : FALSE;
    }
    DropBitmap(alphaBuffer);
    alphaMode = 0;
    return TRUE;
}

int32_t CScreenBase::SetAlphaBufferMode(int32_t on)
{
    alphaMode = on;
    if (on && alphaBuffer == nullptr && !SetAlphaBuffer(1)) {
        alphaMode = 0;
        return FALSE;
    }
    return TRUE;
}

int32_t CScreenBase::DrawBitmapAlpha(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                     int32_t h, int32_t flags, int32_t extra)
{
    if (!alphaMode || alphaBuffer == nullptr || bmp == nullptr)
        return FALSE;
    if (w == -1)
        w = bmp->width;
    if (h == -1)
        h = bmp->height;
    if (bmp->bits != 8 && !bmp->ConvertIndex(-1, -1, 8, &defaultPalette, 1))
        return FALSE;
    return alphaBuffer->Blt(bmp, sx, sy, dx, dy, w, h, flags, extra, 0);
}

int32_t CScreenBase::ClearAlpha(int32_t, int32_t, int32_t, int32_t, int32_t) { return TRUE; }

int32_t CScreenBase::DrawBitmapPersistent(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                                          int32_t w, int32_t h, int32_t flags, int32_t extra)
{
    if (!persistentMode || persistent == nullptr || bmp == nullptr || clipEmpty)
        return FALSE;
    if (w == -1)
        w = bmp->width;
    if (h == -1)
        h = bmp->height;
    if (!xClipBlit(sx, sy, w, h, dx, dy, bmp->bounds, clip))
        return TRUE;
    persistent->Blt(bmp, sx, sy, dx, dy, w, h, flags, 1, extra);
    if (activeMode != nullptr && activeMode->bitsPerPixel == 8 && persistent->palette != nullptr &&
        bmp->palette != nullptr)
        persistent->palette->Clone(bmp->palette);
    AddClearAreaPersistent(dx, dy, dx + w - 1, dy + h - 1);
    return TRUE;
}

int32_t CScreenBase::DrawBitmapPersistentScale(CBitmap* bmp, CRect* src, CRect* dst, int32_t flags)
{
    if (!persistentMode || persistent == nullptr || bmp == nullptr || dst == nullptr)
        return FALSE;
    if (!persistent->BltScale(bmp, src, dst, flags))
        return FALSE;
    AddClearAreaPersistent(dst->left, dst->top, dst->right, dst->bottom);
    return TRUE;
}

// ---------------------------------------------------------------- area lists

bool CScreenBase::ClipToScreen(CRect& r) const
{
    CRect screen = ScreenRect();
    if (screen.right < 0)
        return false;
    r.Normalize();
    CRect cut;
    if (!cut.Intersect(r, screen))
        return false;
    r = cut;
    return true;
}

namespace
{
// Width() and Height() of a rectangle (edge distances, wrapping as 32-bit
// values), without the calls: the merge scan runs once per listed entry for
// every added area, hundreds of times a frame with many sprites.
inline int64_t Span(int32_t lo, int32_t hi)
{
    const auto d = static_cast<int32_t>(static_cast<uint32_t>(hi) - static_cast<uint32_t>(lo));
    return d < 0 ? static_cast<int64_t>(0u - static_cast<uint32_t>(d)) : d;
}

// The merge step of the area lists: every live entry whose union with r is
// smaller than the two together is retired and r grows to that union. With
// skipContained, an r lying inside a live entry stops the scan (false: add
// nothing). r is normalised; live entries are those with right >= left and
// bottom >= top.
inline bool MergeArea(CRect* list, int32_t count, CRect& r, bool skipContained)
{
    // Rectangles that share no pixel never merge: their union's edge
    // distances are at least the sum of theirs plus one along the axis they
    // are apart on, so the union is never the smaller. That holds while no
    // distance wraps, which coordinates within +-2^29 guarantee; the scan
    // then skips most entries with four compares.
    constexpr int32_t kTame = 1 << 29;
    auto tame = [](const CRect& q) {
        return q.left >= -kTame && q.right <= kTame && q.top >= -kTame && q.bottom <= kTame;
    };
    int64_t rArea = Span(r.left, r.right) * Span(r.top, r.bottom);
    bool rTame = tame(r);
    for (int32_t i = 0; i < count; ++i) {
        CRect& e = list[i];
        if (e.right < e.left || e.bottom < e.top)
            continue; // retired
        if ((e.right < r.left || r.right < e.left || e.bottom < r.top || r.bottom < e.top) && rTame &&
            tame(e))
            continue;
        // A rectangle inside one already listed adds nothing. (Merging it
        // would retire that entry and append a copy, so a frame of many
        // small areas over a large one filled the list for nothing.)
        if (skipContained && r.left >= e.left && r.top >= e.top && r.right <= e.right && r.bottom <= e.bottom)
            return false;
        const int32_t ul = e.left < r.left ? e.left : r.left;
        const int32_t ut = e.top < r.top ? e.top : r.top;
        const int32_t ur = e.right > r.right ? e.right : r.right;
        const int32_t ub = e.bottom > r.bottom ? e.bottom : r.bottom;
        // 64-bit: a screen-sized union overflows 32-bit products.
        const int64_t uArea = Span(ul, ur) * Span(ut, ub);
        if (uArea - Span(e.left, e.right) * Span(e.top, e.bottom) - rArea < 0) {
            e.SetXYWH(-100, -100, 0, 0);
            r = CRect(ul, ut, ur, ub);
            rArea = uArea;
            rTame = tame(r);
        }
    }
    return true;
}
} // namespace

void CScreenBase::AddArea(CRect* list, int32_t& count, CRect r, bool skipEqual)
{
    if (count < 0 || count > XSCREEN_AREAS)
        count = 0;
    if (!MergeArea(list, count, r, skipEqual))
        return;
    if (count >= XSCREEN_AREAS) {
        count = 1;
        list[0] = ScreenRect();
        return;
    }
    list[count++] = r;
}

int32_t CScreenBase::AddClearArea(int32_t l, int32_t t, int32_t r, int32_t b)
{
    if (!persistentMode)
        return TRUE;
    CRect rc(l, t, r, b);
    if (!ClipToScreen(rc))
        return TRUE;
    AddArea(clearAreas[page], clearCount[page], rc, true);
    return TRUE;
}

int32_t CScreenBase::AddClearAreaGui(int32_t l, int32_t t, int32_t r, int32_t b)
{
    const int32_t keep = page;
    for (page = 0; page < XSCREEN_PAGES; ++page)
        AddClearArea(l, t, r, b);
    page = keep;
    return TRUE;
}

int32_t CScreenBase::AddClearAreaPersistent(int32_t l, int32_t t, int32_t r, int32_t b)
{
    CRect rc(l, t, r, b);
    if (!ClipToScreen(rc))
        return TRUE;
    // Merge against this page's list, then the grown rectangle joins every page.
    MergeArea(persistentAreas[page], persistentCount[page], rc, false);
    const int32_t pages = pageCount > 0 ? (pageCount < XSCREEN_PAGES ? pageCount : XSCREEN_PAGES) : 1;
    for (int32_t p = 0; p < pages; ++p) {
        int32_t& n = persistentCount[p];
        if (n >= XSCREEN_AREAS) {
            n = 1;
            persistentAreas[p][0] = ScreenRect();
        } else {
            persistentAreas[p][n++] = rc;
        }
    }
    return TRUE;
}

int32_t CScreenBase::AddShadowArea(int32_t l, int32_t t, int32_t r, int32_t b)
{
    if (clipEmpty)
        return TRUE;
    CRect cut;
    if (!cut.Intersect(CRect(l, t, r, b), clip))
        return TRUE;
    const int32_t keep = page;
    for (page = 0; page < XSCREEN_PAGES; ++page)
        ASA(cut.left, cut.top, cut.right, cut.bottom);
    page = keep;
    return TRUE;
}

int32_t CScreenBase::ASA(int32_t l, int32_t t, int32_t r, int32_t b)
{
    CRect rc(l, t, r, b);
    if (!ClipToScreen(rc))
        return TRUE;
    AddArea(shadowAreas[page], shadowCount[page], rc, true);
    return TRUE;
}

// ---------------------------------------------------------------- clip

int32_t CScreenBase::SetClip(int32_t l, int32_t t, int32_t r, int32_t b)
{
    CRect screen = ScreenRect();
    clip = screen;
    clipEmpty = screen.right < 0 ? 1 : 0;
    return SetSubClip(l, t, r, b);
}

int32_t CScreenBase::SetSubClip(int32_t l, int32_t t, int32_t r, int32_t b)
{
    CRect cut;
    if (clipEmpty || !cut.Intersect(clip, CRect(l, t, r, b))) {
        // Not one pixel: the all-zero rectangle, marked empty so that no
        // drawing treats it as the pixel (0, 0).
        clip.SetEmpty();
        clipEmpty = 1;
        return TRUE;
    }
    clip = cut;
    clipEmpty = 0;
    return TRUE;
}

int32_t CScreenBase::PushClip()
{
    if (clipDepth >= XSCREEN_CLIPSTACK)
        return FALSE;
    clipStack[clipDepth] = clip;
    clipStackEmpty[clipDepth] = clipEmpty;
    ++clipDepth;
    return TRUE;
}

int32_t CScreenBase::PopClip()
{
    if (clipDepth <= 0)
        return FALSE;
    --clipDepth;
    clip = clipStack[clipDepth];
    clipEmpty = clipStackEmpty[clipDepth];
    return TRUE;
}

// ---------------------------------------------------------------- palette and window

int32_t CScreenBase::SetPalette(CPalette* pal)
{
    if (pal == nullptr || activeMode == nullptr || activeMode->bitsPerPixel != 8)
        return FALSE;
    if (pal != &palette)
        palette.Clone(pal);
    xDiscardColorMatch();
    // The GUI's default bitmaps follow the new colours.
    tvscreen::RemapGuiDefaults();
    return TRUE;
}

CPalette* CScreenBase::GetPalette() { return &palette; }

int32_t CScreenBase::GetScreenPos(int32_t* x, int32_t* y, int32_t* w, int32_t* h)
{
    if (x != nullptr)
        *x = 0;
    if (y != nullptr)
        *y = 0;
    if (w != nullptr)
        *w = activeMode != nullptr ? activeMode->width : 0;
    if (h != nullptr)
        *h = activeMode != nullptr ? activeMode->height : 0;
    return TRUE;
}

int32_t CScreenBase::SetScreenPos(int32_t, int32_t) { return FALSE; }
int32_t CScreenBase::SetScreenSize(int32_t, int32_t) { return FALSE; }
int32_t CScreenBase::SetSystemPalette() { return TRUE; }

// ---------------------------------------------------------------- polygons: stored state

int32_t CScreenBase::SetTextureCoords(int32_t u0, int32_t v0, int32_t u1, int32_t v1, int32_t u2, int32_t v2,
                                      int32_t u3, int32_t v3)
{
    texU[0] = u0, texV[0] = v0, texU[1] = u1, texV[1] = v1;
    texU[2] = u2, texV[2] = v2, texU[3] = u3, texV[3] = v3;
    return TRUE;
}

int32_t CScreenBase::SetPolygon(int32_t x0, int32_t y0, float f0, int32_t x1, int32_t y1, float f1,
                                int32_t x2, int32_t y2, float f2, int32_t x3, int32_t y3, float f3)
{
    polygon[0] = {x0, y0, f0};
    polygon[1] = {x1, y1, f1};
    polygon[2] = {x2, y2, f2};
    polygon[3] = {x3, y3, f3};
    return TRUE;
}

int32_t CScreenBase::SetPolygonMode(int32_t mode, int32_t filter)
{
    polygonMode = mode;
    polygonFilter = filter;
    return TRUE;
}

// ---------------------------------------------------------------- grey screen and shade tables

int32_t CScreenBase::SetScreenToPersistentGrey()
{
    greyRequest = 1;
    return TRUE;
}

bool CScreenBase::EnsureShadeTables(int32_t bytesPerPixel)
{
    if (glb == nullptr)
        return false;
    if (bytesPerPixel == 3) {
        if (glb->shadeLevel24[767] != 255)
            PreCalcShade24();
        return true;
    }
    if (bytesPerPixel != 2)
        return true;
    if (!glb->shadeReady && !PreCalcShade())
        return false;
    // 16-bit pixels are read and written in the mode's layout (5-5-5 when
    // the mode is not a 16-bit one).
    int32_t layout[6] = {10, 3, 5, 3, 0, 3};
    if (activeMode != nullptr && activeMode->bitsPerPixel == 16) {
        const SVmode& m = *activeMode;
        const int32_t own[6] = {m.redShift,      8 - m.redBits, m.greenShift,
                                8 - m.greenBits, m.blueShift,   8 - m.blueBits};
        std::memcpy(layout, own, sizeof layout);
    } else if (glb->rgb555ToScreen != nullptr) {
        return true;
    }
    if (glb->rgb555ToScreen == nullptr || std::memcmp(layout, glb->shadeLayout16, sizeof layout) != 0)
        return Set16Bit(layout[0], layout[1], layout[2], layout[3], layout[4], layout[5]) == TRUE;
    return true;
}

void CScreenBase::ScreenToPersistentGray()
{
    if (activeMode == nullptr || persistent == nullptr || persistent->data == nullptr)
        return;
    uint8_t* src = LockScreenBuffer();
    if (src == nullptr)
        return;
    const SVmode& m = *activeMode;
    const int32_t w = m.width < persistent->width ? m.width : persistent->width;
    const int32_t h = m.height < persistent->height ? m.height : persistent->height;
    if (persistent->bytesPerPixel == m.bytesPerPixel) {
        if (m.bitsPerPixel == 8) {
            const TRGBA black(0, 0, 0);
            const auto dark = static_cast<uint8_t>(palette.FindMatch(&black));
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* s = src + static_cast<ptrdiff_t>(y) * m.pitch;
                uint8_t* d = persistent->data + static_cast<ptrdiff_t>(y) * persistent->pitch;
                for (int32_t x = 0; x < w; ++x)
                    d[x] = ((x + y) & 1) == 0 ? s[x] : dark;
            }
        } else if (m.bitsPerPixel == 16) {
            auto field = [](uint32_t p, int32_t shift, int32_t bits) {
                uint32_t v = (p >> shift) & ((1u << bits) - 1);
                return bits >= 5 ? v >> (bits - 5) : v << (5 - bits);
            };
            auto place = [](uint32_t g5, int32_t shift, int32_t bits) {
                uint32_t v = bits >= 5 ? g5 << (bits - 5) : g5 >> (5 - bits);
                return v << shift;
            };
            for (int32_t y = 0; y < h; ++y) {
                const auto* s = reinterpret_cast<const uint16_t*>(src + static_cast<ptrdiff_t>(y) * m.pitch);
                auto* d = reinterpret_cast<uint16_t*>(persistent->data +
                                                      static_cast<ptrdiff_t>(y) * persistent->pitch);
                for (int32_t x = 0; x < w; ++x) {
                    uint32_t p = s[x];
                    uint32_t g = (field(p, m.redShift, m.redBits) + field(p, m.greenShift, m.greenBits) +
                                  field(p, m.blueShift, m.blueBits)) /
                                 6;
                    d[x] = static_cast<uint16_t>(place(g, m.redShift, m.redBits) |
                                                 place(g, m.greenShift, m.greenBits) |
                                                 place(g, m.blueShift, m.blueBits));
                }
            }
        } else {
            for (int32_t y = 0; y < h; ++y) {
                const uint8_t* s = src + static_cast<ptrdiff_t>(y) * m.pitch;
                uint8_t* d = persistent->data + static_cast<ptrdiff_t>(y) * persistent->pitch;
                for (int32_t x = 0; x < w; ++x, s += 3, d += 3) {
                    auto g = static_cast<uint8_t>((s[0] + s[1] + s[2]) / 6);
                    d[0] = d[1] = d[2] = g;
                }
            }
        }
        persistent->changed = 1;
    }
    ReleaseScreenBuffer();
    const int32_t keep = persistentMode;
    persistentMode = 1; // the whole screen is restored from the grey copy
    AddClearArea(0, 0, m.width - 1, m.height - 1);
    persistentMode = keep;
}

// ---------------------------------------------------------------- screen list

CScreenBaseList::~CScreenBaseList() { UnregisterAll(); }

int32_t CScreenBaseList::Register(CScreenBase* screen)
{
    list.InsertLast(screen);
    return TRUE;
}

int32_t CScreenBaseList::Unregister(CScreenBase* screen)
{
    for (SLListNode* n = list.first; n != nullptr; n = n->next)
        if (n->data == screen) {
            list.Unlink(n);
            return TRUE;
        }
    return FALSE;
}

int32_t CScreenBaseList::UnregisterAll()
{
    list.KillAll();
    return TRUE;
}
