// The keyboard fed through the main window: key messages posted to the queue
// as the window system would make them, dispatched by xHandler, and what the
// key queue and the key-state table then say.
#include "platform/platform.h"
#include "tarvex_test.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

// Virtual keys and set-1 scan codes the cases use.
enum : uint32_t {
    VK_BACK = 0x08,
    VK_RETURN = 0x0D,
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12,
    VK_CAPITAL = 0x14,
    VK_SPACE = 0x20,
    VK_LEFT = 0x25,
    VK_LWIN = 0x5B,
    VK_NUMPAD7 = 0x67,
    VK_MULTIPLY = 0x6A,
    VK_F1 = 0x70,
    VK_OEM_2 = 0xBF,
    VK_OEM_7 = 0xDE,
};

// One key event as the window system reports it.
struct Ev {
    uint32_t vk;
    bool down;
    uint32_t scan = 0;
    bool extended = false;
};

// Shorthands: press, release, and both.
struct Keys {
    std::vector<Ev> events;
    Keys& Down(uint32_t vk, uint32_t scan = 0, bool ext = false)
    {
        events.push_back({vk, true, scan, ext});
        return *this;
    }
    Keys& Up(uint32_t vk, uint32_t scan = 0, bool ext = false)
    {
        events.push_back({vk, false, scan, ext});
        return *this;
    }
    Keys& Tap(uint32_t vk, uint32_t scan = 0, bool ext = false)
    {
        return Down(vk, scan, ext).Up(vk, scan, ext);
    }
};

// Scan codes of the side keys.
constexpr uint32_t kLShift = 0x2A, kRShift = 0x36, kCtrl = 0x1D, kAlt = 0x38;

struct Entry {
    uint16_t key;
    bool down;
    bool operator==(const Entry& o) const { return key == o.key && down == o.down; }
};

std::string Show(const std::vector<Entry>& v)
{
    std::string s;
    for (const Entry& e : v)
        s += std::to_string(e.key) + (e.down ? "v " : "^ ");
    return s;
}

std::string g_pasted;
int g_pastes = 0;
void CollectPaste(char* text, void* user)
{
    g_pasted += text;
    ++g_pastes;
    *static_cast<int*>(user) += 1;
}

class Keyboard : public tvtest::TarvexTest
{
  protected:
    Keyboard() : TarvexTest(true) {}
    void SetUp() override
    {
        TarvexTest::SetUp();
        ASSERT_NE(glb->keyboard, nullptr);
        Frame();
        glb->keyboard->Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);
    }

    CKeyboard& Kb() { return *glb->keyboard; }

    // Posts the events as key messages (Alt makes system keys) and runs a frame.
    void Send(const Keys& keys)
    {
        for (const Ev& e : keys.events) {
            uint32_t lp = 1u | ((e.scan & 0xFFu) << 16) | (e.extended ? 1u << 24 : 0u);
            if (!e.down)
                lp |= 0xC0000000u;
            const bool sys = e.vk == VK_MENU;
            const uint32_t msg =
                sys ? (e.down ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (e.down ? WM_KEYDOWN : WM_KEYUP);
            ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, e.vk, static_cast<int32_t>(lp)));
        }
        Frame();
    }
    void Frame() { xHandler(); }

    std::vector<Entry> Drain(std::vector<uint32_t>* flags = nullptr)
    {
        std::vector<Entry> out;
        TQueueChar q{};
        for (int i = 0; i < 200 && Kb().GetNext(&q); ++i) {
            out.push_back({q.key, (q.flags & XKEYF_DOWN) != 0});
            if (flags != nullptr)
                flags->push_back(q.flags);
        }
        return out;
    }
};

TEST_F(Keyboard, SideKeysQueueTheirSideAndTheGenericKey)
{
    struct Case {
        const char* name;
        Keys keys;
        std::vector<Entry> queued;
    };
    const Case cases[] = {
        {"left shift",
         Keys().Tap(VK_SHIFT, kLShift),
         {{XKEY_SHIFT, true}, {XKEY_LSHIFT, true}, {XKEY_SHIFT, false}, {XKEY_LSHIFT, false}}},
        {"right shift",
         Keys().Tap(VK_SHIFT, kRShift),
         {{XKEY_SHIFT, true}, {XKEY_RSHIFT, true}, {XKEY_SHIFT, false}, {XKEY_RSHIFT, false}}},
        {"left ctrl",
         Keys().Tap(VK_CONTROL, kCtrl),
         {{XKEY_CTRL, true}, {XKEY_LCTRL, true}, {XKEY_CTRL, false}, {XKEY_LCTRL, false}}},
        {"right ctrl",
         Keys().Tap(VK_CONTROL, kCtrl, true),
         {{XKEY_CTRL, true}, {XKEY_RCTRL, true}, {XKEY_CTRL, false}, {XKEY_RCTRL, false}}},
        {"left alt",
         Keys().Tap(VK_MENU, kAlt),
         {{XKEY_ALT, true}, {XKEY_LALT, true}, {XKEY_ALT, false}, {XKEY_LALT, false}}},
        {"right alt",
         Keys().Tap(VK_MENU, kAlt, true),
         {{XKEY_ALT, true}, {XKEY_RALT, true}, {XKEY_ALT, false}, {XKEY_RALT, false}}},
        // The generic key stays down until the last side comes up.
        {"both shifts overlapping",
         Keys().Down(VK_SHIFT, kLShift).Down(VK_SHIFT, kRShift).Up(VK_SHIFT, kLShift).Up(VK_SHIFT, kRShift),
         {{XKEY_SHIFT, true},
          {XKEY_LSHIFT, true},
          {XKEY_RSHIFT, true},
          {XKEY_LSHIFT, false},
          {XKEY_SHIFT, false},
          {XKEY_RSHIFT, false}}},
        // Side-specific virtual keys name their side themselves.
        {"side virtual keys",
         Keys().Tap(0xA1).Tap(0xA2),
         {{XKEY_SHIFT, true},
          {XKEY_RSHIFT, true},
          {XKEY_SHIFT, false},
          {XKEY_RSHIFT, false},
          {XKEY_CTRL, true},
          {XKEY_LCTRL, true},
          {XKEY_CTRL, false},
          {XKEY_LCTRL, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Send(c.keys);
        const auto got = Drain();
        EXPECT_EQ(got, c.queued) << Show(got);
        EXPECT_EQ(Kb().GetPressed(), 0);
        for (uint16_t k = XKEY_SHIFT; k <= XKEY_RALT; ++k)
            EXPECT_EQ(Kb().keyState[k] & 1, 0) << "key " << k << " left down";
    }
}

TEST_F(Keyboard, GenericKeyFollowsEitherSideAndFlagsNameTheSides)
{
    Send(Keys().Down(VK_SHIFT, kRShift));
    EXPECT_NE(Kb().IsPressed(XKEY_SHIFT), 0);
    EXPECT_NE(Kb().IsPressed(XKEY_RSHIFT), 0);
    EXPECT_EQ(Kb().IsPressed(XKEY_LSHIFT), 0);
    Send(Keys().Down(VK_CONTROL, kCtrl, true).Down('A', 0x1E).Up('A', 0x1E));
    std::vector<uint32_t> flags;
    auto got = Drain(&flags);
    ASSERT_EQ(got.size(), 6u) << Show(got);
    // Ctrl+A types 1, with the sides held named in the flags.
    EXPECT_EQ(got[4], (Entry{1, true}));
    EXPECT_EQ(flags[4], XKEYF_DOWN | XKEYF_RSHIFT | XKEYF_RCTRL);
    EXPECT_EQ(flags[5], XKEYF_RSHIFT | XKEYF_RCTRL);
    EXPECT_NE(Kb().IsPressed(XKEY_A), 0) << "the key state holds the key's code";
    EXPECT_EQ(Kb().IsPressed(XKEY_A), 0) << "went down once, reported once";
    EXPECT_EQ(Kb().GetPressed(), 4); // shift, right shift, ctrl, right ctrl
    Send(Keys().Up(VK_SHIFT, kRShift).Up(VK_CONTROL, kCtrl, true));
    EXPECT_EQ(Kb().GetPressed(), 0);
}

TEST_F(Keyboard, KeysTypeUsLayoutCharacters)
{
    struct Case {
        const char* name;
        Keys before; // modifiers pressed (or toggled) first
        uint32_t vk;
        uint32_t scan;
        std::vector<uint16_t> typed; // keys queued as down, modifiers left out
        Keys after;
    };
    const Keys none;
    const Keys shift = Keys().Down(VK_SHIFT, kLShift), unshift = Keys().Up(VK_SHIFT, kLShift);
    const Keys ctrl = Keys().Down(VK_CONTROL, kCtrl), unctrl = Keys().Up(VK_CONTROL, kCtrl);
    const Keys caps = Keys().Tap(VK_CAPITAL, 0x3A);
    const Case cases[] = {
        {"a", none, 'A', 0x1E, {'a'}, none},
        {"shift a", shift, 'A', 0x1E, {'A'}, unshift},
        {"caps a", caps, 'A', 0x1E, {'A'}, caps},
        {"caps shift a",
         Keys(caps).Down(VK_SHIFT, kLShift),
         'A',
         0x1E,
         {'a'},
         Keys(unshift).Tap(VK_CAPITAL, 0x3A)},
        {"caps 1", caps, '1', 0x02, {'1'}, caps},
        {"shift 1", shift, '1', 0x02, {'!'}, unshift},
        {"shift slash", shift, VK_OEM_2, 0x35, {'?'}, unshift},
        {"slash", none, VK_OEM_2, 0x35, {'/'}, none},
        {"shift quote", shift, VK_OEM_7, 0x28, {'"'}, unshift},
        {"ctrl z", ctrl, 'Z', 0x2C, {26}, unctrl},
        {"ctrl v", ctrl, 'V', 0x2F, {22}, unctrl},
        {"ctrl enter", ctrl, VK_RETURN, 0x1C, {10}, unctrl},
        {"ctrl alt q types nothing",
         Keys(ctrl).Down(VK_MENU, kAlt),
         'Q',
         0x10,
         {'Q'},
         Keys().Up(VK_MENU, kAlt).Up(VK_CONTROL, kCtrl)},
        {"alt x", Keys().Down(VK_MENU, kAlt), 'X', 0x2D, {'x'}, Keys().Up(VK_MENU, kAlt)},
        {"enter", none, VK_RETURN, 0x1C, {13}, none},
        {"backspace", none, VK_BACK, 0x0E, {8}, none},
        {"space", none, VK_SPACE, 0x39, {' '}, none},
        {"numpad 7", none, VK_NUMPAD7, 0x47, {'7'}, none},
        {"numpad *", none, VK_MULTIPLY, 0x37, {'*'}, none},
        {"left arrow", none, VK_LEFT, 0x4B, {XKEY_LEFT}, none},
        {"f1", none, VK_F1, 0x3B, {XKEY_F1}, none},
        {"windows key is not handled", none, VK_LWIN, 0x5B, {}, none},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Send(c.before);
        Drain();
        Send(Keys().Tap(c.vk, c.scan));
        Send(c.after);
        std::vector<uint16_t> typed;
        for (const Entry& e : Drain())
            if (e.down && (e.key < XKEY_SHIFT || e.key > XKEY_RALT) && e.key != XKEY_CAPSLOCK)
                typed.push_back(e.key);
        EXPECT_EQ(typed, c.typed);
        EXPECT_EQ(Kb().GetPressed(), 0);
    }
}

TEST_F(Keyboard, TypingAQueuesTheCharacterBothWaysAndRepeats)
{
    Send(Keys().Down('A', 0x1E).Down('A', 0x1E).Down('A', 0x1E));
    EXPECT_EQ(Kb().GetPressed(), 1) << "repeats are not new keys";
    Send(Keys().Up('A', 0x1E));
    EXPECT_EQ(Drain(), (std::vector<Entry>{{'a', true}, {'a', true}, {'a', true}, {'a', false}}));
    EXPECT_EQ(Kb().GetPressed(), 0);
    EXPECT_NE(Kb().IsPressed(XKEY_A), 0) << "pressed and released between two queries";
    EXPECT_EQ(Kb().IsPressed(XKEY_A), 0);
}

TEST_F(Keyboard, FullQueueDropsNewKeysAndKeepsUnreadOnes)
{
    // 127 keys fill the queue (one entry stays free); the 128th is dropped.
    for (int i = 0; i < 128; ++i)
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_KEYDOWN, 'A' + i % 26, 0x00000001));
    Frame();
    EXPECT_EQ(Kb().AddKeyToQueue(XKEY_F5, 1, 0), FALSE) << "full";
    TQueueChar q{};
    for (int i = 0; i < 127; ++i) {
        ASSERT_TRUE(Kb().GetNext(&q)) << i;
        ASSERT_EQ(q.key, 'a' + i % 26) << "entry " << i << " was overwritten";
    }
    EXPECT_FALSE(Kb().IsKeyWaiting());
    EXPECT_FALSE(Kb().GetNext(&q));
    // Room again, and the ring wraps around cleanly.
    for (uint16_t k = 1; k <= 3; ++k)
        EXPECT_EQ(Kb().AddKeyToQueue(static_cast<uint16_t>(XKEY_F1 + k), 1, 0), TRUE);
    EXPECT_EQ(Drain(), (std::vector<Entry>{{XKEY_F2, true}, {XKEY_F3, true}, {XKEY_F4, true}}));
}

TEST_F(Keyboard, ClearStateQueriesAndKeysBeyondTheTable)
{
    EXPECT_FALSE(Kb().GetNext(nullptr));
    EXPECT_EQ(Kb().AddKeyToQueue(0, 1, 0), FALSE) << "key 0 is no key";
    struct Case {
        uint16_t what;
        bool queueEmpty;
        bool statesEmpty;
    };
    const Case cases[] = {{0, false, false},
                          {XKEYCLEAR_QUEUE, true, false},
                          {XKEYCLEAR_STATES, false, true},
                          {XKEYCLEAR_QUEUE | XKEYCLEAR_STATES, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Send(Keys().Down('B', 0x30).Down(VK_F1, 0x3B));
        Kb().Clear(c.what);
        EXPECT_EQ(Kb().IsKeyWaiting() == FALSE, c.queueEmpty);
        EXPECT_EQ(Kb().GetPressed() == 0, c.statesEmpty);
        EXPECT_EQ(Kb().IsPressed(XKEY_F1) == 0, c.statesEmpty);
        Send(Keys().Up('B', 0x30).Up(VK_F1, 0x3B));
        Kb().Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);
    }
    // Codes beyond the table are never looked up.
    for (uint16_t key : {uint16_t(XKEY_STATES), uint16_t(400), uint16_t(0xFFFF)}) {
        Kb().SetKeyState(key, 1);
        EXPECT_EQ(Kb().IsPressed(key), 0) << key;
    }
    EXPECT_EQ(Kb().GetPressed(), 0);
    Kb().SetKeyState(XKEY_F24, 1);
    EXPECT_NE(Kb().IsPressed(XKEY_F24), 0) << "the last code has its entry";
}

TEST_F(Keyboard, CtrlVPastesClipboardTextOncePerPress)
{
    int calls = 0;
    g_pasted.clear();
    g_pastes = 0;
    // UTF-8 on the clipboard arrives in the 8-bit set; the euro sign has no place there.
    ASSERT_EQ(SDL_SetClipboardText("caf\xC3\xA9 \xE2\x82\xAC!"), 0) << SDL_GetError();
    Kb().SetPasteReceiver(CollectPaste, &calls);
    const Keys paste = Keys().Down(VK_CONTROL, kCtrl).Tap('V', 0x2F).Up(VK_CONTROL, kCtrl);
    Send(paste);
    EXPECT_EQ(g_pasted, "caf\xE9 ?!");
    EXPECT_EQ(calls, 1) << "pasted on the release too";
    const auto got = Drain();
    EXPECT_NE(std::find(got.begin(), got.end(), Entry{22, true}), got.end()) << "the key is queued as well";

    // Plain V, an empty clipboard and no receiver paste nothing.
    Send(Keys().Tap('V', 0x2F));
    ASSERT_EQ(SDL_SetClipboardText(""), 0);
    Send(paste);
    ASSERT_TRUE(tvp::SetClipboardText("again \xE9"));
    Kb().SetPasteReceiver(nullptr, nullptr);
    Send(paste);
    EXPECT_EQ(calls, 1);
    Kb().SetPasteReceiver(CollectPaste, &calls);
    Send(paste);
    EXPECT_EQ(g_pasted, "caf\xE9 ?!again \xE9");
    EXPECT_EQ(calls, 2);
}

TEST(KeyboardSetup, JoinsStartAndLeavesAtExit)
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok);
    EXPECT_NE(glb->keyboard, nullptr);
    EXPECT_NE(glb->mouse, nullptr);
    xExit();
    EXPECT_EQ(glb->keyboard, nullptr);
    EXPECT_EQ(glb->mouse, nullptr);
    EXPECT_EQ(g.Finish(), "") << "leak list not empty";
}

} // namespace
