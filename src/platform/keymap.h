// Keyboard translation between SDL and the classic virtual-key world: SDL
// keycodes to virtual-key codes, and SDL (USB HID) scancodes to the PC set-1
// scan codes that key messages carry in their lParam. Private to the platform
// layer; the keyboard module reuses the same tables so both agree.
#pragma once

#include <SDL2/SDL_keycode.h>
#include <SDL2/SDL_scancode.h>

#include <array>
#include <cstdint>

namespace tvp {

// Virtual-key codes the tables produce (the classic numbering).
enum : uint32_t {
    VK_BACK = 0x08,
    VK_TAB = 0x09,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_PAUSE = 0x13,
    VK_CAPITAL = 0x14,
    VK_ESCAPE = 0x1B,
    VK_SPACE = 0x20,
    VK_PRIOR = 0x21,
    VK_NEXT = 0x22,
    VK_END = 0x23,
    VK_HOME = 0x24,
    VK_LEFT = 0x25,
    VK_UP = 0x26,
    VK_RIGHT = 0x27,
    VK_DOWN = 0x28,
    VK_SNAPSHOT = 0x2C,
    VK_INSERT = 0x2D,
    VK_DELETE = 0x2E,
    VK_LWIN = 0x5B,
    VK_RWIN = 0x5C,
    VK_APPS = 0x5D,
    VK_NUMPAD0 = 0x60,
    VK_MULTIPLY = 0x6A,
    VK_ADD = 0x6B,
    VK_SEPARATOR = 0x6C,
    VK_SUBTRACT = 0x6D,
    VK_DECIMAL = 0x6E,
    VK_DIVIDE = 0x6F,
    VK_F1 = 0x70,
    VK_NUMLOCK = 0x90,
    VK_SCROLL = 0x91,
    VK_OEM_1 = 0xBA,      // ;:
    VK_OEM_PLUS = 0xBB,   // =+
    VK_OEM_COMMA = 0xBC,  // ,<
    VK_OEM_MINUS = 0xBD,  // -_
    VK_OEM_PERIOD = 0xBE, // .>
    VK_OEM_2 = 0xBF,      // /?
    VK_OEM_3 = 0xC0,      // `~
    VK_OEM_4 = 0xDB,      // [{
    VK_OEM_5 = 0xDC,      // \|
    VK_OEM_6 = 0xDD,      // ]}
    VK_OEM_7 = 0xDE,      // '"
    VK_OEM_102 = 0xE2,    // the extra key of ISO keyboards
};

// The virtual-key code of an SDL keycode; 0 for keys without one.
constexpr uint32_t VirtualKeyFromSdl(int32_t key)
{
    if (key >= SDLK_a && key <= SDLK_z)
        return static_cast<uint32_t>('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9)
        return static_cast<uint32_t>(key);
    if (key >= SDLK_F1 && key <= SDLK_F12)
        return VK_F1 + static_cast<uint32_t>(key - SDLK_F1);
    if (key >= SDLK_F13 && key <= SDLK_F24)
        return VK_F1 + 12 + static_cast<uint32_t>(key - SDLK_F13);
    if (key >= SDLK_KP_1 && key <= SDLK_KP_9)
        return VK_NUMPAD0 + 1 + static_cast<uint32_t>(key - SDLK_KP_1);
    switch (key) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN:
    case SDLK_RETURN2:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_PRINTSCREEN: return VK_SNAPSHOT;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LGUI: return VK_LWIN;
    case SDLK_RGUI: return VK_RWIN;
    case SDLK_APPLICATION: return VK_APPS;
    case SDLK_KP_0: return VK_NUMPAD0;
    case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_COMMA: return VK_SEPARATOR;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    case SDLK_KP_PERIOD: return VK_DECIMAL;
    case SDLK_KP_DIVIDE: return VK_DIVIDE;
    case SDLK_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDLK_SCROLLLOCK: return VK_SCROLL;
    case SDLK_SEMICOLON: return VK_OEM_1;
    case SDLK_EQUALS: return VK_OEM_PLUS;
    case SDLK_COMMA: return VK_OEM_COMMA;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_PERIOD: return VK_OEM_PERIOD;
    case SDLK_SLASH: return VK_OEM_2;
    case SDLK_BACKQUOTE: return VK_OEM_3;
    case SDLK_LEFTBRACKET: return VK_OEM_4;
    case SDLK_BACKSLASH: return VK_OEM_5;
    case SDLK_RIGHTBRACKET: return VK_OEM_6;
    case SDLK_QUOTE: return VK_OEM_7;
    case SDLK_LESS: return VK_OEM_102;
    default: return 0;
    }
}

// The keycode a key position has on a US layout. Layouts whose keycodes are
// characters the virtual-key table does not know (accented letters and the
// like) fall back on it, so every physical key still has a virtual key.
constexpr int32_t UsKeycodeFromScancode(int32_t sc)
{
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z)
        return SDLK_a + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9)
        return SDLK_1 + (sc - SDL_SCANCODE_1);
    switch (sc) {
    case SDL_SCANCODE_0: return SDLK_0;
    case SDL_SCANCODE_MINUS: return SDLK_MINUS;
    case SDL_SCANCODE_EQUALS: return SDLK_EQUALS;
    case SDL_SCANCODE_LEFTBRACKET: return SDLK_LEFTBRACKET;
    case SDL_SCANCODE_RIGHTBRACKET: return SDLK_RIGHTBRACKET;
    case SDL_SCANCODE_BACKSLASH:
    case SDL_SCANCODE_NONUSHASH: return SDLK_BACKSLASH;
    case SDL_SCANCODE_SEMICOLON: return SDLK_SEMICOLON;
    case SDL_SCANCODE_APOSTROPHE: return SDLK_QUOTE;
    case SDL_SCANCODE_GRAVE: return SDLK_BACKQUOTE;
    case SDL_SCANCODE_COMMA: return SDLK_COMMA;
    case SDL_SCANCODE_PERIOD: return SDLK_PERIOD;
    case SDL_SCANCODE_SLASH: return SDLK_SLASH;
    case SDL_SCANCODE_NONUSBACKSLASH: return SDLK_LESS;
    default:
        return (sc > 0 && sc < SDL_NUM_SCANCODES) ? static_cast<int32_t>(SDL_SCANCODE_TO_KEYCODE(sc)) : 0;
    }
}

// Set-1 scan code of a key: low byte the code, 0x100 set for the extended
// (E0-prefixed) keys. 0 for keys a PC keyboard does not have.
constexpr uint32_t kScanExtended = 0x100;

namespace keymap_detail {
struct ScanPair {
    int32_t sdl;
    uint16_t set1;
};
// Everything except the letter and digit rows, which are listed in ScanTable().
inline constexpr ScanPair kScanPairs[] = {
    {SDL_SCANCODE_RETURN, 0x1C},       {SDL_SCANCODE_ESCAPE, 0x01},
    {SDL_SCANCODE_BACKSPACE, 0x0E},    {SDL_SCANCODE_TAB, 0x0F},
    {SDL_SCANCODE_SPACE, 0x39},        {SDL_SCANCODE_MINUS, 0x0C},
    {SDL_SCANCODE_EQUALS, 0x0D},       {SDL_SCANCODE_LEFTBRACKET, 0x1A},
    {SDL_SCANCODE_RIGHTBRACKET, 0x1B}, {SDL_SCANCODE_BACKSLASH, 0x2B},
    {SDL_SCANCODE_NONUSHASH, 0x2B},    {SDL_SCANCODE_SEMICOLON, 0x27},
    {SDL_SCANCODE_APOSTROPHE, 0x28},   {SDL_SCANCODE_GRAVE, 0x29},
    {SDL_SCANCODE_COMMA, 0x33},        {SDL_SCANCODE_PERIOD, 0x34},
    {SDL_SCANCODE_SLASH, 0x35},        {SDL_SCANCODE_CAPSLOCK, 0x3A},
    {SDL_SCANCODE_F11, 0x57},          {SDL_SCANCODE_F12, 0x58},
    {SDL_SCANCODE_PRINTSCREEN, 0x137}, {SDL_SCANCODE_SCROLLLOCK, 0x46},
    {SDL_SCANCODE_PAUSE, 0x45},        {SDL_SCANCODE_INSERT, 0x152},
    {SDL_SCANCODE_HOME, 0x147},        {SDL_SCANCODE_PAGEUP, 0x149},
    {SDL_SCANCODE_DELETE, 0x153},      {SDL_SCANCODE_END, 0x14F},
    {SDL_SCANCODE_PAGEDOWN, 0x151},    {SDL_SCANCODE_RIGHT, 0x14D},
    {SDL_SCANCODE_LEFT, 0x14B},        {SDL_SCANCODE_DOWN, 0x150},
    {SDL_SCANCODE_UP, 0x148},          {SDL_SCANCODE_NUMLOCKCLEAR, 0x145},
    {SDL_SCANCODE_KP_DIVIDE, 0x135},   {SDL_SCANCODE_KP_MULTIPLY, 0x37},
    {SDL_SCANCODE_KP_MINUS, 0x4A},     {SDL_SCANCODE_KP_PLUS, 0x4E},
    {SDL_SCANCODE_KP_ENTER, 0x11C},    {SDL_SCANCODE_KP_1, 0x4F},
    {SDL_SCANCODE_KP_2, 0x50},         {SDL_SCANCODE_KP_3, 0x51},
    {SDL_SCANCODE_KP_4, 0x4B},         {SDL_SCANCODE_KP_5, 0x4C},
    {SDL_SCANCODE_KP_6, 0x4D},         {SDL_SCANCODE_KP_7, 0x47},
    {SDL_SCANCODE_KP_8, 0x48},         {SDL_SCANCODE_KP_9, 0x49},
    {SDL_SCANCODE_KP_0, 0x52},         {SDL_SCANCODE_KP_PERIOD, 0x53},
    {SDL_SCANCODE_NONUSBACKSLASH, 0x56}, {SDL_SCANCODE_APPLICATION, 0x15D},
    {SDL_SCANCODE_LCTRL, 0x1D},        {SDL_SCANCODE_LSHIFT, 0x2A},
    {SDL_SCANCODE_LALT, 0x38},         {SDL_SCANCODE_LGUI, 0x15B},
    {SDL_SCANCODE_RCTRL, 0x11D},       {SDL_SCANCODE_RSHIFT, 0x36},
    {SDL_SCANCODE_RALT, 0x138},        {SDL_SCANCODE_RGUI, 0x15C},
};

constexpr std::array<uint16_t, SDL_SCANCODE_RGUI + 1> ScanTable()
{
    // Letters in HID order (A..Z), then the digit row 1..9, 0.
    constexpr uint16_t letters[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17,
                                      0x24, 0x25, 0x26, 0x32, 0x31, 0x18, 0x19, 0x10, 0x13,
                                      0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};
    std::array<uint16_t, SDL_SCANCODE_RGUI + 1> t{};
    for (int i = 0; i < 26; ++i)
        t[SDL_SCANCODE_A + i] = letters[i];
    for (int i = 0; i < 10; ++i)
        t[SDL_SCANCODE_1 + i] = static_cast<uint16_t>(0x02 + i);
    for (int i = 0; i < 10; ++i)
        t[SDL_SCANCODE_F1 + i] = static_cast<uint16_t>(0x3B + i);
    for (const ScanPair& p : kScanPairs)
        t[p.sdl] = p.set1;
    return t;
}
inline constexpr auto kScanTable = ScanTable();
} // namespace keymap_detail

constexpr uint32_t ScanCodeFromSdl(int32_t scancode)
{
    if (scancode < 0 || scancode >= static_cast<int32_t>(keymap_detail::kScanTable.size()))
        return 0;
    return keymap_detail::kScanTable[static_cast<size_t>(scancode)];
}

} // namespace tvp
