// The library frame: the global records, start-up and shut-down, the main
// window and its procedure, window-message and library-message dispatch,
// and the per-frame handler with its pacing.
#include <tarvex/frame.h>
#include <tarvex/timer.h>

#include "platform/platform.h"
#include "core/guihooks.h"
#include "core/layerhooks.h"

#include <cstring>
#include <vector>

SGlobals* glb = nullptr;
SSysGlobals* sglb = nullptr;
HINSTANCE ThisInstance = nullptr;

namespace {
// Largest gap between two frames that is turned into update ticks.
constexpr uint32_t kMaxFrameGap = 250;
// The comm layer's client rounds, when it is started.
int32_t (*g_commRounds)(int32_t) = nullptr;

// SDL's log lines join the debug trace, where the program sends them.
void SdlLogLine(const char* line) { dprintf("%s\n", line); }
} // namespace

// Zero until the layers' static initialisers fill them at load time.
SGuiHooks g_guiHooks = {};
SGfxHooks g_gfxHooks = {};
SInputHooks g_inputHooks = {};
SCommHooks g_commHooks = {};

SGlobals::SGlobals()
{
    // Every table, pointer and counter starts at zero.
    std::memset(applicationName, 0, sizeof applicationName);
    std::strcpy(applicationName, "Noname");
    dbgStdOut = xDefaultDbgStdOut;
    dbgLvlOut = xDefaultDbgLvlOut;
    debugFlag = debugLevel = 0;
    keyboard = nullptr;
    mouse = nullptr;
    std::memset(table160, 0, sizeof table160);
    std::memset(spare1, 0, sizeof spare1);
    error.Clear();
    std::memset(errorBuffer, 0, sizeof errorBuffer);
    memory = nullptr;
    picTypes = nullptr;
    screens = nullptr;
    rootWindow = nullptr;
    freeRootWindow = nullptr;
    msgHandlers = nullptr;
    freeAtExit = nullptr;
    colorMatch = nullptr;
    currentPalette = nullptr;
    squares = nullptr;
    screen = nullptr;
    std::memset(scratch, 0, sizeof scratch);
    localClients = localServers = remoteClients = remoteServers = nullptr;
    commNodes = nullptr;
    msgBoxWindow = nullptr;
    msgBoxButton = nullptr;
    msgBoxText = nullptr;
    spare2 = 0;
    minimumFrameTime = 0;
    updateTime = 0;
    tickRemainder = 0.0f;
    updateTicks = 0;
    spare3[0] = spare3[1] = 0;
    lastFrameTime = 0;
    activeTimers = pendingTimers = nullptr;
    std::memset(shadeLayout16, 0, sizeof shadeLayout16);
    shadeCube = nullptr;
    shadePointers = nullptr;
    std::memset(shadeSteps, 0, sizeof shadeSteps);
    lightCube = nullptr;
    lightPointers = nullptr;
    shadowMap = nullptr;
    rgb555ToScreen = nullptr;
    std::memset(shadeLevel24, 0, sizeof shadeLevel24);
    shadeReady = 0;
    std::memset(crcTable, 0, sizeof crcTable);
    crcPoly = 0;
    crcValid = 0;
    std::memset(fileCrcTable, 0, sizeof fileCrcTable);
    fileCrcPoly = 0;
    fileCrcValid = 0;
    debugScreen = validate = byteOrder = 0;
    userWantsToQuit = 0;
    uidCounter = 0;
    loadDataCallback = nullptr;
    std::memset(globalVars, 0, sizeof globalVars);
    socketWaitMode = 0;
    localClient_socket_RegList = remoteClient_socket_RegList = nullptr;
    localServer_socket_RegList = remoteServer_socket_RegList = nullptr;
    proxyConnRegList = proxyServRegList = nullptr;
    allocFile = nullptr;
    allocLine = 0;
}

// ---------------------------------------------------------------- start and stop

int32_t xCreateGlobals()
{
    if (glb == nullptr)
        return FALSE;
    tvp::RouteSdlLog(SdlLogLine);
    glb->memory = XNEW(CMemory);
    const bool lists = g_gfxHooks.createLists == nullptr || g_gfxHooks.createLists();
    if (g_guiHooks.createRoot != nullptr)
        glb->rootWindow = g_guiHooks.createRoot();
    glb->squares = static_cast<uint16_t*>(XALLOC(514));
    if (g_guiHooks.createMsgBox != nullptr)
        g_guiHooks.createMsgBox();
    if (glb->memory == nullptr || !lists || glb->rootWindow == nullptr || glb->squares == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, nullptr, 0);
    for (uint16_t i = 0; i < 256; ++i)
        glb->squares[i] = static_cast<uint16_t>(i * i);
    return TRUE;
}

int32_t xInit(int, char**)
{
    if (glb == nullptr || sglb == nullptr)
        return FALSE;
    if (g_gfxHooks.createScreens != nullptr && !g_gfxHooks.createScreens())
        return xError_Func(XERR_OUT_OF_MEMORY, nullptr, 0);
    if (g_inputHooks.create != nullptr && !g_inputHooks.create())
        return xError_Func(XERR_OUT_OF_MEMORY, nullptr, 0);
    if (g_guiHooks.inputReady != nullptr)
        g_guiHooks.inputReady();
    if (!tvp::VideoStartup())
        return xErrorTxt_Func("RegisterClass failed", nullptr, 0);
    uint16_t atom = tvp::RegisterClass(glb->applicationName, xMainWindowProc, CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS);
    if (atom == 0) {
        tvp::VideoShutdown();
        return xErrorTxt_Func("RegisterClass failed", nullptr, 0);
    }
    sglb->windowClass = atom;
    sglb->mainWindow = tvp::CreateWindow(glb->applicationName, glb->applicationName, WS_POPUP, 0, 0, 1, 1);
    if (sglb->mainWindow == nullptr)
        return FALSE;
    tvp::ShowWindow(sglb->mainWindow, SW_SHOWDEFAULT);
    tvp::UpdateWindow(sglb->mainWindow);
    sglb->windowDC = tvp::GetDC(sglb->mainWindow);
    if (sglb->windowDC == nullptr)
        return FALSE;
    // Only screens that are available stay.
    if (g_gfxHooks.keepShowable != nullptr)
        g_gfxHooks.keepShowable();
    // The first frame counts from here, not from the clock's zero.
    glb->lastFrameTime = xGetTime();
    return TRUE;
}

void xExit()
{
    if (sglb == nullptr)
        return;
    // The GUI root stays until xFreeGlobals; it lets go of the keyboard
    // here, while the keyboard still exists.
    if (glb != nullptr && g_guiHooks.inputGone != nullptr)
        g_guiHooks.inputGone();
    if (g_commHooks.cleanupSockets != nullptr)
        g_commHooks.cleanupSockets();
    // The screen goes while the window system it shows through still runs.
    if (g_gfxHooks.freeScreens != nullptr)
        g_gfxHooks.freeScreens();
    // Whatever goes later (the GUI root, windows left in it) must not reach
    // a screen that is gone.
    if (glb != nullptr)
        glb->screen = nullptr;
    if (sglb->windowDC != nullptr) {
        tvp::ReleaseDC(sglb->mainWindow, sglb->windowDC);
        sglb->windowDC = nullptr;
    }
    if (sglb->mainWindow != nullptr) {
        tvp::DestroyWindow(sglb->mainWindow);
        sglb->mainWindow = nullptr;
    }
    if (sglb->windowClass != 0) {
        tvp::UnregisterClass(glb != nullptr ? glb->applicationName : "");
        sglb->windowClass = 0;
        tvp::VideoShutdown();
    }
    // The current palette copy and its colour-match table, the picture
    // readers, then the mouse and the keyboard.
    if (g_gfxHooks.freeReaders != nullptr)
        g_gfxHooks.freeReaders();
    if (glb != nullptr && g_inputHooks.free != nullptr)
        g_inputHooks.free();
    if (sglb->winMsgHandlers != nullptr) {
        sglb->winMsgHandlers->KillAllData();
        XDELETE(sglb->winMsgHandlers);
        sglb->winMsgHandlers = nullptr;
    }
}

namespace {
void DeleteList(CLList*& list, bool withData)
{
    if (list == nullptr)
        return;
    if (withData)
        list->KillAllData();
    XDELETE(list);
    list = nullptr;
}
} // namespace

void xFreeGlobals()
{
    if (glb == nullptr)
        return;
    if (g_guiHooks.freeMsgBox != nullptr)
        g_guiHooks.freeMsgBox();
    if (glb->squares != nullptr) {
        XFREE(glb->squares);
        glb->squares = nullptr;
    }
    // The screen and picture-type lists, the shade tables the screens built
    // on demand, and a colour-match table built without xInit/xExit.
    if (g_gfxHooks.freeLists != nullptr)
        g_gfxHooks.freeLists();
    glb->screen = nullptr;
    if (glb->rootWindow != nullptr) {
        CWinCtrl* root = glb->rootWindow;
        glb->rootWindow = nullptr;
        glb->freeRootWindow = nullptr;
        if (g_guiHooks.freeRoot != nullptr)
            g_guiHooks.freeRoot(root);
    }
    DeleteList(glb->freeAtExit, true);
    DeleteList(glb->msgHandlers, true);
    DeleteList(glb->activeTimers, true);
    DeleteList(glb->pendingTimers, true);
    DeleteList(glb->commNodes, false);
    tvp::RouteSdlLog(nullptr);
    if (glb->memory != nullptr) {
        // The tracker goes last, so every release above is still tracked. It
        // was created before it existed, so its own block is a plain one.
        CMemory* m = glb->memory;
        XDELETE(m);
        glb->memory = nullptr;
    }
}

// ---------------------------------------------------------------- the frame

int32_t xHandler()
{
    xUpdateObjTimers();
    int32_t takenIn = g_commRounds != nullptr ? g_commRounds(3) : 0;
    if (glb != nullptr && glb->screen != nullptr && g_gfxHooks.flipPage != nullptr)
        g_gfxHooks.flipPage();

    tvp::Msg msg;
    while (tvp::PeekMessage(msg, true)) {
        if (msg.message == WM_QUIT) {
            if (sglb != nullptr && sglb->windowDC != nullptr) {
                tvp::ReleaseDC(sglb->mainWindow, sglb->windowDC);
                sglb->windowDC = nullptr;
            }
            return static_cast<int32_t>(msg.wParam);
        }
        tvp::TranslateMessage(msg);
        tvp::DispatchMessage(msg);
    }

    if (glb != nullptr) {
        uint32_t now = xGetTime();
        // Keep the last-frame stamp within [now - 250, now] (compared as a
        // 32-bit clock that may wrap).
        uint32_t behind = now - glb->lastFrameTime;
        if (static_cast<int32_t>(behind) < 0)
            glb->lastFrameTime = now;
        else if (behind > kMaxFrameGap)
            glb->lastFrameTime = now - kMaxFrameGap;
        uint32_t elapsed = now - glb->lastFrameTime;
        if (glb->minimumFrameTime != 0) {
            int32_t wait = glb->minimumFrameTime - static_cast<int32_t>(elapsed);
            if (wait > 1) {
                // With the socket wait mode on, traffic on any comm socket
                // ends the wait early, and packets that already came in this
                // frame skip it: the application answers them at once.
                if (glb->socketWaitMode != 0 && g_commHooks.waitTimeOrSockets != nullptr) {
                    if (takenIn == 0) {
                        g_commHooks.waitTimeOrSockets(static_cast<uint32_t>(wait));
                        // Woken by traffic: take it in now, so the
                        // application sees it this frame, not a frame later.
                        // The rounds go on while anything moves, so what
                        // taking it in queues (a reply from a receive
                        // callback, a packet routed on) leaves this frame too.
                        if (g_commRounds != nullptr &&
                            xTimeDiff(now, xGetTime()) < static_cast<uint32_t>(wait))
                            g_commRounds(3);
                    }
                } else
                    xSleep(static_cast<uint32_t>(wait));
            }
        }
        uint32_t after = xGetTime();
        glb->lastFrameTime = after;
        // The time spent waiting is real time too: it counts towards the
        // update ticks, so paced logic keeps up with the clock.
        uint32_t waited = after - now;
        if (waited > kMaxFrameGap)
            waited = 0;
        elapsed += waited;
        if (glb->updateTime > 0) {
            double total = static_cast<double>(elapsed) + static_cast<double>(glb->tickRemainder);
            auto n = static_cast<int32_t>(total / glb->updateTime);
            glb->updateTicks = n;
            glb->tickRemainder = static_cast<float>(total - static_cast<double>(n) * glb->updateTime);
        } else {
            // Without an update time every frame is one tick.
            glb->updateTicks = 1;
            glb->tickRemainder = 0.0f;
        }
    }

    if (glb != nullptr && glb->screen != nullptr && g_gfxHooks.clearBuffer != nullptr)
        g_gfxHooks.clearBuffer();
    if (sglb != nullptr && sglb->music != nullptr)
        sglb->music->Ticker();
    return 0;
}

// ---------------------------------------------------------------- dispatch helpers

namespace {

// The entries of a handler list that match, copied before any is called.
template <class Entry>
class Snapshot {
public:
    template <class Pred>
    Snapshot(CLList* list, Pred pred)
    {
        if (list == nullptr)
            return;
        for (SLListNode* n = list->first; n != nullptr; n = n->next) {
            auto* e = static_cast<Entry*>(n->data);
            if (pred(e))
                m_items.push_back(*e);
        }
    }
    size_t size() const { return m_items.size(); }
    const Entry& operator[](size_t i) const { return m_items[i]; }

private:
    std::vector<Entry> m_items;
};

template <class Entry, class Pred>
bool IsRegistered(CLList* list, Pred pred)
{
    if (list == nullptr)
        return false;
    for (SLListNode* n = list->first; n != nullptr; n = n->next)
        if (pred(static_cast<Entry*>(n->data)))
            return true;
    return false;
}

// Counts removals from the handler lists: a dispatch that saw none since
// its snapshot need not look each target up again (hundreds of sprites
// make that look-up the cost of a frame).
uint32_t g_handlerRemovals = 0;

// Removes the entries matching pred (only the first when once) and frees them.
template <class Entry, class Pred>
void RemoveEntries(CLList* list, Pred pred, bool once)
{
    if (list == nullptr)
        return;
    for (SLListNode* n = list->first; n != nullptr;) {
        SLListNode* next = n->next;
        auto* e = static_cast<Entry*>(n->data);
        if (pred(e)) {
            ++g_handlerRemovals;
            list->Unlink(n);
            XFREE(e);
            if (once)
                return;
        }
        n = next;
    }
}

} // namespace

// ---------------------------------------------------------------- window messages

int32_t CWinMsg::WinMsgHandler(HWND, uint32_t, uint32_t, int32_t) { return 0; }

int32_t xMainWindowProc(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    if (sglb == nullptr)
        return tvp::DefWindowProc(hwnd, msg, wParam, lParam);
    if (sglb->winMsgHandlers == nullptr)
        sglb->winMsgHandlers = XNEW(CLList);
    bool handled = false;
    int32_t result = 0;
    if (msg == WM_CLOSE) {
        xSetUserWantToQuit(1);
        handled = true;
    }
    // Handlers may register, unregister or delete receivers while being
    // called: call a snapshot, skipping receivers no longer registered.
    Snapshot<SWinMsgEntry> targets(sglb->winMsgHandlers, [&](SWinMsgEntry* e) { return e->msg == msg; });
    for (size_t i = 0; i < targets.size(); ++i) {
        CWinMsg* obj = targets[i].object;
        if (!IsRegistered<SWinMsgEntry>(sglb->winMsgHandlers,
                                        [&](SWinMsgEntry* e) { return e->object == obj && e->msg == msg; }))
            continue;
        handled = true;
        int32_t r = obj->WinMsgHandler(hwnd, msg, wParam, lParam);
        if (result == 0)
            result = r;
    }
    return handled ? result : tvp::DefWindowProc(hwnd, msg, wParam, lParam);
}

int32_t RegisterWinMsg(CWinMsg* obj, uint32_t msg)
{
    if (sglb == nullptr)
        return FALSE;
    if (sglb->winMsgHandlers == nullptr && (sglb->winMsgHandlers = XNEW(CLList)) == nullptr)
        return FALSE;
    CLList* list = sglb->winMsgHandlers;
    for (SLListNode* n = list->first; n != nullptr; n = n->next) {
        auto* e = static_cast<SWinMsgEntry*>(n->data);
        if (e->object == obj && e->msg == msg)
            return TRUE;
    }
    auto* e = static_cast<SWinMsgEntry*>(XALLOC(sizeof(SWinMsgEntry)));
    if (e == nullptr)
        return FALSE;
    *e = {obj, msg};
    if (!list->InsertLast(e)) {
        XFREE(e);
        return FALSE;
    }
    return TRUE;
}

void UnRegisterWinMsg(CWinMsg* obj, uint32_t msg)
{
    if (sglb != nullptr)
        RemoveEntries<SWinMsgEntry>(
            sglb->winMsgHandlers, [&](SWinMsgEntry* e) { return e->object == obj && e->msg == msg; }, true);
}

void UnRegisterWinMsgAll(CWinMsg* obj)
{
    if (sglb != nullptr)
        RemoveEntries<SWinMsgEntry>(sglb->winMsgHandlers, [&](SWinMsgEntry* e) { return e->object == obj; }, false);
}

// ---------------------------------------------------------------- library messages

CMsgSys::~CMsgSys() { UnRegisterMsgAll(this); }

int32_t CMsgSys::MsgHandler(uint32_t, int32_t, int32_t) { return 0; }

namespace {
CLList* MsgList()
{
    if (glb == nullptr)
        return nullptr;
    if (glb->msgHandlers == nullptr)
        glb->msgHandlers = XNEW(CLList);
    return glb->msgHandlers;
}
} // namespace

int32_t RegisterMsg(CMsgSys* obj, uint32_t msg, int32_t priority)
{
    CLList* list = MsgList();
    if (list == nullptr)
        return FALSE;
    if (IsRegistered<SMsgEntry>(list, [&](SMsgEntry* e) {
            return e->object == obj && e->msg == msg && e->priority == priority;
        }))
        return TRUE;
    auto* entry = static_cast<SMsgEntry*>(XALLOC(sizeof(SMsgEntry)));
    if (entry == nullptr)
        return FALSE;
    *entry = {obj, msg, priority};
    // Descending priority; equal priorities keep registration order.
    int16_t ok = FALSE;
    for (list->First(); list->Exists(); list->Next())
        if (static_cast<SMsgEntry*>(list->Get())->priority < priority) {
            ok = list->InsertBefore(entry);
            break;
        }
    if (!list->Exists())
        ok = list->InsertLast(entry);
    if (!ok) {
        XFREE(entry);
        return FALSE;
    }
    return TRUE;
}

int32_t SendMsg(uint32_t msg, int32_t p1, int32_t p2)
{
    CLList* list = MsgList();
    Snapshot<SMsgEntry> targets(list, [&](SMsgEntry* e) { return e->msg == msg; });
    const uint32_t removals = g_handlerRemovals;
    for (size_t i = 0; i < targets.size(); ++i) {
        const SMsgEntry& t = targets[i];
        if (removals == g_handlerRemovals || IsRegistered<SMsgEntry>(list, [&](SMsgEntry* e) {
                return e->object == t.object && e->msg == msg && e->priority == t.priority;
            }))
            t.object->MsgHandler(msg, p1, p2);
    }
    return targets.size() != 0 ? TRUE : FALSE;
}

void UnRegisterMsg(CMsgSys* obj, uint32_t msg, int32_t priority)
{
    if (glb != nullptr)
        RemoveEntries<SMsgEntry>(
            glb->msgHandlers,
            [&](SMsgEntry* e) {
                return e->object == obj && e->msg == msg && (priority == -1 || e->priority == priority);
            },
            true);
}

void UnRegisterMsgAll(CMsgSys* obj)
{
    if (glb != nullptr)
        RemoveEntries<SMsgEntry>(glb->msgHandlers, [&](SMsgEntry* e) { return e->object == obj; }, false);
}

// ---------------------------------------------------------------- settings

char* GetApplicationName()
{
    static char noname[] = "Noname";
    return glb != nullptr ? glb->applicationName : noname;
}

void SetApplicationName(const char* name)
{
    if (glb == nullptr || name == nullptr || std::strlen(name) > XAPPNAME_SIZE - 1)
        return;
    std::strcpy(glb->applicationName, name);
}

int32_t xDoUserWantToQuit() { return glb != nullptr ? glb->userWantsToQuit : 0; }

void xSetUserWantToQuit(uint8_t flag)
{
    if (glb != nullptr)
        glb->userWantsToQuit = flag;
}

void SetMinimumFrameTime(int32_t ms)
{
    if (glb != nullptr)
        glb->minimumFrameTime = ms;
}

void SetUpdateTime(int32_t ms)
{
    if (glb != nullptr)
        glb->updateTime = ms;
}

void xSetXHandlerWaitMode(int32_t mode)
{
    if (glb != nullptr)
        glb->socketWaitMode = mode;
}

void xSetCommClientRounds(int32_t (*rounds)(int32_t count)) { g_commRounds = rounds; }

void SetLoadDataCallback(void (*callback)())
{
    if (glb != nullptr)
        glb->loadDataCallback = callback;
}

void DefaultLoadDataCallback()
{
    static bool started = false;
    static uint32_t last = 0;
    uint32_t now = xGetTime();
    if (!started) {
        started = true;
        last = now;
    }
    if (xTimeDiff(last, now) > 100) {
        if (g_commRounds != nullptr)
            g_commRounds(1);
        last = now;
    }
}
