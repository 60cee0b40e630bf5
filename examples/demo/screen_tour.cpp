// The screen part of the main example: the windowed screen in a 16-bit mode
// with a persistent background, and on top of it each frame a spinning
// textured quad, its shadow, a bouncing box, a darkened panel and a fan of
// lines; the frame handler shows each frame and restores the background.
#include "screen_tour.h"

#include <tarvex/tarvex.h>

#include <cmath>
#include <cstdio>

namespace
{

// A picture in the screen's format: a gradient with a checkerboard laid over.
CBitmap* MakePicture(CScreenBase* screen, int32_t w, int32_t h, int32_t checker)
{
    CBitmap* b = XNEW(CBitmap);
    if (b == nullptr || !b->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0)) {
        XDELETE(b);
        return nullptr;
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const bool dark = ((x / checker) + (y / checker)) % 2 == 0;
            TRGBA c(static_cast<uint8_t>(x * 255 / w), static_cast<uint8_t>(y * 255 / h),
                    static_cast<uint8_t>(dark ? 60 : 200));
            b->PutPixel(x, y, &c);
        }
    screen->MakeScreenBitmap(b, XCONV_NO_COLORKEY);
    return b;
}

// One frame of the moving picture at time t (frames).
void DrawFrame(CScreenBase* s, CBitmap* texture, int32_t t)
{
    const double a = t * 0.05;
    const int32_t cx = 320 + static_cast<int32_t>(120 * std::cos(a * 0.7));
    const int32_t cy = 240 + static_cast<int32_t>(60 * std::sin(a * 0.9));
    // Polygon corners are given in half pixels.
    int32_t px[4], py[4];
    for (int32_t i = 0; i < 4; ++i) {
        const double k = a + i * 3.14159265 / 2;
        px[i] = 2 * cx + static_cast<int32_t>(180 * std::cos(k));
        py[i] = 2 * cy + static_cast<int32_t>(180 * std::sin(k));
    }
    CRect drawn, *out = &drawn;
    // The shadow first, offset down and right, then the textured quad.
    s->SetPolygon(px[0] + 40, py[0] + 40, 0, px[1] + 40, py[1] + 40, 0, px[2] + 40, py[2] + 40, 0, px[3] + 40,
                  py[3] + 40, 0);
    s->DrawShadowPolygonScreen(out);
    s->SetTexture(texture);
    s->SetTextureCoords(0, 0, (texture->width - 1) << 16, 0, (texture->width - 1) << 16,
                        (texture->height - 1) << 16, 0, (texture->height - 1) << 16);
    s->SetPolygonMode(0, 1);
    s->SetPolygon(px[0], py[0], 0, px[1], py[1], 0, px[2], py[2], 0, px[3], py[3], 0);
    s->DrawPolygonScreen(out);

    // A box bouncing off the edges, a darkened panel and a fan of lines.
    const int32_t bx = std::abs((t * 7) % 1160 - 580), by = std::abs((t * 5) % 840 - 420);
    s->FillRect(bx, by, 60, 60, TRGBA(250, 200, 40));
    s->FillRectAlpha(20, 380, 600, 80, 50);
    for (int32_t i = 0; i < 12; ++i) {
        const double k = a * 0.5 + i * 3.14159265 / 12;
        s->DrawLine(320, 420, 320 + static_cast<int32_t>(300 * std::cos(k)),
                    420 - static_cast<int32_t>(300 * std::abs(std::sin(k))),
                    TRGBA(255, static_cast<uint8_t>(i * 20), 255));
    }
}

} // namespace

bool ScreenTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW) || !s->SetPersistentMode(1)) {
        std::printf("screen: could not open a 640x480 16-bit window\n");
        return false;
    }
    CBitmap* background = MakePicture(s, 640, 480, 40);
    CBitmap* texture = MakePicture(s, 64, 64, 8);
    bool ok = background != nullptr && texture != nullptr &&
              s->DrawBitmapPersistent(background, 0, 0, 0, 0, -1, -1, 0, 0);
    int32_t frames = 0;
    CBitmap* shot = XNEW(CBitmap);
    const uint32_t start = xGetTime();
    while (ok && frames < 90 && !xDoUserWantToQuit()) {
        DrawFrame(s, texture, frames);
        if (frames == 89) {
            // The frame about to be shown: the window will hold these pixels.
            CBitmap* picture = s->GetScreenBitmap();
            ok = shot != nullptr && picture != nullptr &&
                 shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                 shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0);
        }
        if (xHandler() != 0)
            break;
        ++frames;
    }
    const uint32_t took = xTimeDiff(start, xGetTime());
    const std::string file = folder + "/screen.bmp";
    ok = ok && shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    std::printf("screen: %d frames of a 640x480 16-bit window in %u ms (%s); last frame saved to %s\n",
                frames, took, s->GetActiveMode() != nullptr ? s->GetActiveMode()->name : "-",
                ok ? file.c_str() : "(failed)");
    s->ExitMode();
    XDELETE(shot);
    XDELETE(texture);
    XDELETE(background);
    return ok;
}
