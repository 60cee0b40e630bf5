// The library frame: the two global records, start-up and shut-down, the
// per-frame handler with its pacing, window-message and library-message
// dispatch, and the small services beside them (time, dates, random
// numbers, identifiers, global flags, priorities, the load-data callback).
#pragma once

#include <tarvex/export.h>

#include <tarvex/error.h>
#include <tarvex/llist.h>
#include <tarvex/memory.h>

// Objects of later modules, held by pointer in the records.
class CJPGPic;
class CBMPPic;
class CDibScreen;
class CDxScreen;
class CPicTypeList;
class CScreenBaseList;
class CScreenBase;
class CWinCtrl;
class CWindow;
class CButton;
class CStatic;
class CKeyboard;
class CMouse;
class CPalette;

// The music object of the sound module: its Ticker runs once per frame.
class TARVEX_API CMusicTicker
{
  public:
    virtual void Ticker() = 0;
    virtual ~CMusicTicker() = default;
};

constexpr int32_t XGLOBAL_VARS = 4096;
constexpr int32_t XAPPNAME_SIZE = 160;
constexpr int32_t XERRORBUF_SIZE = 2048;

struct TARVEX_API SSysGlobals {
    CJPGPic* jpgPic = nullptr;
    CBMPPic* bmpPic = nullptr;
    CDibScreen* dibScreen = nullptr;
    CDxScreen* dxScreen = nullptr;
    HWND mainWindow = nullptr;
    HDC windowDC = nullptr;
    uint32_t windowClass = 0;         // atom of the registered window class
    CLList* winMsgHandlers = nullptr; // SWinMsgEntry*, created on first use
    int32_t socketsStarted = 0;
    CMusicTicker* music = nullptr;
};

struct TARVEX_API SGlobals {
    char applicationName[XAPPNAME_SIZE];
    XDebugOutFunc dbgStdOut;
    XDebugOutFunc dbgLvlOut;
    int32_t debugFlag;
    int32_t debugLevel;
    CKeyboard* keyboard;
    CMouse* mouse;
    uint8_t table160[160];
    uint32_t spare1[3];

    CError error; // the library-wide last error
    char errorBuffer[XERRORBUF_SIZE];

    CMemory* memory;
    CPicTypeList* picTypes;
    CScreenBaseList* screens;
    CWinCtrl* rootWindow;
    void (*freeRootWindow)(); // unused; the root is freed by xFreeGlobals
    CLList* msgHandlers;      // SMsgEntry*, descending priority
    CLList* freeAtExit;       // tracked blocks released by xFreeGlobals
    uint8_t* colorMatch;      // cached colour-match table (32768 bytes) of currentPalette
    CPalette* currentPalette; // copy of the palette colorMatch was built for, released by xExit
    uint16_t* squares;        // 256 entries, entry i = i * i
    CScreenBase* screen;      // the active screen

    uint8_t scratch[512];

    CLList* localClients;
    CLList* localServers;
    CLList* remoteClients;
    CLList* remoteServers;

    CLList* commNodes;
    CWindow* msgBoxWindow;
    CButton* msgBoxButton;
    CStatic* msgBoxText;
    uint32_t spare2;

    // Frame pacing.
    int32_t minimumFrameTime; // ms, 0 = no pacing
    int32_t updateTime;       // ms per update tick
    float tickRemainder;      // ms carried to the next frame
    int32_t updateTicks;      // update ticks due this frame
    int32_t spare3[2];
    uint32_t lastFrameTime;

    CLList* activeTimers;
    CLList* pendingTimers;

    // Shading and colour tables (bitmaps and palettes, see shade.h).
    int32_t shadeLayout16[6];  // Set16Bit: red shift, 8 - red bits, green..., blue...
    uint16_t* shadeCube;       // 96 x 96 x 96 5-5-5 colours, channels -32..63 clamped
    uint16_t** shadePointers;  // 65536: 5-5-5 colour -> its place in the shade cube
    int32_t shadeSteps[4][32]; // level k: k x 9216, k x 96, k, k x 9313
    uint16_t* lightCube;       // 64 x 64 x 64 5-5-5 colours, channels 0..63 clamped at 31
    uint16_t** lightPointers;  // 65536: 5-5-5 colour -> its place in the light cube
    uint16_t* shadowMap;       // 32768: 5-5-5 colour -> its shadow
    uint16_t* rgb555ToScreen;  // 32768: 5-5-5 colour -> the screen's 16-bit layout
    uint8_t shadeLevel24[768]; // 0 x 256, 0..255, 255 x 256
    int32_t shadeReady;        // PreCalcShade has run

    // CRC tables: one for xCalcCrc, one for xCalcFileCrc, each with the
    // polynomial it was built for.
    uint32_t crcTable[256];
    uint32_t crcPoly;
    int32_t crcValid;
    uint32_t fileCrcTable[256];
    uint32_t fileCrcPoly;
    int32_t fileCrcValid;

    int32_t debugScreen;
    int32_t validate;
    int32_t byteOrder; // 0 untested, 1 big-endian, 2 little-endian

    uint8_t userWantsToQuit;
    uint32_t uidCounter;
    void (*loadDataCallback)();
    uint8_t globalVars[XGLOBAL_VARS];

    int32_t socketWaitMode;
    // Comm objects whose sockets the socket wait watches, and the proxy
    // connections and servers (created by CommBaseStartup).
    CLList* localClient_socket_RegList;
    CLList* remoteClient_socket_RegList;
    CLList* localServer_socket_RegList;
    CLList* remoteServer_socket_RegList;
    CLList* proxyConnRegList;
    CLList* proxyServRegList;
    const char* allocFile; // tracked-allocation position
    int32_t allocLine;

    SGlobals();
    SGlobals(const SGlobals&) = default;
    SGlobals& operator=(const SGlobals&) = default;
};

// Set by the application before xCreateGlobals.
extern TARVEX_API SGlobals* glb;
extern TARVEX_API SSysGlobals* sglb;
extern TARVEX_API HINSTANCE ThisInstance;

// Receivers of window messages.
class TARVEX_API CWinMsg
{
  public:
    virtual int32_t WinMsgHandler(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);
    virtual ~CWinMsg() = default;
};

// Receivers of library messages (2 = draw, 3 = input and clear).
class TARVEX_API CMsgSys
{
  public:
    CMsgSys() = default;
    CMsgSys(const CMsgSys&) = default;
    CMsgSys& operator=(const CMsgSys&) = default;
    virtual int32_t MsgHandler(uint32_t msg, int32_t p1, int32_t p2);
    virtual ~CMsgSys(); // removes every registration of the object
};

struct TARVEX_API SWinMsgEntry {
    CWinMsg* object;
    uint32_t msg;
};
struct TARVEX_API SMsgEntry {
    CMsgSys* object;
    uint32_t msg;
    int32_t priority;
};

enum : uint32_t { XMSG_DRAW = 2, XMSG_CLEAR = 3 };

// Start and stop.
TARVEX_API int32_t xCreateGlobals();
TARVEX_API int32_t xInit(int argc, char** argv);
TARVEX_API int32_t xHandler();
TARVEX_API void xExit();
TARVEX_API void xFreeGlobals();
TARVEX_API char* GetApplicationName();
TARVEX_API void SetApplicationName(const char* name);
TARVEX_API int32_t xDoUserWantToQuit();
TARVEX_API void xSetUserWantToQuit(uint8_t flag);
TARVEX_API void SetMinimumFrameTime(int32_t ms);
TARVEX_API void SetUpdateTime(int32_t ms);
TARVEX_API void xSetXHandlerWaitMode(int32_t mode);
TARVEX_API void SetLoadDataCallback(void (*callback)());
// The comm layer's client rounds (installed by CommBaseStartup): xHandler
// runs three rounds per frame, the default load-data callback one. Returns
// the number of packets that came in.
TARVEX_API void xSetCommClientRounds(int32_t (*rounds)(int32_t count));
TARVEX_API void DefaultLoadDataCallback();
// The library's main window procedure.
TARVEX_API int32_t xMainWindowProc(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam);

// Messages.
TARVEX_API int32_t RegisterWinMsg(CWinMsg* obj, uint32_t msg);
TARVEX_API void UnRegisterWinMsg(CWinMsg* obj, uint32_t msg);
TARVEX_API void UnRegisterWinMsgAll(CWinMsg* obj);
TARVEX_API int32_t RegisterMsg(CMsgSys* obj, uint32_t msg, int32_t priority);
TARVEX_API int32_t SendMsg(uint32_t msg, int32_t p1, int32_t p2);
TARVEX_API void UnRegisterMsg(CMsgSys* obj, uint32_t msg, int32_t priority);
TARVEX_API void UnRegisterMsgAll(CMsgSys* obj);

// Time and dates.
TARVEX_API uint32_t xGetTime();
TARVEX_API void xSleep(uint32_t ms);
TARVEX_API uint32_t xTimeDiff(uint32_t from, uint32_t to);
TARVEX_API char* xGetDateString();
TARVEX_API int32_t xGetDateInfo(int32_t& sec, int32_t& min, int32_t& hour, int32_t& mday, int32_t& mon, int32_t& year,
                     int32_t& wday, int32_t& yday, int32_t& isdst);

// Random numbers and identifiers.
TARVEX_API void xSeedRandomizer(int32_t seed);
TARVEX_API uint32_t xSysRand();
TARVEX_API uint32_t xRand32();
TARVEX_API uint32_t xRand(uint32_t n);
TARVEX_API void xGetUID(uint32_t& a, uint32_t& b, uint32_t& c);

// Global flags, valid indices 1..4095.
TARVEX_API int32_t GlobalVar_IsFalse(int32_t i);
TARVEX_API int32_t GlobalVar_IsTrue(int32_t i);
TARVEX_API void GlobalVar_SetFalse(int32_t i);
TARVEX_API void GlobalVar_SetTrue(int32_t i);

// Process and priority.
TARVEX_API uint32_t xGetProcessId();
TARVEX_API int32_t TryCreateNewProcess(int32_t& a, int32_t& b);
TARVEX_API int32_t xGetPriority(int32_t& p);
TARVEX_API int32_t xSetPriority(int32_t p);
TARVEX_API int32_t xIncPriority(int32_t d);
TARVEX_API int32_t xDecPriority(int32_t d);
