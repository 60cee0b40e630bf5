// The slide-show part of the main example: three generated pictures shown
// in turn into an off-screen picture that each frame puts on the screen.
// The F key switches between the windowed screen and the full-screen screen
// (two flipped pages on the whole display); run without a person, the tour
// presses it itself half way and again a little later.
#include "slideshow_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>

namespace
{

constexpr int32_t kW = 320;
constexpr int32_t kH = 240;

// Rings, stripes or a diagonal gradient, by kind.
bool MakeSlide(CBitmap& b, int32_t kind)
{
    if (!b.CreateRGB(kW, kH, 24, 8, 8, 8, 0, 8, 16, 0))
        return false;
    for (int32_t y = 0; y < kH; ++y)
        for (int32_t x = 0; x < kW; ++x) {
            const int32_t dx = x - kW / 2, dy = y - kH / 2;
            uint8_t v = 0;
            if (kind == 0)
                v = static_cast<uint8_t>(((dx * dx + dy * dy) / 64) % 2 == 0 ? 230 : 30);
            else if (kind == 1)
                v = static_cast<uint8_t>((x / 20) % 2 == 0 ? 200 : 50);
            else
                v = static_cast<uint8_t>((x + y) * 255 / (kW + kH));
            TRGBA c(kind == 0 ? v : 40, kind == 1 ? v : 80, kind == 2 ? v : 160);
            b.PutPixel(x, y, &c);
        }
    return true;
}

constexpr int32_t kWinW = 640;
constexpr int32_t kWinH = 480;

// From the window to the whole display and back: one screen closes its
// mode, the other opens one. True when the wanted screen is current.
bool ToggleFullScreen(bool& full)
{
    CDibScreen* dib = sglb->dibScreen;
    CDxScreen* dx = sglb->dxScreen;
    if (!full && dx != nullptr && dx->GetVideoModes()) {
        // The first 24-bit display mode.
        int32_t w = 0, h = 0;
        for (dx->ModeFirst(); dx->ModeExists() && w == 0; dx->ModeNext())
            if (dx->ModeGet()->bitsPerPixel == 24)
                w = dx->ModeGet()->width, h = dx->ModeGet()->height;
        dib->ExitMode();
        if (w > 0 && dx->InitModeRez(w, h, 24, XVMODE_FULLSCREEN)) {
            full = true;
            return true;
        }
    } else if (full) {
        dx->ExitMode();
    }
    full = false;
    return dib->GetVideoModes() && dib->InitModeRez(kWinW, kWinH, 24, XVMODE_WINDOW);
}

// Presses of the F key since the last frame.
bool FPressed()
{
    bool pressed = false;
    TQueueChar q{};
    while (glb->keyboard != nullptr && glb->keyboard->GetNext(&q))
        if ((q.flags & XKEYF_DOWN) != 0 && (q.key == 'F' || q.key == 'f'))
            pressed = true;
    return pressed;
}

} // namespace

bool SlideShowTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    // The screen tour closed its mode, which empties the mode list.
    if (s == nullptr || !s->GetVideoModes() || !s->InitModeRez(640, 480, 24, XVMODE_WINDOW)) {
        std::printf("slideshow: could not open a 640x480 24-bit window\n");
        return false;
    }
    CBitmap slides[3];
    CBitmap target;
    CSlideShow show;
    bool ok = MakeSlide(slides[0], 0) && MakeSlide(slides[1], 1) && MakeSlide(slides[2], 2) &&
              target.CreateRGB(kW, kH, 24, 8, 8, 8, 0, 8, 16, 0) && show.CreateEmpty(&target, 0, 0, 0);
    ok = ok && show.AddEffect(TEFFECTDATA{nullptr, XEFFECT_CUT, 0, 0}) == 0 &&
         show.AddEffect(TEFFECTDATA{nullptr, XEFFECT_CROSSFADE, 8, 30}) == 1;
    for (int32_t i = 0; ok && i < 3; ++i)
        ok = show.AddEntry(i, 0, 300, 600, &slides[i], i == 0 ? 0 : 1);
    ok = ok && show.Start(10);
    int32_t frames = 0;
    bool full = false;
    int32_t wentFull = 0;
    int32_t shown = 0;
    int32_t changes = 0;
    std::string shot;
    const uint32_t start = xGetTime();
    while (ok && xTimeDiff(start, xGetTime()) < 3000 && !xDoUserWantToQuit()) {
        CScreenBase* screen = glb->screen;
        if (screen == nullptr || screen->GetActiveMode() == nullptr) {
            ok = false;
            break;
        }
        const SVmode* m = screen->GetActiveMode();
        screen->DrawBitmapScreen(&target, 0, 0, (m->width - kW) / 2, (m->height - kH) / 2, -1, -1, 0, 0);
        if (full && frames == 45) {
            // What the display shows next: the back page as drawn.
            shot = folder + "/fullscreen.bmp";
            if (!screen->GetScreenBitmap()->Save(shot.c_str(), nullptr, nullptr, nullptr, 0))
                shot.clear();
        }
        if (FPressed() || frames == 30 || frames == 60) {
            ok = ToggleFullScreen(full);
            wentFull += full ? 1 : 0;
        }
        if (show.GetCurrentSlideNr() != shown) {
            shown = show.GetCurrentSlideNr();
            ++changes;
        }
        if (xHandler() != 0)
            break;
        ++frames;
    }
    if (full)
        ToggleFullScreen(full);
    show.Stop();
    const std::string file = folder + "/slideshow.bmp";
    ok = ok && target.Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    std::printf("slideshow: %d frames, %d slide changes among %d slides, full screen %s and back (%s); last "
                "frame saved to %s\n",
                frames, changes, show.GetNumOfSlides(), wentFull ? "taken" : "not available",
                shot.empty() ? "no screenshot" : shot.c_str(), ok ? file.c_str() : "(failed)");
    s->ExitMode();
    return ok;
}
