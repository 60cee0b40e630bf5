// The full-screen screen. The main window takes the whole display (an
// exclusive display mode of the picture's size, or the desktop-sized full
// screen with the picture centred); two page buffers in the mode's layout
// take turns: every frame is drawn in software into the back one, which is
// then shown and becomes the front one. Because each page keeps what was
// drawn on it two frames ago, the clear step restores each page only where
// its own lists say it differs from the persistent picture. Screen bitmaps
// get a surface of their own in the screen's layout and are copied onto the
// back page by the window system's blitter, colour-keyed when transparent;
// whatever cannot go that way takes the software path. Pages the display
// took away (marked lost) are restored and repainted from the persistent
// picture before anything is drawn or shown again.
#include <tarvex/dxscreen.h>

#include <tarvex/memory.h>

#include "gfx/pixel.h"
#include "gfx/screen_areas.h"
#include "gfx/screenhooks.h"
#include "platform/platform.h"

#include <cstring>

namespace
{
constexpr int32_t kScreenMsgPriority = -102;
constexpr int32_t kRetries = 100;
constexpr uint32_t kRetrySleepMs = 10;
// Erase background and activation, as the display's owner is told; exposure
// reaches the window as a paint message and is handled as the erase.
constexpr uint32_t kScreenMessages[] = {WM_ACTIVATEAPP, WM_ERASEBKGND, WM_PAINT};

// The mask of a colour field of a mode: 16-bit shifts count from bit 0;
// 24-bit shifts count from the top byte (red 0 is the third byte).
uint32_t FieldMask(int32_t bitsPerPixel, int32_t bits, int32_t shift)
{
    if (bits <= 0 || bits > 8 || shift < 0)
        return 0;
    const int32_t at = bitsPerPixel == 24 ? 16 - shift : shift;
    if (at < 0 || at + bits > 32)
        return 0;
    return ((1u << bits) - 1u) << at;
}

// A page buffer or screen-sized picture in the mode's layout.
CBitmap* NewPage(const SVmode& m)
{
    CBitmap* b = XNEW(CBitmap);
    if (b == nullptr)
        return nullptr;
    const int32_t ok = m.bitsPerPixel == 8
                           ? b->CreateIndex(m.width, m.height, 8, nullptr, 0)
                           : b->CreateRGB(m.width, m.height, m.bitsPerPixel, m.redBits, m.greenBits,
                                          m.blueBits, m.redShift, m.greenShift, m.blueShift, 0);
    if (!ok) {
        XDELETE(b);
        return nullptr;
    }
    return b;
}

tvp::PixelSurface* NewSurface(uint8_t* pixels, int32_t w, int32_t h, int32_t pitch, const SVmode& m)
{
    return tvp::CreatePixelSurface(pixels, w, h, pitch, m.bitsPerPixel,
                                   FieldMask(m.bitsPerPixel, m.redBits, m.redShift),
                                   FieldMask(m.bitsPerPixel, m.greenBits, m.greenShift),
                                   FieldMask(m.bitsPerPixel, m.blueBits, m.blueShift));
}
} // namespace

// ---------------------------------------------------------------- construction and modes

CDxScreen::CDxScreen()
{
    flipScreen = 1;
    // The window system's full-screen facility is linked in, so the screen
    // is always listed; ScreenAvailable tells whether a display is there.
    if (glb != nullptr && glb->screens != nullptr)
        glb->screens->Register(this);
}

CDxScreen::~CDxScreen()
{
    ExitMode();
    UnRegisterMsgAll(this);
}

int32_t CDxScreen::ScreenAvailable()
{
    int32_t w = 0, h = 0, bits = 0;
    return tvp::DesktopMode(w, h, bits) ? TRUE : FALSE;
}

int32_t CDxScreen::GetVideoModes()
{
    if (!ScreenAvailable())
        return FALSE;
    modes.KillAllData();
    return AppendFullScreenModes(modes) > 0 ? TRUE : FALSE;
}

int32_t CDxScreen::GetDepth() { return activeMode != nullptr ? activeMode->bitsPerPixel : 0; }

void CDxScreen::FreePages()
{
    for (int32_t n = 0; n < 2; ++n) {
        tvp::DestroyPixelSurface(pageSurfaces[n]);
        pageSurfaces[n] = nullptr;
        if (pages[n] != nullptr)
            XDELETE(pages[n]);
        pages[n] = nullptr;
    }
}

int32_t CDxScreen::InitMode()
{
    SVmode* listed = ModeGet();
    if (!ScreenAvailable() || sglb == nullptr || sglb->mainWindow == nullptr)
        return FALSE;
    if (listed == nullptr) {
        ExitMode();
        return FALSE;
    }
    const SVmode chosen = *listed;
    tvp::ShowWindow(sglb->mainWindow, SW_SHOW);
    tvp::UpdateWindow(sglb->mainWindow);
    // The display, then two pages with their surfaces.
    if (!tvp::SetWindowFullScreen(sglb->mainWindow, true, chosen.width, chosen.height)) {
        ExitMode();
        return FALSE;
    }
    FreePages();
    for (int32_t n = 0; n < 2; ++n) {
        pages[n] = NewPage(chosen);
        if (pages[n] != nullptr)
            pageSurfaces[n] =
                NewSurface(pages[n]->data, pages[n]->width, pages[n]->height, pages[n]->pitch, chosen);
        if (pageSurfaces[n] == nullptr) {
            ExitMode();
            return FALSE;
        }
    }
    // The active mode describes the page as it really is (its pitch);
    // should that not be a usable mode, the listed one stands.
    if (mode == nullptr && (mode = static_cast<SVmode*>(XALLOC(sizeof(SVmode)))) == nullptr) {
        ExitMode();
        return FALSE;
    }
    const SDxModeDesc desc{chosen.width,
                           chosen.height,
                           pages[0]->pitch,
                           chosen.bitsPerPixel,
                           chosen.palettized,
                           FieldMask(chosen.bitsPerPixel, chosen.redBits, chosen.redShift),
                           FieldMask(chosen.bitsPerPixel, chosen.greenBits, chosen.greenShift),
                           FieldMask(chosen.bitsPerPixel, chosen.blueBits, chosen.blueShift)};
    if (FillModeStruc(desc, *mode) != 0)
        *mode = chosen;
    activeMode = mode;
    SetClip(0, 0, chosen.width - 1, chosen.height - 1);
    pageCount = 2;
    page = 0;
    backLost = frontLost = 0;
    offsetX = offsetY = 0;
    // Until a flip finds the picture elsewhere, mouse positions need no
    // correction (whatever a window left behind).
    tvscreen::SetMouseAdd(offsetX, offsetY);
    // The mouse draws its own cursor on this screen.
    tvp::ShowCursor(false);
    if (!registered) {
        for (uint32_t msg : kScreenMessages)
            RegisterWinMsg(this, msg);
        RegisterMsg(this, XMSG_DRAW, kScreenMsgPriority);
        registered = 1;
    }
    MatchBuffersToMode();
    if (glb != nullptr)
        glb->screen = this;
    // The mouse takes the new mode's window kind.
    tvscreen::MouseFollowMode();
    // The display is ours from here: the screen draws and shows.
    Activate();
    return TRUE;
}

int32_t CDxScreen::ExitMode()
{
    if (registered) {
        for (uint32_t msg : kScreenMessages)
            UnRegisterWinMsg(this, msg);
        UnRegisterMsg(this, XMSG_DRAW, kScreenMsgPriority);
        registered = 0;
    }
    const bool hadDisplay = pages[0] != nullptr;
    FreePages();
    hardwarePalette = 0;
    backLost = frontLost = 0;
    // The window goes back to the desktop with the system's cursor.
    if (hadDisplay && sglb != nullptr && sglb->mainWindow != nullptr) {
        tvp::SetWindowFullScreen(sglb->mainWindow, false, 0, 0);
        tvp::ShowCursor(true);
        tvscreen::SetMouseWindowKind(XVMODE_WINDOW);
        tvscreen::SetMouseAdd(0, 0);
    }
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        clearCount[p] = shadowCount[p] = 0;
    CleanUp();
    pageCount = 0;
    activeMode = nullptr;
    if (mode != nullptr)
        XFREE(mode);
    mode = nullptr;
    return TRUE;
}

int32_t CDxScreen::SetFlipScreen(int32_t on)
{
    if (on == flipScreen)
        return TRUE;
    flipScreen = on;
    // Turning it on shows the whole picture again, the GUI redrawn on it.
    if (on) {
        tvscreen::RevalidateGui();
        if (activeMode != nullptr)
            AddClearAreaGui(0, 0, activeMode->width - 1, activeMode->height - 1);
    }
    return TRUE;
}

// ---------------------------------------------------------------- palette

int32_t CDxScreen::SetPalette(CPalette* pal)
{
    if (pal == nullptr || activeMode == nullptr || activeMode->bitsPerPixel != 8)
        return FALSE;
    CScreenBase::SetPalette(pal);
    palette.Clone(pal);
    palette.firstIndex = 0;
    palette.lastIndex = 255;
    for (int32_t i = 0; i < 256; ++i) {
        paletteEntries[i][0] = palette.colors[i].r;
        paletteEntries[i][1] = palette.colors[i].g;
        paletteEntries[i][2] = palette.colors[i].b;
        paletteEntries[i][3] = 0;
    }
    hardwarePalette = 1;
    dprintf("palette created ok!\n");
    return SetSystemPalette();
}

int32_t CDxScreen::SetSystemPalette()
{
    if (!hardwarePalette || activeMode == nullptr || activeMode->bitsPerPixel != 8)
        return FALSE;
    // One palette serves both pages (and every screen bitmap).
    if (!tvp::SetPixelSurfaceColors(&paletteEntries[0][0], 0, 256))
        return FALSE;
    dprintf("FrontBuffer palette is ok\n");
    dprintf("BackBuffer palette is ok\n");
    return TRUE;
}

// ---------------------------------------------------------------- lost pages

int32_t CDxScreen::OkToDrawToScreen()
{
    return active && activeMode != nullptr && pages[0] != nullptr && !backLost && !frontLost ? TRUE : FALSE;
}

void CDxScreen::ValidatePage(int32_t n, int32_t& lost)
{
    tvp::PixelSurface* s = pageSurfaces[n];
    CBitmap* pic = pages[n];
    if (s == nullptr || pic == nullptr)
        return;
    if (tvp::IsPixelSurfaceLost(s)) {
        lost = 1;
        bool restored = false;
        for (int32_t i = 0; i <= kRetries && !restored; ++i) {
            restored = tvp::RestorePixelSurface(s);
            if (!restored)
                xSleep(kRetrySleepMs);
        }
        if (!restored)
            return;
    }
    if (!lost)
        return;
    // The whole page again: the persistent picture where there is one (an
    // 8-bit page only from 8-bit pixels), else black rather than garbage.
    const bool from =
        persistent != nullptr && persistent->data != nullptr && (pic->bits != 8 || persistent->bits == 8);
    if (from)
        BlitToScreenPicture(pic, persistent, 0, 0, 0, 0, pic->width, pic->height, false);
    else
        for (int32_t y = 0; y < pic->height; ++y)
            std::memset(pic->data + static_cast<ptrdiff_t>(y) * pic->pitch, 0,
                        static_cast<size_t>(pic->width) * static_cast<size_t>(pic->bytesPerPixel));
    lost = 0;
}

void CDxScreen::ValidateBackBuffer() { ValidatePage(page & 1, backLost); }
void CDxScreen::ValidateFrontBuffer() { ValidatePage((page & 1) ^ 1, frontLost); }

void CDxScreen::LoseSurfaces()
{
    tvp::MarkPixelSurfaceLost(pageSurfaces[0]);
    tvp::MarkPixelSurfaceLost(pageSurfaces[1]);
}

int32_t CDxScreen::OutputDeviceEnumCallback(const uint8_t* guid, char*, char*, void* screen, void*)
{
    auto* s = static_cast<CDxScreen*>(screen);
    if (s != nullptr) {
        if (guid != nullptr)
            std::memcpy(s->deviceId, guid, sizeof s->deviceId);
        else
            std::memset(s->deviceId, 0, sizeof s->deviceId);
    }
    return TRUE;
}

// ---------------------------------------------------------------- frame cycle

CBitmap* CDxScreen::GetScreenBitmap() { return activeMode != nullptr ? Back() : nullptr; }

uint8_t* CDxScreen::LockScreenBuffer()
{
    ValidateBackBuffer();
    CBitmap* back = GetScreenBitmap();
    return back != nullptr && !backLost ? back->data : nullptr;
}

void CDxScreen::CopyArea(CBitmap* to, const CBitmap* from, const CRect& r)
{
    if (to == nullptr || from == nullptr || !tvscreen::ValidArea(r))
        return;
    BlitToScreenPicture(to, const_cast<CBitmap*>(from), r.left, r.top, r.left, r.top, r.right - r.left + 1,
                        r.bottom - r.top + 1, false);
}

int32_t CDxScreen::ClearBuffer()
{
    if (!persistentMode)
        return TRUE;
    SendMsg(XMSG_CLEAR, 0, 0);
    CBitmap* back = OkToDrawToScreen() ? Back() : nullptr;
    tvscreen::RestoreAreas(*this, [&](const CRect& r) { CopyArea(back, persistent, r); });
    return TRUE;
}

int32_t CDxScreen::Validate()
{
    // The GUI draws onto the back page itself; nothing more to track.
    tvscreen::ValidateAreas(*this, [](const CRect&) {});
    return TRUE;
}

int32_t CDxScreen::FlipPage()
{
    const int32_t wasActive = active;
    if (active) {
        ValidateBackBuffer();
        if (!OkToDrawToScreen())
            return FALSE;
        SendMsg(XMSG_DRAW, 0, 0);
        if (flipScreen && sglb != nullptr) {
            int32_t x = offsetX, y = offsetY;
            bool shown = tvp::PresentPixelSurface(pageSurfaces[page & 1], sglb->mainWindow, x, y);
            for (int32_t i = 0; i < kRetries && !shown; ++i) {
                shown = tvp::PresentPixelSurface(pageSurfaces[page & 1], sglb->mainWindow, x, y);
                if (!shown)
                    xSleep(kRetrySleepMs);
            }
            if (shown && (x != offsetX || y != offsetY)) {
                // Mouse messages carry window positions: the mouse subtracts
                // where the picture starts.
                offsetX = x, offsetY = y;
                tvscreen::SetMouseAdd(offsetX, offsetY);
            }
        }
    }
    if (flipScreen)
        page ^= 1;
    ValidateBackBuffer();
    return wasActive ? TRUE : FALSE;
}

// ---------------------------------------------------------------- screen bitmaps

void CDxScreen::ReleaseBitmapSurface(CBitmap* bmp)
{
    tvp::DestroyPixelSurface(static_cast<tvp::PixelSurface*>(bmp->surface));
    bmp->surface = nullptr;
    bmp->screenFormat = 0;
}

int32_t CDxScreen::MakeBitmapSurface(CBitmap* bmp)
{
    if (bmp == nullptr || activeMode == nullptr || bmp->width <= 0 || bmp->height <= 0)
        return FALSE;
    tvp::DestroyPixelSurface(static_cast<tvp::PixelSurface*>(bmp->surface));
    bmp->surface = NewSurface(nullptr, bmp->width, bmp->height, 0, *activeMode);
    if (bmp->surface == nullptr) {
        dprintf("Unable to create surface width:%ld height:%ld!\n", static_cast<long>(bmp->width),
                static_cast<long>(bmp->height));
        return xError_Func(XERR_SYSTEM, __FILE__, __LINE__);
    }
    return TRUE;
}

int32_t CDxScreen::CopyBitmapToSurface(CBitmap* bmp)
{
    if (bmp == nullptr || bmp->data == nullptr ||
        !tvp::FillPixelSurface(static_cast<tvp::PixelSurface*>(bmp->surface), bmp->data, bmp->pitch))
        return xErrorTxt_Func("DirectXScreen::CopyBitmapToSurface:Unable to lock bitmap surface", __FILE__,
                              __LINE__);
    bmp->changed = 0;
    return TRUE;
}

int32_t CDxScreen::MakeScreenBitmap(CBitmap* bmp, int32_t keep)
{
    if (!MakeScreenFormat(bmp, keep))
        return FALSE;
    bmp->screenFormat = 1;
    if (MakeBitmapSurface(bmp) && CopyBitmapToSurface(bmp))
        return TRUE;
    ReleaseBitmapSurface(bmp);
    if (activeMode != nullptr && activeMode->bitsPerPixel != 8)
        dprintf("Couldn't make bitmap surface\n");
    return FALSE;
}

bool CDxScreen::DrawInternal(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t& w,
                             int32_t& h, int32_t flags)
{
    if (!OkToDrawToScreen() || bmp == nullptr || bmp->data == nullptr || clipEmpty)
        return false;
    if (w == -1)
        w = bmp->width;
    if (h == -1)
        h = bmp->height;
    if (!xClipBlit(sx, sy, w, h, dx, dy, bmp->bounds, clip))
        return false;
    CBitmap* back = Back();
    const bool keyed = (flags & XBLT_COLORKEY) != 0;
    if (bmp->screenFormat && bmp->surface == nullptr)
        bmp->screenFormat = 0;
    if (bmp->screenFormat) {
        auto* s = static_cast<tvp::PixelSurface*>(bmp->surface);
        bool ok = bmp->bits == back->bits;
        if (ok && bmp->changed)
            ok = CopyBitmapToSurface(bmp) != 0;
        if (ok && tvp::IsPixelSurfaceLost(s))
            ok = tvp::RestorePixelSurface(s) && CopyBitmapToSurface(bmp);
        if (!ok) {
            ReleaseBitmapSurface(bmp);
        } else if (!keyed || bmp->bits == 8 || bmp->bits == 16) {
            // The key is the top-left pixel; 24-bit keyed copies stay in software.
            const bool done =
                tvp::SetPixelSurfaceKey(s, keyed, tvgfx::LoadRaw(bmp->data, bmp->bytesPerPixel)) &&
                tvp::BlitPixelSurface(s, sx, sy, w, h, pageSurfaces[page & 1], dx, dy);
            if (done)
                return true;
            ReleaseBitmapSurface(bmp);
        }
    }
    BlitToScreenPicture(back, bmp, sx, sy, dx, dy, w, h, keyed);
    return true;
}

int32_t CDxScreen::DrawBitmapScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                    int32_t h, int32_t flags, int32_t)
{
    int32_t cw = w, ch = h;
    int32_t csx = sx, csy = sy, cdx = dx, cdy = dy;
    // The destination after clipping is what the clear step restores.
    if (bmp != nullptr) {
        if (cw == -1)
            cw = bmp->width;
        if (ch == -1)
            ch = bmp->height;
        if (!clipEmpty && xClipBlit(csx, csy, cw, ch, cdx, cdy, bmp->bounds, clip) &&
            DrawInternal(bmp, csx, csy, cdx, cdy, cw, ch, flags))
            AddClearArea(cdx, cdy, cdx + cw - 1, cdy + ch - 1);
    }
    return TRUE;
}

int32_t CDxScreen::DrawBitmapScreenGui(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                                       int32_t w, int32_t h, int32_t flags, int32_t)
{
    DrawInternal(bmp, sx, sy, dx, dy, w, h, flags);
    return TRUE;
}

int32_t CDxScreen::DrawSpriteScreen(CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                                    int32_t h, int32_t flags, int32_t)
{
    DrawInternal(bmp, sx, sy, dx, dy, w, h, flags);
    return TRUE;
}

int32_t CDxScreen::UpdateSpriteRestore(int32_t x, int32_t y, int32_t w, int32_t h, int32_t, int32_t,
                                       CBitmap* restore)
{
    ValidateBackBuffer();
    CBitmap* back = OkToDrawToScreen() ? Back() : nullptr;
    if (back == nullptr || restore == nullptr)
        return xErrorTxt_Func("DirectXScreen:Unable to lock backbuffer", __FILE__, __LINE__);
    restore->Blt(back, x, y, 0, 0, w, h, 0, 0, 0);
    return TRUE;
}

int32_t CDxScreen::RestoreSpriteScreen(CBitmap* restore, int32_t x, int32_t y, int32_t w, int32_t h)
{
    DrawInternal(restore, 0, 0, x, y, w, h, 0);
    return TRUE;
}

int32_t CDxScreen::SetTexture(CBitmap* bmp)
{
    texture = bmp;
    return TRUE;
}

// ---------------------------------------------------------------- polygons

namespace
{
// A polygon (shadow: the shadow polygon) on the back page, restored first;
// reported when the page cannot be had.
int32_t PolygonOnBack(CDxScreen& s, bool shadow, CRect*& out)
{
    s.ValidateBackBuffer();
    CBitmap* back = s.OkToDrawToScreen() ? s.pages[s.page & 1] : nullptr;
    if (back == nullptr)
        return xErrorTxt_Func("DirectXScreen:Unable to lock backbuffer", __FILE__, __LINE__);
    if (s.clipEmpty)
        return FALSE;
    return tvscreen::DrawPolygon(s, shadow, back->data, back->pitch, back->height, back->bytesPerPixel, out);
}
} // namespace

int32_t CDxScreen::DrawPolygonScreen(CRect*& out) { return PolygonOnBack(*this, false, out); }

int32_t CDxScreen::DrawShadowPolygonScreen(CRect*& out) { return PolygonOnBack(*this, true, out); }

int32_t CDxScreen::UpdateFromBackgroundToPersistent(int32_t, int32_t, int32_t, int32_t)
{
    if (persistent == nullptr || background == nullptr || activeMode == nullptr)
        return FALSE;
    const CRect all = ScreenRect();
    CopyArea(persistent, background, all);
    AddClearAreaPersistent(all.left, all.top, all.right, all.bottom);
    return TRUE;
}

// ---------------------------------------------------------------- messages

int32_t CDxScreen::MsgHandler(uint32_t msg, int32_t, int32_t)
{
    if (msg == XMSG_DRAW && greyRequest) {
        ScreenToPersistentGray();
        greyRequest = 0;
    }
    return TRUE;
}

int32_t CDxScreen::WinMsgHandler(HWND, uint32_t msg, uint32_t wParam, int32_t)
{
    switch (msg) {
    case WM_ERASEBKGND:
    case WM_PAINT:
        // The display shows the front page again.
        ValidateFrontBuffer();
        if (activeMode != nullptr && !frontLost && sglb != nullptr)
            tvp::PresentPixelSurface(pageSurfaces[(page & 1) ^ 1], sglb->mainWindow, offsetX, offsetY);
        return msg == WM_ERASEBKGND ? TRUE : FALSE;
    case WM_ACTIVATEAPP:
        if (wParam != 0) {
            Activate();
            ValidateBackBuffer();
            ValidateFrontBuffer();
        } else {
            DeActivate();
        }
        return FALSE;
    default:
        return FALSE;
    }
}
