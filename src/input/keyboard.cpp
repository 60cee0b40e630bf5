// The keyboard: the ring queue of typed keys, the key-state table, and the
// key algorithm that fills both from the main window's key messages.
//
// Every key event first types its character, if it has one, so printable
// keys reach the queue as what they type; then the key's XKEY_* code goes to
// the key-state table (and to the queue when no character went there). Shift,
// Ctrl and Alt are tracked per side — the side comes from the scan code and
// the extended-key bit of the key data — and the generic code of a pair
// (XKEY_SHIFT, ...) follows its two sides: down while either is down.
//
// Characters come from a US layout of our own, not from the desktop's, so a
// program sees the same characters for the same keys on every machine.
#include <tarvex/keyboard.h>

#include "platform/platform.h"

#include <array>
#include <cstring>

namespace
{

// The virtual keys the algorithm reads.
enum : uint32_t {
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_CAPITAL = 0x14,
    VK_NUMLOCK = 0x90,
    VK_LSHIFT = 0xA0,
    VK_RSHIFT = 0xA1,
    VK_LCONTROL = 0xA2,
    VK_RCONTROL = 0xA3,
    VK_LMENU = 0xA4,
    VK_RMENU = 0xA5,
};
constexpr uint32_t kKeyUp = 0x80000000u;
constexpr uint32_t kExtended = 0x01000000u;
constexpr uint8_t kDown = 0x80;
constexpr uint8_t kToggled = 0x01;
// Set-1 scan code of the right Shift key (the only side told apart by its code).
constexpr uint32_t kRightShiftScan = 0x36;

// Virtual key -> XKEY_* code; 0 for keys the table does not handle.
constexpr size_t kTableSize = 0x98;
constexpr std::array<uint16_t, kTableSize> MakeTable()
{
    std::array<uint16_t, kTableSize> t{};
    t[0x08] = 8;
    t[0x09] = 9;
    t[0x0D] = 13;
    t[0x10] = XKEY_SHIFT;
    t[0x11] = XKEY_CTRL;
    t[0x12] = XKEY_ALT;
    t[0x13] = XKEY_BREAK;
    t[0x14] = XKEY_CAPSLOCK;
    t[0x16] = 22;
    t[0x1B] = 27;
    t[0x20] = 32;
    t[0x21] = XKEY_PAGEUP;
    t[0x22] = XKEY_PAGEDOWN;
    t[0x23] = XKEY_END;
    t[0x24] = XKEY_HOME;
    t[0x25] = XKEY_LEFT;
    t[0x26] = XKEY_UP;
    t[0x27] = XKEY_RIGHT;
    t[0x28] = XKEY_DOWN;
    t[0x2C] = XKEY_PRINTSCR;
    t[0x2D] = XKEY_INSERT;
    t[0x2E] = XKEY_DELETE;
    for (uint16_t i = 0; i < 10; ++i)
        t[0x30 + i] = static_cast<uint16_t>(48 + i);
    for (uint16_t i = 0; i < 26; ++i)
        t[0x41 + i] = static_cast<uint16_t>(65 + i);
    for (uint16_t i = 0; i < 10; ++i)
        t[0x60 + i] = static_cast<uint16_t>(XKEY_NP0 + i);
    t[0x6A] = XKEY_NPMULTIPLY;
    t[0x6B] = XKEY_NPADD;
    t[0x6D] = XKEY_NPSUBTRACT;
    t[0x6E] = XKEY_NPDECIMAL;
    t[0x6F] = XKEY_NPDIVIDE;
    for (uint16_t i = 0; i < 24; ++i)
        t[0x70 + i] = static_cast<uint16_t>(XKEY_F1 + i);
    t[0x90] = XKEY_NUMLOCK;
    t[0x91] = XKEY_SCROLL;
    return t;
}
constexpr auto kVkToXkey = MakeTable();

// The three side pairs, in the order the algorithm checks them.
struct SidePair {
    uint16_t generic;
    uint32_t leftVk;
    uint16_t left;
    uint32_t rightVk;
    uint16_t right;
};
constexpr SidePair kPairs[] = {
    {XKEY_ALT, VK_LMENU, XKEY_LALT, VK_RMENU, XKEY_RALT},
    {XKEY_CTRL, VK_LCONTROL, XKEY_LCTRL, VK_RCONTROL, XKEY_RCTRL},
    {XKEY_SHIFT, VK_LSHIFT, XKEY_LSHIFT, VK_RSHIFT, XKEY_RSHIFT},
};

// The printable keys of the US layout outside the letters: virtual key,
// character, character with Shift.
struct Printable {
    uint32_t vk;
    char plain;
    char shifted;
};
constexpr Printable kPrintables[] = {
    {0x30, '0', ')'}, {0x31, '1', '!'},  {0x32, '2', '@'},  {0x33, '3', '#'}, {0x34, '4', '$'},
    {0x35, '5', '%'}, {0x36, '6', '^'},  {0x37, '7', '&'},  {0x38, '8', '*'}, {0x39, '9', '('},
    {0x20, ' ', ' '}, {0xBA, ';', ':'},  {0xBB, '=', '+'},  {0xBC, ',', '<'}, {0xBD, '-', '_'},
    {0xBE, '.', '>'}, {0xBF, '/', '?'},  {0xC0, '`', '~'},  {0xDB, '[', '{'}, {0xDC, '\\', '|'},
    {0xDD, ']', '}'}, {0xDE, '\'', '"'}, {0xE2, '\\', '|'}, {0x6A, '*', '*'}, {0x6B, '+', '+'},
    {0x6D, '-', '-'}, {0x6E, '.', '.'},  {0x6F, '/', '/'},  {0x08, 8, 8},     {0x09, 9, 9},
    {0x0D, 13, 13},   {0x1B, 27, 27},
};

// What a key types with Ctrl held (no Alt): letters give 1..26 elsewhere.
struct ControlChar {
    uint32_t vk;
    uint16_t ch;
};
constexpr ControlChar kControlChars[] = {
    {0x0D, 10}, {0x08, 127}, {0x20, 32}, {0x1B, 27}, {0xDB, 27},
    {0xDC, 28}, {0xE2, 28},  {0xDD, 29}, {0x36, 30}, {0xBD, 31},
};

} // namespace

// ---------------------------------------------------------------- base: queue and states

CKeyboardBase::CKeyboardBase()
{
    std::memset(keyState, 0, sizeof keyState);
    std::memset(queue, 0, sizeof queue);
    Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);
}

void CKeyboardBase::Clear(uint16_t what)
{
    if (what & XKEYCLEAR_QUEUE)
        readIndex = writeIndex = 0;
    if (what & XKEYCLEAR_STATES) {
        std::memset(keyState, 0, sizeof keyState);
        downCount = 0;
    }
}

int32_t CKeyboardBase::IsKeyWaiting() { return readIndex != writeIndex ? TRUE : FALSE; }

int32_t CKeyboardBase::GetNext(TQueueChar* out)
{
    if (out == nullptr || !IsKeyWaiting())
        return FALSE;
    *out = queue[readIndex % XKEY_QUEUE_SIZE];
    readIndex = static_cast<uint16_t>((readIndex + 1) % XKEY_QUEUE_SIZE);
    return TRUE;
}

int32_t CKeyboardBase::IsPressed(uint16_t key)
{
    if (key >= XKEY_STATES)
        return 0;
    const int32_t state = keyState[key] & 3;
    keyState[key] &= static_cast<uint8_t>(~2);
    return state;
}

int32_t CKeyboardBase::GetPressed() { return downCount; }

// ---------------------------------------------------------------- CKeyboard

CKeyboard::CKeyboard()
{
    // The key messages are this platform's key source: the algorithm runs
    // when they are dispatched, as a keyboard hook would run.
    for (uint32_t msg : {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP})
        RegisterWinMsg(this, msg);
}

CKeyboard::~CKeyboard() { UnRegisterWinMsgAll(this); }

void CKeyboard::SetPasteReceiver(XPasteReceiver receiver, void* user)
{
    m_paste = receiver;
    m_pasteUser = user;
}

int32_t CKeyboard::AddKeyToQueue(uint16_t key, int16_t flags, int16_t addModifiers)
{
    if (key == 0)
        return FALSE;
    uint32_t f = static_cast<uint16_t>(flags);
    if (addModifiers == 1) {
        struct Side {
            uint16_t key;
            uint32_t bit;
        };
        static constexpr Side kSides[] = {{XKEY_LCTRL, XKEYF_LCTRL},   {XKEY_RCTRL, XKEYF_RCTRL},
                                          {XKEY_LALT, XKEYF_LALT},     {XKEY_RALT, XKEYF_RALT},
                                          {XKEY_LSHIFT, XKEYF_LSHIFT}, {XKEY_RSHIFT, XKEYF_RSHIFT}};
        for (const Side& s : kSides)
            if (keyState[s.key] & 1)
                f |= s.bit;
    }
    const auto next = static_cast<uint16_t>((writeIndex + 1) % XKEY_QUEUE_SIZE);
    const bool stored = next != readIndex % XKEY_QUEUE_SIZE;
    if (stored) {
        queue[writeIndex % XKEY_QUEUE_SIZE] = TQueueChar{key, f};
        writeIndex = next;
    }
    // Ctrl+V pastes once per press, not again as the key comes up.
    if (key == 22 && (f & XKEYF_DOWN))
        Paste();
    return stored ? TRUE : FALSE;
}

void CKeyboard::SetKeyState(uint16_t key, int16_t down)
{
    if (key == 0 || key >= XKEY_STATES)
        return;
    uint8_t& s = keyState[key];
    if (down != 0 && !(s & 1)) {
        s |= 3;
        ++downCount;
    } else if (down == 0 && (s & 1)) {
        s &= static_cast<uint8_t>(~1);
        if (downCount > 0)
            --downCount;
    }
}

void CKeyboard::Paste()
{
    if (m_paste == nullptr)
        return;
    const int32_t length = tvp::GetClipboardText(nullptr, 0);
    if (length <= 0)
        return;
    auto* text = static_cast<char*>(XALLOC(static_cast<uint32_t>(length) + 1));
    if (text == nullptr)
        return;
    tvp::GetClipboardText(text, length + 1);
    m_paste(text, m_pasteUser);
    XFREE(text);
}

int32_t CKeyboard::WinMsgHandler(HWND, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    if (msg == WM_KEYDOWN || msg == WM_KEYUP || msg == WM_SYSKEYDOWN || msg == WM_SYSKEYUP)
        KeyEvent(wParam, static_cast<uint32_t>(lParam));
    return 0;
}

uint16_t CKeyboard::TranslateKey(uint32_t vk, bool shift, bool ctrl, bool alt, bool capsLock)
{
    if (ctrl && alt)
        return 0;
    if (vk >= 'A' && vk <= 'Z') {
        if (ctrl)
            return static_cast<uint16_t>(vk - 'A' + 1);
        return static_cast<uint16_t>(shift != capsLock ? vk : vk + ('a' - 'A'));
    }
    if (ctrl) {
        for (const ControlChar& c : kControlChars)
            if (c.vk == vk)
                return c.ch;
        return 0;
    }
    if (vk >= 0x60 && vk <= 0x69)
        return static_cast<uint16_t>('0' + (vk - 0x60));
    for (const Printable& p : kPrintables)
        if (p.vk == vk)
            return static_cast<uint8_t>(shift ? p.shifted : p.plain);
    return 0;
}

void CKeyboard::KeyEvent(uint32_t vk, uint32_t keyData)
{
    if (vk > 0xFF)
        return;
    const bool down = (keyData & kKeyUp) == 0;
    const auto downFlag = static_cast<int16_t>(down ? 1 : 0);

    // The side of Shift, Ctrl and Alt: from side-specific virtual keys, or
    // from the key data (right Shift has its own scan code, right Ctrl and
    // right Alt are extended keys).
    uint32_t sideVk = 0;
    if (vk >= VK_LSHIFT && vk <= VK_RMENU) {
        sideVk = vk;
        vk = VK_SHIFT + (vk - VK_LSHIFT) / 2;
    } else if (vk == VK_SHIFT) {
        sideVk = ((keyData >> 16) & 0xFF) == kRightShiftScan ? VK_RSHIFT : VK_LSHIFT;
    } else if (vk == VK_CONTROL) {
        sideVk = (keyData & kExtended) ? VK_RCONTROL : VK_LCONTROL;
    } else if (vk == VK_MENU) {
        sideVk = (keyData & kExtended) ? VK_RMENU : VK_LMENU;
    }
    auto setDown = [&](uint32_t k, bool d) {
        m_vkState[k] = static_cast<uint8_t>(d ? (m_vkState[k] | kDown) : (m_vkState[k] & ~kDown));
    };
    const bool wasDown = (m_vkState[sideVk != 0 ? sideVk : vk] & kDown) != 0;
    if (sideVk != 0) {
        setDown(sideVk, down);
        const uint32_t left = VK_LSHIFT + (vk - VK_SHIFT) * 2;
        setDown(vk, ((m_vkState[left] | m_vkState[left + 1]) & kDown) != 0);
    } else {
        setDown(vk, down);
    }
    if ((vk == VK_CAPITAL || vk == VK_NUMLOCK) && down && !wasDown)
        m_vkState[vk] ^= kToggled;

    // The character first.
    const uint16_t ch = TranslateKey(vk, m_vkState[VK_SHIFT] & kDown, m_vkState[VK_CONTROL] & kDown,
                                     m_vkState[VK_MENU] & kDown, m_vkState[VK_CAPITAL] & kToggled);
    if (ch != 0)
        AddKeyToQueue(ch, downFlag, 1);

    if (vk >= kTableSize || kVkToXkey[vk] == 0)
        return;
    uint16_t code = kVkToXkey[vk];
    for (const SidePair& p : kPairs) {
        if (code != p.generic)
            continue;
        // The key data names the side that moved; asking which side is down
        // could not tell the second side of a pair pressed from the first.
        code = sideVk == p.leftVk ? p.left : p.right;
        SetKeyState(code, downFlag);
        if ((IsPressed(p.left) || IsPressed(p.right)) && !IsPressed(p.generic)) {
            AddKeyToQueue(p.generic, 1, 1);
            SetKeyState(p.generic, 1);
        } else if (!IsPressed(p.left) && !IsPressed(p.right) && IsPressed(p.generic)) {
            AddKeyToQueue(p.generic, 0, 1);
            SetKeyState(p.generic, 0);
        }
    }
    if (ch == 0)
        AddKeyToQueue(code, downFlag, 1);
    SetKeyState(code, downFlag);
}
