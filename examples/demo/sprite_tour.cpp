// The sprite part of the main example. The application only moves its
// sprites and draws its text; the frame handler does the rest: each flip
// the sprites save what lies under them and draw themselves, each clear
// they put it back, and the screen restores the text's areas from its
// persistent background. The last frame is caught by a handler of the draw
// message registered below the sprites, so the picture saved is the one the
// window shows.
#include "sprite_tour.h"

#include <tarvex/tarvex.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace
{

constexpr int32_t kSize = 32;
constexpr int32_t kFrames = 60;

const char* const kFont = "data/fonts/dejavusans16.xbf";

// The font beside the working directory, or in the source tree the program
// was built in (looked for above the program's own folder).
std::string FindFont()
{
    std::error_code ec;
    if (std::filesystem::exists(kFont, ec))
        return kFont;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::filesystem::path candidate = dir / kFont;
        if (std::filesystem::exists(candidate, ec))
            return candidate.string();
        if (dir == dir.parent_path())
            break;
    }
    return kFont;
}

// Four frames of a turning wheel side by side, on a magenta colour key, in
// the screen's format.
CBitmap* MakeSheet(CScreenBase* screen, TRGBA body)
{
    CBitmap* b = XNEW(CBitmap);
    if (b == nullptr || !b->CreateRGB(4 * kSize, kSize, 24, 8, 8, 8, 16, 8, 0, 0)) {
        XDELETE(b);
        return nullptr;
    }
    const TRGBA key(255, 0, 255), dark(20, 20, 20);
    for (int32_t f = 0; f < 4; ++f)
        for (int32_t y = 0; y < kSize; ++y)
            for (int32_t x = 0; x < kSize; ++x) {
                const double dx = x - 15.5, dy = y - 15.5, r = std::sqrt(dx * dx + dy * dy);
                const double a = std::atan2(dy, dx) + f * 3.14159265 / 8;
                TRGBA c = r > 15                                            ? key
                          : r > 13                                          ? dark
                          : std::fmod(a + 6.2831853, 3.14159265 / 2) < 0.35 ? dark
                                                                            : body;
                b->PutPixel(f * kSize + x, y, &c);
            }
    if (!screen->MakeScreenBitmap(b, 0)) {
        XDELETE(b);
        return nullptr;
    }
    return b;
}

CBitmap* MakeBackground(CScreenBase* screen)
{
    CBitmap* b = XNEW(CBitmap);
    if (b == nullptr || !b->CreateRGB(640, 480, 24, 8, 8, 8, 16, 8, 0, 0)) {
        XDELETE(b);
        return nullptr;
    }
    for (int32_t y = 0; y < 480; ++y)
        for (int32_t x = 0; x < 640; ++x) {
            const bool tile = ((x / 40) + (y / 40)) % 2 == 0;
            TRGBA c(static_cast<uint8_t>(30 + y / 8), static_cast<uint8_t>(tile ? 90 : 110),
                    static_cast<uint8_t>(60 + x / 8));
            b->PutPixel(x, y, &c);
        }
    screen->MakeScreenBitmap(b, XCONV_NO_COLORKEY);
    return b;
}

// Keeps a copy of the picture as the flip leaves it, after every sprite has
// drawn, when asked to.
class CShot : public CMsgSys
{
  public:
    CBitmap* picture = nullptr; // owned
    bool wanted = false;
    bool taken = false;
    int32_t MsgHandler(uint32_t msg, int32_t, int32_t) override
    {
        CScreenBase* s = glb->screen;
        CBitmap* from = s != nullptr ? s->GetScreenBitmap() : nullptr;
        if (msg != XMSG_DRAW || !wanted || from == nullptr || picture == nullptr)
            return 0;
        taken = picture->CreateRGB(from->width, from->height, 24, 8, 8, 8, 16, 8, 0, 0) &&
                picture->Blt(from, 0, 0, 0, 0, -1, -1, 0, 0, 0);
        wanted = false;
        return 0;
    }
};

// Key data of a key message: scan code in bits 16-23, bit 31 for a release.
void Key(uint32_t vk, uint32_t scan, bool up)
{
    const int32_t data = static_cast<int32_t>(1u | (scan << 16) | (up ? 0xC0000000u : 0u));
    xMainWindowProc(sglb->mainWindow, up ? WM_KEYUP : WM_KEYDOWN, vk, data);
}

void MouseAt(int32_t x, int32_t y) { xMainWindowProc(sglb->mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(x, y)); }

} // namespace

bool SpriteTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    CKeyboard* keyboard = glb->keyboard;
    CMouse* mouse = glb->mouse;
    // A screen that closed its mode looks for its modes again.
    if (s != nullptr && s->modes.GetNumNodes() == 0)
        s->GetVideoModes();
    if (s == nullptr || keyboard == nullptr || mouse == nullptr ||
        !s->InitModeRez(640, 480, 16, XVMODE_WINDOW) || !s->SetPersistentMode(1)) {
        std::printf("sprites: could not open a 640x480 16-bit window\n");
        return false;
    }
    // The mouse has followed the new mode by itself.
    keyboard->Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);
    CBitmap* background = MakeBackground(s);
    CBitmap* walker = MakeSheet(s, TRGBA(250, 190, 40));
    CBitmap* pointer = MakeSheet(s, TRGBA(80, 200, 250));
    CFont* font = XNEW(CFont);
    CShot* shot = XNEW(CShot);
    CSprite* player = XNEW(CSprite);
    CSprite* follower = XNEW(CSprite);
    const TPoint frames[] = {{0, 0}, {kSize, 0}, {2 * kSize, 0}, {3 * kSize, 0}, {-1, -1}};
    TRGBA white(255, 255, 255);
    bool ok = background != nullptr && walker != nullptr && pointer != nullptr && font != nullptr &&
              shot != nullptr && player != nullptr && follower != nullptr &&
              s->DrawBitmapPersistent(background, 0, 0, 0, 0, -1, -1, 0, 0) &&
              font->Load(FindFont().c_str(), 0) && font->CreateColor(white) &&
              player->Create(walker, frames, kSize, kSize, 80, 200, XSPRITE_LOOP, 2, XBLT_COLORKEY) &&
              follower->Create(pointer, frames, kSize, kSize, 0, 0, XSPRITE_PINGPONG, 1, XBLT_COLORKEY) &&
              RegisterMsg(shot, XMSG_DRAW, -110) && (shot->picture = XNEW(CBitmap)) != nullptr;

    // The right arrow is held for 40 frames, the down arrow from frame 20 to
    // 50 (virtual keys 0x27 and 0x28); the pointer sweeps across the window.
    int32_t frame = 0;
    const uint32_t start = xGetTime();
    while (ok && frame < kFrames && !xDoUserWantToQuit()) {
        if (frame == 0)
            Key(0x27, 0x4D, false);
        if (frame == 40)
            Key(0x27, 0x4D, true);
        if (frame == 20)
            Key(0x28, 0x50, false);
        if (frame == 50)
            Key(0x28, 0x50, true);
        MouseAt(560 - frame * 6, 80 + static_cast<int32_t>(60 * std::sin(frame * 0.1)));
        while (keyboard->IsKeyWaiting()) {
            TQueueChar q{};
            keyboard->GetNext(&q); // the keys' states are what moves the sprite
        }
        const int32_t dx =
            (keyboard->IsPressed(XKEY_RIGHT) ? 6 : 0) - (keyboard->IsPressed(XKEY_LEFT) ? 6 : 0);
        const int32_t dy = (keyboard->IsPressed(XKEY_DOWN) ? 5 : 0) - (keyboard->IsPressed(XKEY_UP) ? 5 : 0);
        player->SetRelativePosition(dx, dy);
        int32_t mx = 0, my = 0;
        mouse->GetState(&mx, &my, nullptr);
        follower->SetPosition(mx - kSize / 2, my - kSize / 2);

        char line[96];
        std::snprintf(line, sizeof line, "Frame %d: arrows move the wheel (%d, %d), the mouse is at (%d, %d)",
                      frame, player->GetPositionX(), player->GetPositionY(), mx, my);
        font->Text(XTEXT_SCREEN, line, 12, 440, 616, 30, &white, nullptr, XTEXT_SINGLELINE);
        shot->wanted = frame == kFrames - 1;
        if (xHandler() != 0)
            break;
        ++frame;
    }
    const uint32_t took = xTimeDiff(start, xGetTime());
    // The wheel went right 40 times and down 30 times; the follower is under the pointer.
    const bool moved = player->GetPositionX() == 80 + 40 * 6 && player->GetPositionY() == 200 + 30 * 5;
    const std::string file = folder + "/sprites.bmp";
    ok = ok && moved && shot->taken && shot->picture->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    std::printf("sprites: %d frames in %u ms; the wheel walked to (%d, %d), the follower to (%d, %d); "
                "last frame saved to %s\n",
                frame, took, player->GetPositionX(), player->GetPositionY(), follower->GetPositionX(),
                follower->GetPositionY(), ok ? file.c_str() : "(failed)");
    XDELETE(follower);
    XDELETE(player);
    if (shot != nullptr)
        XDELETE(shot->picture);
    XDELETE(shot);
    XDELETE(font);
    s->ExitMode();
    XDELETE(pointer);
    XDELETE(walker);
    XDELETE(background);
    return ok;
}
