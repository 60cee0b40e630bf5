// The windowed screen. All drawing goes into the section's memory (a bitmap
// of the library, so every blit and primitive runs the same pixel loops as
// on any bitmap); each frame the changed rectangles, kept in per-page layer
// lists with the area lists' merge rule, are copied to the window through
// the platform layer and shown with one update. 8-bit modes keep the
// section's colours in step with the screen palette.
#include <tarvex/dibscreen.h>

#include <tarvex/memory.h>

#include "gfx/pixel.h"
#include "gfx/screen_areas.h"
#include "gfx/screenhooks.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
// Window messages the screen listens to beyond those of types.h.
constexpr uint32_t kWmSysCommand = 0x0112;
constexpr uint32_t kWmQueryNewPalette = 0x030F;
constexpr uint32_t kWmPaletteChanged = 0x0311;
constexpr uint32_t kScKeyMenu = 0xF100;
constexpr int32_t kScreenMsgPriority = -102;

constexpr uint32_t kScreenMessages[] = {WM_ACTIVATEAPP,    WM_PAINT, kWmQueryNewPalette,
                                        kWmPaletteChanged, WM_SIZE,  kWmSysCommand};

// Largest picture a windowed mode may ask for (pixels per side).
constexpr int32_t kMaxModeSide = 16384;

struct ModeEntry {
    const char* name;
    int32_t width, height, bits, number1, number2;
};
constexpr ModeEntry kModeTable[] = {
    {"Windows 640*480 24bit", 640, 480, 24, 13, 18},   {"Windows 640*480 16bit", 640, 480, 16, 14, 17},
    {"Windows 640*480 8bit", 640, 480, 8, 15, 16},     {"Windows 800*600 8bit", 800, 600, 8, 19, 20},
    {"Windows 800*600 16bit", 800, 600, 16, 21, 22},   {"Windows 800*600 24bit", 800, 600, 24, 23, 24},
    {"Windows 1024*768 8bit", 1024, 768, 8, 25, 26},   {"Windows 1024*768 16bit", 1024, 768, 16, 27, 28},
    {"Windows 1024*768 24bit", 1024, 768, 24, 29, 30},
};

// A windowed mode record; null for impossible depths and sizes.
SVmode* NewMode(const char* name, int32_t width, int32_t height, int32_t bits, int32_t kind, int32_t number)
{
    if ((bits != 8 && bits != 16 && bits != 24) || width <= 0 || height <= 0 || width > kMaxModeSide ||
        height > kMaxModeSide)
        return nullptr;
    auto* m = static_cast<SVmode*>(XALLOC(sizeof(SVmode)));
    if (m == nullptr)
        return nullptr;
    std::memset(m, 0, sizeof *m);
    m->width = width;
    m->height = height;
    m->bytesPerPixel = bits / 8;
    m->bitsPerPixel = bits;
    // The section's lines are 4-byte aligned like every bitmap's.
    m->pitch = xBitmapPitch(width, m->bytesPerPixel);
    if (bits == 16) {
        m->redBits = m->greenBits = m->blueBits = 5;
        m->redShift = 10, m->greenShift = 5, m->blueShift = 0;
    } else if (bits == 24) {
        m->redBits = m->greenBits = m->blueBits = 8;
        m->redShift = 0, m->greenShift = 8, m->blueShift = 16;
    } else {
        m->palettized = 1;
    }
    m->windowKind = kind;
    m->modeNumber = number;
    std::snprintf(m->name, sizeof m->name, "%s", name);
    return m;
}

// Cuts a blit of bmp (w or h of -1: the bitmap's own) to the screen's
// clip in place; false when there is nothing to draw.
bool ClipBlitToScreen(const CScreenBase& s, CBitmap* bmp, int32_t& sx, int32_t& sy, int32_t& dx, int32_t& dy,
                      int32_t& w, int32_t& h)
{
    if (w == -1 && bmp != nullptr)
        w = bmp->width;
    if (h == -1 && bmp != nullptr)
        h = bmp->height;
    return bmp != nullptr && !s.clipEmpty && xClipBlit(sx, sy, w, h, dx, dy, bmp->bounds, s.clip);
}
} // namespace

// ---------------------------------------------------------------- CDib

int32_t CDib::Create(int32_t width, int32_t height, int32_t bits)
{
    Exit();
    if ((bits != 8 && bits != 16 && bits != 24) || width <= 0 || height <= 0)
        return xErrorf("Couldn't create dib section: %ld!", 0L);
    const int32_t colors = bits < 24 ? 1 << bits : 0;
    header = static_cast<SDibHeader*>(XALLOC(sizeof(SDibHeader) + sizeof(SDibColor) * colors));
    if (header == nullptr) {
        std::snprintf(errorText, sizeof errorText, "Out of memory");
        return FALSE;
    }
    std::memset(header, 0, sizeof(SDibHeader) + sizeof(SDibColor) * colors);
    header->size = 40;
    header->width = width;
    header->height = -height;
    header->planes = 1;
    header->bitCount = static_cast<uint16_t>(bits);
    header->clrUsed = static_cast<uint32_t>(colors);
    int32_t ok = bits == 8    ? image.CreateIndex(width, height, 8, nullptr, 0)
                 : bits == 16 ? image.CreateRGB(width, height, 16, 5, 5, 5, 10, 5, 0, 0)
                              : image.CreateRGB(width, height, 24, 8, 8, 8, 0, 8, 16, 0);
    if (ok)
        section = tvp::CreateSection(image.data, width, height, image.pitch, bits);
    if (!ok || section == nullptr) {
        Exit();
        return xErrorf("Couldn't create dib section: %ld!", 0L);
    }
    pixels = image.data;
    ownsPixels = 1;
    return TRUE;
}

int32_t CDib::Create(const SDibHeader* hdr, uint8_t* memory)
{
    Exit();
    if (hdr == nullptr || memory == nullptr)
        return FALSE;
    const int32_t bits = hdr->bitCount;
    const int32_t width = hdr->width;
    const int32_t height = hdr->height < 0 ? -hdr->height : hdr->height;
    if ((bits != 8 && bits != 16 && bits != 24) || width <= 0 || height <= 0)
        return FALSE;
    const int32_t colors = bits < 24 ? 1 << bits : 0;
    header = static_cast<SDibHeader*>(XALLOC(sizeof(SDibHeader) + sizeof(SDibColor) * colors));
    if (header == nullptr) {
        std::snprintf(errorText, sizeof errorText, "Out of memory");
        return FALSE;
    }
    std::memcpy(header, hdr, sizeof(SDibHeader) + sizeof(SDibColor) * colors);
    image.width = width;
    image.height = height;
    image.bits = bits;
    image.bytesPerPixel = bits / 8;
    image.pitch = xBitmapPitch(width, image.bytesPerPixel);
    image.trueColor = bits == 8 ? 0 : 1;
    if (bits == 16) {
        image.redBits = image.greenBits = image.blueBits = 5;
        image.redShift = 10, image.greenShift = 5, image.blueShift = 0;
    } else if (bits == 24) {
        image.redBits = image.greenBits = image.blueBits = 8;
        image.redShift = 0, image.greenShift = 8, image.blueShift = 16;
    }
    image.bounds.Set(0, 0, width - 1, height - 1);
    image.data = memory;
    ownsPixels = 0;
    section = tvp::CreateSection(memory, width, height, image.pitch, bits);
    if (section == nullptr) {
        Exit();
        return xErrorf("Couldn't create dib section: %ld!", 0L);
    }
    pixels = memory;
    return TRUE;
}

void CDib::Exit()
{
    tvp::DestroySection(section);
    section = nullptr;
    if (!ownsPixels)
        image.data = nullptr; // not ours to free
    image.Free();
    image = CBitmap();
    if (header != nullptr)
        XFREE(header);
    header = nullptr;
    pixels = nullptr;
    ownsPixels = 0;
}

int32_t CDib::GetWidth() const { return header != nullptr ? header->width : 0; }
int32_t CDib::GetHeight() const
{
    return header != nullptr ? (header->height < 0 ? -header->height : header->height) : 0;
}
int32_t CDib::GetNumColorEntries() const
{
    if (header == nullptr || header->bitCount >= 24)
        return 0;
    return 1 << header->bitCount;
}
SDibColor* CDib::GetColTabAddress() const
{
    return header != nullptr && header->bitCount < 24 ? reinterpret_cast<SDibColor*>(header + 1) : nullptr;
}

// ---------------------------------------------------------------- CDIBPal

int32_t CDIBPal::Create(CDib* dib)
{
    if (dib == nullptr || dib->GetColTabAddress() == nullptr)
        return FALSE;
    Exit();
    colors = static_cast<TRGBA*>(XALLOC(sizeof(TRGBA) * 256));
    if (colors == nullptr)
        return FALSE;
    const SDibColor* table = dib->GetColTabAddress();
    const int32_t n = dib->GetNumColorEntries();
    for (int32_t i = 0; i < 256; ++i)
        colors[i] = i < n ? TRGBA(table[i].red, table[i].green, table[i].blue, 0) : TRGBA(0, 0, 0, 0);
    return TRUE;
}

int32_t CDIBPal::Create(CPalette* pal)
{
    if (pal == nullptr)
        return FALSE;
    Exit();
    colors = static_cast<TRGBA*>(XALLOC(sizeof(TRGBA) * 256));
    if (colors == nullptr)
        return FALSE;
    for (int32_t i = 0; i < 256; ++i)
        colors[i] = TRGBA(pal->colors[i].r, pal->colors[i].g, pal->colors[i].b, 0);
    return TRUE;
}

int32_t CDIBPal::SetSysPalColors(HDC) { return colors != nullptr ? TRUE : FALSE; }

void CDIBPal::Exit()
{
    if (colors != nullptr)
        XFREE(colors);
    colors = nullptr;
}

// ---------------------------------------------------------------- construction and modes

CDibScreen::CDibScreen()
{
    active = 1;
    if (glb != nullptr && glb->screens != nullptr)
        glb->screens->Register(this);
}

CDibScreen::~CDibScreen() { ExitMode(); }

int32_t CDibScreen::GetVideoModes()
{
    modes.KillAllData();
    for (const ModeEntry& e : kModeTable) {
        SVmode* a = NewMode(e.name, e.width, e.height, e.bits, XVMODE_WINDOW, e.number1);
        SVmode* b = NewMode(e.name, e.width, e.height, e.bits, XVMODE_DESKTOP, e.number2);
        if (a == nullptr || b == nullptr) {
            if (a != nullptr)
                XFREE(a);
            if (b != nullptr)
                XFREE(b);
            return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        }
        modes.InsertLast(a);
        modes.InsertLast(b);
    }
    return TRUE;
}

int32_t CDibScreen::AddWindowVideoMode(int32_t width, int32_t height, int32_t bits, int32_t number)
{
    const char* name = bits == 8 ? "Windows 8bit" : bits == 16 ? "Windows 16bit" : "Windows 24bit";
    const int32_t n1 = number == -1 ? nextModeNumber : number;
    SVmode* a = NewMode(name, width, height, bits, XVMODE_WINDOW, n1);
    if (a == nullptr)
        return FALSE;
    const int32_t n2 = number == -1 ? nextModeNumber + 1 : number + 1;
    SVmode* b = NewMode(name, width, height, bits, XVMODE_DESKTOP, n2);
    if (b == nullptr) {
        XFREE(a);
        return FALSE;
    }
    if (number == -1)
        nextModeNumber += 2;
    modes.InsertLast(a);
    modes.InsertLast(b);
    return TRUE;
}

int32_t CDibScreen::InitMode()
{
    SVmode* m = ModeGet();
    if (m == nullptr || sglb == nullptr)
        return FALSE;
    const SVmode chosen = *m;
    tvp::ShowWindow(sglb->mainWindow, SW_SHOW);
    tvp::UpdateWindow(sglb->mainWindow);
    // A failure leaves no mode active but keeps the mode list to try another.
    auto fail = [this]() {
        activeMode = nullptr;
        if (dib != nullptr)
            XDELETE(dib);
        dib = nullptr;
        if (glb != nullptr && glb->screen == this)
            glb->screen = nullptr;
        return FALSE;
    };
    if (dib == nullptr && (dib = XNEW(CDib)) == nullptr)
        return fail();
    if (!dib->Create(chosen.width, chosen.height, chosen.bitsPerPixel))
        return fail();
    if (indexHeader == nullptr) {
        indexHeader = static_cast<SDibHeader*>(XALLOC(sizeof(SDibHeader) + 256 * sizeof(uint16_t)));
        if (indexHeader == nullptr)
            return fail();
    }
    *indexHeader = *dib->header;
    indexHeader->clrUsed = 0;
    auto* indices = reinterpret_cast<uint16_t*>(indexHeader + 1);
    for (uint16_t i = 0; i < 256; ++i)
        indices[i] = i;
    if (mode == nullptr && (mode = static_cast<SVmode*>(XALLOC(sizeof(SVmode)))) == nullptr)
        return fail();
    *mode = chosen;
    activeMode = mode;
    if (!SetScreenWindowProperties(defaultWindowFlags))
        return fail();
    for (uint32_t msg : kScreenMessages)
        RegisterWinMsg(this, msg);
    RegisterMsg(this, XMSG_DRAW, kScreenMsgPriority);
    MatchBuffersToMode();
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        layerCount[p] = 0;
    if (chosen.bitsPerPixel == 8)
        SetSystemPalette();
    AddLayerArea(0, 0, chosen.width - 1, chosen.height - 1);
    if (glb != nullptr)
        glb->screen = this;
    // The mouse takes the new mode's window kind.
    tvscreen::MouseFollowMode();
    return TRUE;
}

int32_t CDibScreen::ExitMode()
{
    for (uint32_t msg : kScreenMessages)
        UnRegisterWinMsg(this, msg);
    UnRegisterMsg(this, XMSG_DRAW, kScreenMsgPriority);
    if (dib != nullptr)
        XDELETE(dib);
    dib = nullptr;
    if (dibPal != nullptr)
        XDELETE(dibPal);
    dibPal = nullptr;
    if (indexHeader != nullptr)
        XFREE(indexHeader);
    indexHeader = nullptr;
    activeMode = nullptr;
    if (mode != nullptr)
        XFREE(mode);
    mode = nullptr;
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        layerCount[p] = clearCount[p] = shadowCount[p] = 0;
    CleanUp();
    return TRUE;
}

int32_t CDibScreen::SetDefaultScreenWindowProperties(int32_t flags)
{
    defaultWindowFlags = flags;
    return TRUE;
}

int32_t CDibScreen::SetScreenWindowProperties(int32_t flags)
{
    if (activeMode == nullptr || sglb == nullptr)
        return FALSE;
    windowFlags = flags;
    const int32_t w = activeMode->width, h = activeMode->height;
    int32_t dw = w, dh = h, bits = 0;
    tvp::DesktopMode(dw, dh, bits);
    // SDL sizes a window by its client area and draws the frame outside it,
    // so the outer size is the picture's and the client area starts at the
    // window's origin for every kind of frame.
    if (dh > h) {
        windowStyle = flags == 0 ? XSCREEN_OVERLAPPED : flags;
        tvp::SetWindowFrame(sglb->mainWindow, true, windowStyle == XSCREEN_OVERLAPPED);
    } else if (dw >= w && dh >= h) {
        windowStyle = 0;
        tvp::SetWindowFrame(sglb->mainWindow, false, false);
    } else {
        return xErrorTxt_Func("Desktop area is to small!", __FILE__, __LINE__);
    }
    if (activeMode->windowKind == XVMODE_DESKTOP) {
        tvp::SetWindowPos(sglb->mainWindow, 0, 0, dw, dh);
        offsetX = (dw - w) / 2;
        offsetY = (dh - h) / 2;
    } else {
        tvp::SetWindowPos(sglb->mainWindow, (dw - w) / 2, (dh - h) / 2, w, h);
        offsetX = offsetY = 0;
    }
    TellMouse();
    SetClip(0, 0, w - 1, h - 1);
    pageCount = 2;
    page = 0;
    tvp::SetArrowCursor();
    tvp::ShowWindow(sglb->mainWindow, SW_SHOW);
    tvp::UpdateWindow(sglb->mainWindow);
    return TRUE;
}

void CDibScreen::RecomputeWindow()
{
    if (activeMode == nullptr || sglb == nullptr)
        return;
    int32_t x, y, cw, ch;
    if (!tvp::GetWindowRect(sglb->mainWindow, x, y, cw, ch))
        return;
    offsetX = cw > activeMode->width ? (cw - activeMode->width) / 2 : 0;
    offsetY = ch > activeMode->height ? (ch - activeMode->height) / 2 : 0;
    TellMouse();
}

void CDibScreen::TellMouse()
{
    // Mouse messages carry client-area positions: the mouse subtracts where
    // the picture starts in the client area.
    tvscreen::SetMouseAdd(offsetX, offsetY);
}

int32_t CDibScreen::GetDepth()
{
    int32_t w, h, bits = 0;
    return tvp::DesktopMode(w, h, bits) ? bits : 0;
}

// ---------------------------------------------------------------- areas

void CDibScreen::AddLayerArea(int32_t l, int32_t t, int32_t r, int32_t b)
{
    CRect rc(l, t, r, b);
    if (!ClipToScreen(rc))
        return;
    AddArea(layerAreas[page], layerCount[page], rc, true);
}

int32_t CDibScreen::AddClearArea(int32_t l, int32_t t, int32_t r, int32_t b)
{
    // Without the persistent picture nothing is restored, but what was
    // drawn must still reach the window.
    if (persistentMode)
        return CScreenBase::AddClearArea(l, t, r, b);
    AddLayerArea(l, t, r, b);
    return TRUE;
}

int32_t CDibScreen::AddClearAreaGui(int32_t l, int32_t t, int32_t r, int32_t b)
{
    return AddClearArea(l, t, r, b);
}

// ---------------------------------------------------------------- frame cycle

void CDibScreen::CopyArea(CBitmap* to, const CBitmap* from, const CRect& r)
{
    if (to == nullptr || from == nullptr || !tvscreen::ValidArea(r))
        return;
    to->Blt(const_cast<CBitmap*>(from), r.left, r.top, r.left, r.top, r.right - r.left + 1,
            r.bottom - r.top + 1, 0, 0, 0);
}

int32_t CDibScreen::ClearBuffer()
{
    if (!active)
        return TRUE;
    SendMsg(XMSG_CLEAR, 0, 0);
    CBitmap* section = GetScreenBitmap();
    tvscreen::RestoreAreas(*this, [&](const CRect& r) {
        AddLayerArea(r.left, r.top, r.right, r.bottom);
        CopyArea(section, persistent, r);
    });
    return TRUE;
}

int32_t CDibScreen::Validate()
{
    // What the GUI redraws must reach the window.
    tvscreen::ValidateAreas(*this,
                            [this](const CRect& r) { AddLayerArea(r.left, r.top, r.right, r.bottom); });
    return TRUE;
}

int32_t CDibScreen::FlipPage()
{
    if (!active)
        return TRUE;
    SendMsg(XMSG_DRAW, 0, 0);
    int32_t result = TRUE;
    if (flipScreen && dib != nullptr && activeMode != nullptr && sglb != nullptr) {
        for (int32_t i = 0; i < persistentCount[page]; ++i)
            if (tvscreen::ValidArea(persistentAreas[page][i]))
                AddLayerArea(persistentAreas[page][i].left, persistentAreas[page][i].top,
                             persistentAreas[page][i].right, persistentAreas[page][i].bottom);
        for (int32_t i = 0; i < clearCount[page]; ++i)
            if (tvscreen::ValidArea(clearAreas[page][i]))
                AddLayerArea(clearAreas[page][i].left, clearAreas[page][i].top, clearAreas[page][i].right,
                             clearAreas[page][i].bottom);
        tvp::CopyRect rects[XSCREEN_AREAS];
        int32_t n = 0;
        const CRect screen = ScreenRect();
        for (int32_t i = 0; i < layerCount[page]; ++i) {
            const CRect& r = layerAreas[page][i];
            if (!tvscreen::ValidArea(r))
                continue;
            int32_t sx = r.left, sy = r.top, w = r.right - r.left + 1, h = r.bottom - r.top + 1;
            int32_t dx = sx, dy = sy;
            if (xClipBlit(sx, sy, w, h, dx, dy, screen, screen))
                rects[n++] = tvp::CopyRect{sx, sy, w, h};
        }
        if (n > 0 && !tvp::CopySectionToWindow(dib->section, sglb->mainWindow, rects, n, offsetX, offsetY))
            result = xErrorTxt_Func("Bit Blit failed", __FILE__, __LINE__);
    }
    layerCount[page] = 0;
    return result;
}

int32_t CDibScreen::SetFlipScreen(int32_t on)
{
    if (on == flipScreen)
        return TRUE;
    flipScreen = on;
    // Turning it on shows the whole picture again, the GUI redrawn on it.
    if (on) {
        tvscreen::RevalidateGui();
        if (activeMode != nullptr)
            AddLayerArea(0, 0, activeMode->width - 1, activeMode->height - 1);
    }
    return TRUE;
}

// ---------------------------------------------------------------- drawing onto the section

CBitmap* CDibScreen::GetScreenBitmap()
{
    return dib != nullptr && activeMode != nullptr ? &dib->image : nullptr;
}

uint8_t* CDibScreen::LockScreenBuffer()
{
    return dib != nullptr && activeMode != nullptr ? dib->pixels : nullptr;
}

int32_t CDibScreen::BlitToSection(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t& w,
                                  int32_t& h, int32_t flags)
{
    CBitmap* section = GetScreenBitmap();
    if (section == nullptr || bmp == nullptr || bmp->data == nullptr || clipEmpty)
        return FALSE;
    if (w == -1)
        w = bmp->width;
    if (h == -1)
        h = bmp->height;
    if (!xClipBlit(sx, sy, w, h, dx, dy, bmp->bounds, clip))
        return FALSE;
    return BlitToScreenPicture(section, bmp, sx, sy, dx, dy, w, h, (flags & XBLT_COLORKEY) != 0) ? TRUE
                                                                                                 : FALSE;
}

int32_t CDibScreen::DrawBitmapScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                     int32_t h, int32_t flags, int32_t)
{
    if (!active)
        return TRUE;
    if (!ClipBlitToScreen(*this, bmp, sx, sy, dx, dy, w, h))
        return TRUE;
    BlitToSection(bmp, sx, sy, dx, dy, w, h, flags);
    AddClearArea(dx, dy, dx + w - 1, dy + h - 1);
    return TRUE;
}

int32_t CDibScreen::DrawBitmapScreenGui(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                                        int32_t w, int32_t h, int32_t flags, int32_t)
{
    BlitToSection(bmp, sx, sy, dx, dy, w, h, flags);
    return TRUE;
}

int32_t CDibScreen::DrawSpriteScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                     int32_t h, int32_t flags, int32_t)
{
    if (!ClipBlitToScreen(*this, bmp, sx, sy, dx, dy, w, h))
        return TRUE;
    BlitToSection(bmp, sx, sy, dx, dy, w, h, flags);
    AddLayerArea(dx, dy, dx + w - 1, dy + h - 1);
    return TRUE;
}

int32_t CDibScreen::UpdateSpriteRestore(int32_t x, int32_t y, int32_t w, int32_t h, int32_t, int32_t,
                                        CBitmap* restore)
{
    CBitmap* section = GetScreenBitmap();
    if (section == nullptr || restore == nullptr)
        return FALSE;
    restore->Blt(section, x, y, 0, 0, w, h, 0, 0, 0);
    return TRUE;
}

int32_t CDibScreen::RestoreSpriteScreen(CBitmap* restore, int32_t x, int32_t y, int32_t w, int32_t h)
{
    CBitmap* section = GetScreenBitmap();
    if (section == nullptr || restore == nullptr)
        return FALSE;
    section->Blt(restore, 0, 0, x, y, w, h, 0, 0, 0);
    AddLayerArea(x, y, x + w - 1, y + h - 1);
    return TRUE;
}

int32_t CDibScreen::MakeScreenBitmap(CBitmap* bmp, int32_t keep)
{
    if (!MakeScreenFormat(bmp, keep))
        return FALSE;
    bmp->screenFormat = 1;
    return TRUE;
}

int32_t CDibScreen::SetTexture(CBitmap* bmp)
{
    texture = bmp;
    return TRUE;
}

int32_t CDibScreen::DrawPolygonScreen(CRect*& out)
{
    if (!active || dib == nullptr || activeMode == nullptr || clipEmpty)
        return FALSE;
    return tvscreen::DrawPolygon(*this, false, dib->pixels, dib->image.pitch, dib->image.height,
                                 dib->image.bytesPerPixel, out);
}

int32_t CDibScreen::DrawShadowPolygonScreen(CRect*& out)
{
    if (!active || dib == nullptr || activeMode == nullptr || clipEmpty)
        return FALSE;
    return tvscreen::DrawPolygon(*this, true, dib->pixels, dib->image.pitch, dib->image.height,
                                 dib->image.bytesPerPixel, out);
}

int32_t CDibScreen::UpdateFromBackgroundToPersistent(int32_t, int32_t, int32_t, int32_t)
{
    if (persistent == nullptr || background == nullptr || activeMode == nullptr)
        return FALSE;
    // The whole mode, whatever its size.
    const CRect all = ScreenRect();
    CopyArea(persistent, background, all);
    AddClearAreaPersistent(all.left, all.top, all.right, all.bottom);
    return TRUE;
}

// ---------------------------------------------------------------- palette

int32_t CDibScreen::SetPalette(CPalette* pal)
{
    if (pal == nullptr || activeMode == nullptr || activeMode->bitsPerPixel != 8)
        return FALSE;
    CScreenBase::SetPalette(pal);
    palette.Clone(pal);
    palette.firstIndex = 0;
    palette.lastIndex = 255;
    return SetSystemPalette();
}

int32_t CDibScreen::SetSystemPalette()
{
    if (activeMode == nullptr || activeMode->bitsPerPixel != 8 || dib == nullptr)
        return FALSE;
    if (dibPal == nullptr && (dibPal = XNEW(CDIBPal)) == nullptr)
        return FALSE;
    if (!dibPal->Create(&palette))
        return FALSE;
    dibPal->SetSysPalColors(sglb != nullptr ? sglb->windowDC : nullptr);
    tvp::SetSectionColors(dib->section, reinterpret_cast<const uint8_t*>(dibPal->colors), 0, 256);
    if (SDibColor* table = dib->GetColTabAddress())
        for (int32_t i = 0; i < 256; ++i)
            table[i] = SDibColor{palette.colors[i].b, palette.colors[i].g, palette.colors[i].r, 0};
    // Every pixel on the window changes colour.
    AddLayerArea(0, 0, activeMode->width - 1, activeMode->height - 1);
    return TRUE;
}

// ---------------------------------------------------------------- window

int32_t CDibScreen::GetScreenPos(int32_t* x, int32_t* y, int32_t* w, int32_t* h)
{
    int32_t wx = 0, wy = 0, ww = 0, wh = 0;
    if (sglb != nullptr)
        tvp::GetWindowRect(sglb->mainWindow, wx, wy, ww, wh);
    if (x != nullptr)
        *x = wx;
    if (y != nullptr)
        *y = wy;
    if (w != nullptr)
        *w = ww;
    if (h != nullptr)
        *h = wh;
    return TRUE;
}

int32_t CDibScreen::SetScreenPos(int32_t x, int32_t y)
{
    int32_t wx, wy, ww, wh;
    if (sglb == nullptr || !tvp::GetWindowRect(sglb->mainWindow, wx, wy, ww, wh))
        return FALSE;
    tvp::SetWindowPos(sglb->mainWindow, x, y, ww, wh);
    return TRUE;
}

int32_t CDibScreen::SetScreenSize(int32_t w, int32_t h)
{
    int32_t wx, wy, ww, wh;
    if (sglb == nullptr || !tvp::GetWindowRect(sglb->mainWindow, wx, wy, ww, wh))
        return FALSE;
    tvp::SetWindowPos(sglb->mainWindow, wx, wy, w, h);
    return TRUE;
}

int32_t CDibScreen::MsgHandler(uint32_t msg, int32_t, int32_t)
{
    if (msg == XMSG_DRAW && greyRequest) {
        ScreenToPersistentGray();
        greyRequest = 0;
    }
    return TRUE;
}

int32_t CDibScreen::WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    switch (msg) {
    case kWmQueryNewPalette:
        if (dibPal != nullptr && sglb != nullptr && sglb->windowDC != nullptr) {
            SetSystemPalette();
            return TRUE;
        }
        return FALSE;
    case kWmPaletteChanged:
        // Another window changed the colours; the section keeps its own.
        if (dibPal != nullptr)
            SetSystemPalette();
        return FALSE;
    case kWmSysCommand:
        if ((wParam & 0xFFF0u) != kScKeyMenu)
            tvp::DefWindowProc(hwnd, msg, wParam, lParam);
        return FALSE;
    case WM_SIZE:
        if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED) {
            Activate();
            if (windowStyle == 0 && sglb != nullptr)
                tvp::ShowWindow(sglb->mainWindow, SW_RESTORE);
            RecomputeWindow();
            if (activeMode != nullptr)
                AddLayerArea(0, 0, activeMode->width - 1, activeMode->height - 1);
        } else if (wParam == SIZE_MINIMIZED) {
            DeActivate();
            if (windowStyle == 0 && sglb != nullptr)
                tvp::ShowWindow(sglb->mainWindow, SW_MINIMIZE);
        } else {
            RecomputeWindow();
        }
        return FALSE;
    case WM_PAINT:
        if (flipScreen && dib != nullptr && activeMode != nullptr && sglb != nullptr) {
            const tvp::CopyRect all{0, 0, activeMode->width, activeMode->height};
            if (!tvp::CopySectionToWindow(dib->section, sglb->mainWindow, &all, 1, offsetX, offsetY))
                xErrorTxt_Func("Bit Blit failed", __FILE__, __LINE__);
        }
        return FALSE;
    case WM_ACTIVATEAPP:
        if (wParam != 0) {
            Activate();
            if (windowStyle == 0 && sglb != nullptr)
                tvp::ShowWindow(sglb->mainWindow, SW_RESTORE);
        }
        return FALSE;
    default:
        return FALSE;
    }
}

// ---------------------------------------------------------------- the main window

int32_t ShowScreenWindow()
{
    if (glb == nullptr || sglb == nullptr)
        return FALSE;
    if (sglb->mainWindow != nullptr && sglb->windowDC != nullptr) {
        tvp::ReleaseDC(sglb->mainWindow, sglb->windowDC);
        sglb->windowDC = nullptr;
        tvp::DestroyWindow(sglb->mainWindow);
        sglb->mainWindow = nullptr;
    }
    sglb->mainWindow = tvp::CreateWindow(glb->applicationName, glb->applicationName, WS_POPUP, 0, 0, 1, 1);
    if (sglb->mainWindow == nullptr)
        return FALSE;
    tvp::ShowWindow(sglb->mainWindow, SW_SHOWDEFAULT);
    tvp::UpdateWindow(sglb->mainWindow);
    sglb->windowDC = tvp::GetDC(sglb->mainWindow);
    tvp::SetArrowCursor();
    return sglb->windowDC != nullptr ? TRUE : FALSE;
}
