// The keyboard and the mouse, headless: key and mouse messages go to the
// main window's procedure as the window system would deliver them, and the
// program reads them back as an application does each frame — typed
// characters from the key queue, the position and the clicks from the mouse.
#include "input_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <string>

namespace
{

// Key data of a key message: scan code in bits 16-23, bit 31 for a release.
int32_t KeyData(uint32_t scan, bool up)
{
    return static_cast<int32_t>(1u | (scan << 16) | (up ? 0xC0000000u : 0u));
}

void Key(uint32_t vk, uint32_t scan, bool up)
{
    xMainWindowProc(sglb->mainWindow, up ? WM_KEYUP : WM_KEYDOWN, vk, KeyData(scan, up));
}

void Tap(uint32_t vk, uint32_t scan)
{
    Key(vk, scan, false);
    Key(vk, scan, true);
}

} // namespace

bool InputTour()
{
    CKeyboard* keyboard = glb->keyboard;
    CMouse* mouse = glb->mouse;
    if (keyboard == nullptr || mouse == nullptr)
        return false;
    keyboard->Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);

    // Shift+H, I, Shift+1: the left Shift key (virtual key 0x10, scan code 0x2A).
    Key(0x10, 0x2A, false);
    Tap('H', 0x23);
    Key(0x10, 0x2A, true);
    Tap('I', 0x17);
    Key(0x10, 0x2A, false);
    Tap('1', 0x02);
    Key(0x10, 0x2A, true);
    Tap(0x25, 0x4B); // the left arrow: not a character, a key code

    std::string typed;
    int32_t shiftPresses = 0, arrows = 0;
    TQueueChar q{};
    while (keyboard->GetNext(&q)) {
        if (!(q.flags & XKEYF_DOWN))
            continue;
        if (q.key == XKEY_LSHIFT)
            ++shiftPresses;
        else if (q.key == XKEY_LEFT)
            ++arrows;
        else if (q.key < 256)
            typed += static_cast<char>(q.key);
    }

    // A move and a left click at (120, 80) of the picture.
    xMainWindowProc(sglb->mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(120, 80));
    xMainWindowProc(sglb->mainWindow, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(120, 80));
    xMainWindowProc(sglb->mainWindow, WM_LBUTTONUP, 0, MAKELPARAM(120, 80));
    int32_t x = 0, y = 0, buttons = 0;
    mouse->GetState(&x, &y, nullptr);
    mouse->GetBtnState(&buttons);
    const bool clicked = (buttons & XMOUSE_LEFT_WENTDOWN) && (buttons & XMOUSE_LEFT_WENTUP);

    std::printf("input: typed \"%s\" with %d left-Shift presses and %d arrow key; mouse at (%d, %d), left "
                "button %s\n",
                typed.c_str(), shiftPresses, arrows, x, y, clicked ? "clicked" : "NOT clicked");
    return typed == "Hi!" && arrows == 1 && x == 120 && y == 80 && clicked;
}
