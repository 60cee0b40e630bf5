// The keyboard: key codes, the queue of typed keys and the key-state table
// the application polls. CKeyboardBase holds the state and the queries;
// CKeyboard feeds it from the main window's key messages, resolving the left
// and right Shift, Ctrl and Alt keys and typing characters with a US layout
// of its own (Shift, Caps Lock, Ctrl+letter), and pastes clipboard text on
// Ctrl+V.
#pragma once

#include <tarvex/export.h>

#include <tarvex/frame.h>

// Key codes: printable keys are their upper-case characters; the rest start at 256.
enum : uint16_t {
    XKEY_NONE = 0,
    XKEY_BSPACE = 8,
    XKEY_TAB = 9,
    XKEY_ENTER = 13,
    XKEY_ESC = 27,
    XKEY_SPACE = 32,
    XKEY_MULTIPLY = 42,
    XKEY_ADD = 43,
    XKEY_DECIMAL = 44,
    XKEY_SUBTRACT = 45,
    XKEY_DOT = 46,
    XKEY_DIVIDE = 47,
    XKEY_0 = 48,
    XKEY_1,
    XKEY_2,
    XKEY_3,
    XKEY_4,
    XKEY_5,
    XKEY_6,
    XKEY_7,
    XKEY_8,
    XKEY_9,
    XKEY_A = 65,
    XKEY_B,
    XKEY_C,
    XKEY_D,
    XKEY_E,
    XKEY_F,
    XKEY_G,
    XKEY_H,
    XKEY_I,
    XKEY_J,
    XKEY_K,
    XKEY_L,
    XKEY_M,
    XKEY_N,
    XKEY_O,
    XKEY_P,
    XKEY_Q,
    XKEY_R,
    XKEY_S,
    XKEY_T,
    XKEY_U,
    XKEY_V,
    XKEY_W,
    XKEY_X,
    XKEY_Y,
    XKEY_Z,
    XKEY_TILDE = 115,
    XKEY_INSERT = 256,
    XKEY_DELETE = 257,
    XKEY_HOME = 258,
    XKEY_END = 259,
    XKEY_PAGEUP = 260,
    XKEY_PAGEDOWN = 261,
    XKEY_LEFT = 262,
    XKEY_UP = 263,
    XKEY_RIGHT = 264,
    XKEY_DOWN = 265,
    XKEY_SHIFT = 266,
    XKEY_LSHIFT = 267,
    XKEY_RSHIFT = 268,
    XKEY_CTRL = 269,
    XKEY_LCTRL = 270,
    XKEY_RCTRL = 271,
    XKEY_ALT = 272,
    XKEY_LALT = 273,
    XKEY_RALT = 274,
    XKEY_WIN = 275,
    XKEY_LWIN = 276,
    XKEY_RWIN = 277,
    XKEY_NUMLOCK = 278,
    XKEY_NPDIVIDE = 279,
    XKEY_NPMULTIPLY = 280,
    XKEY_NPSUBTRACT = 281,
    XKEY_NPADD = 282,
    XKEY_NPENTER = 283,
    XKEY_NPDECIMAL = 284,
    XKEY_NP0 = 285,
    XKEY_NP1,
    XKEY_NP2,
    XKEY_NP3,
    XKEY_NP4,
    XKEY_NP5,
    XKEY_NP6,
    XKEY_NP7,
    XKEY_NP8,
    XKEY_NP9,
    XKEY_PRINTSCR = 295,
    XKEY_SCROLL = 296,
    XKEY_BREAK = 297,
    XKEY_CAPSLOCK = 298,
    XKEY_F1 = 299,
    XKEY_F2,
    XKEY_F3,
    XKEY_F4,
    XKEY_F5,
    XKEY_F6,
    XKEY_F7,
    XKEY_F8,
    XKEY_F9,
    XKEY_F10,
    XKEY_F11,
    XKEY_F12,
    XKEY_F13,
    XKEY_F14,
    XKEY_F15,
    XKEY_F16,
    XKEY_F17,
    XKEY_F18,
    XKEY_F19,
    XKEY_F20,
    XKEY_F21,
    XKEY_F22,
    XKEY_F23,
    XKEY_F24,
};
// Entries of the key-state table: codes 0 .. XKEY_F24.
constexpr int32_t XKEY_STATES = XKEY_F24 + 1;
// Entries of the ring queue; one stays free, so 127 keys wait at most.
constexpr int32_t XKEY_QUEUE_SIZE = 128;

// TQueueChar flag bits.
enum : uint32_t {
    XKEYF_DOWN = 1, // 0: key up
    XKEYF_LCTRL = 2,
    XKEYF_RCTRL = 4,
    XKEYF_LALT = 8,
    XKEYF_RALT = 16,
    XKEYF_LSHIFT = 32,
    XKEYF_RSHIFT = 64,
};

// What Clear empties: the value 1 the queue, the value 2 the key states
// (and the count of keys down); 3 both.
enum : uint16_t { XKEYCLEAR_QUEUE = 1, XKEYCLEAR_STATES = 2 };

// One queued key: a character or an XKEY_* code, with XKEYF_* flags.
struct TARVEX_API TQueueChar {
    uint16_t key;
    uint32_t flags;
};

class TARVEX_API CKeyboardBase
{
  public:
    void* hook = nullptr;          // the platform's key source, for the derived class
    uint16_t downCount = 0;        // keys down now
    uint8_t keyState[XKEY_STATES]; // bit 0 down now, bit 1 went down since the last IsPressed
    uint16_t readIndex = 0;
    uint16_t writeIndex = 0;
    TQueueChar queue[XKEY_QUEUE_SIZE];

    CKeyboardBase();
    CKeyboardBase(const CKeyboardBase&) = default;
    CKeyboardBase& operator=(const CKeyboardBase&) = default;
    virtual ~CKeyboardBase() = default;

    // what: XKEYCLEAR_QUEUE and/or XKEYCLEAR_STATES.
    virtual void Clear(uint16_t what);
    virtual int32_t IsKeyWaiting();
    // TRUE and the oldest queued key; FALSE when none waits or out is null.
    virtual int32_t GetNext(TQueueChar* out);
    // Non-zero when the key is down or went down since the last query of it;
    // the query forgets the went-down. Codes beyond the table answer 0.
    virtual int32_t IsPressed(uint16_t key);
    virtual int32_t GetPressed();
    // Queues a key (0 is ignored); with addModifiers 1 the XKEYF_* bits of the
    // six side keys down now are added. FALSE when the queue is full: the key
    // is dropped and the unread keys stay as they are.
    virtual int32_t AddKeyToQueue(uint16_t key, int16_t flags, int16_t addModifiers) = 0;
    // Codes 0 and beyond the table are ignored.
    virtual void SetKeyState(uint16_t key, int16_t down) = 0;
};

// Receives pasted text (Ctrl+V with text on the clipboard). The GUI root
// installs one; without a receiver nothing is pasted.
using XPasteReceiver = void (*)(char* text, void* user);

class TARVEX_API CKeyboard : public CKeyboardBase, public CWinMsg
{
  public:
    // Registers for the key messages of the main window.
    CKeyboard();
    CKeyboard(const CKeyboard&) = default;
    CKeyboard& operator=(const CKeyboard&) = default;
    ~CKeyboard() override;

    int32_t AddKeyToQueue(uint16_t key, int16_t flags, int16_t addModifiers) override;
    void SetKeyState(uint16_t key, int16_t down) override;
    // Key messages (down and up, plain and system) run the key algorithm.
    int32_t WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam) override;

    void SetPasteReceiver(XPasteReceiver receiver, void* user);

    // The character a virtual key types with a US layout: Shift and Caps
    // Lock choose the case, Ctrl makes control characters (Ctrl+A = 1 ...
    // Ctrl+Z = 26), Ctrl with Alt types nothing. 0 when the key types nothing.
    static uint16_t TranslateKey(uint32_t vk, bool shift, bool ctrl, bool alt, bool capsLock);

  private:
    // One key event: virtual key and key data (scan code in bits 16-23,
    // extended-key bit 24, released bit 31).
    void KeyEvent(uint32_t vk, uint32_t keyData);
    void Paste();

    uint8_t m_vkState[256] = {}; // the platform's keys: 0x80 down, 0x01 toggled on
    XPasteReceiver m_paste = nullptr;
    void* m_pasteUser = nullptr;
};
