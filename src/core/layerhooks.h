// Calls the frame makes into the layers above it at start-up, once per
// frame and at shut-down: the picture readers and screens (graphics), the
// mouse and keyboard (input) and the sockets (messaging). The frame sits
// below them, so it reaches them only through these tables, which each
// layer fills when the library loads (a static initialiser in its own
// source). A slot left empty means that layer is not part of the build, and
// the frame skips the call.
#pragma once

#include <cstdint>

struct SGfxHooks {
    bool (*createLists)();   // the picture-type list and the screen list
    void (*freeLists)();     // those, the shade tables and the colour match
    bool (*createScreens)(); // the picture readers and both screens
    void (*keepShowable)();  // the main window exists: drop screens the display lacks
    void (*freeScreens)();   // both screens, while the window system still runs
    void (*freeReaders)();   // the colour match and the picture readers
    void (*flipPage)();      // the current screen, if any
    void (*clearBuffer)();   // the current screen, if any
};

struct SInputHooks {
    bool (*create)(); // the mouse and the keyboard
    void (*free)();
};

struct SCommHooks {
    void (*cleanupSockets)();
    void (*waitTimeOrSockets)(uint32_t ms);
};

extern SGfxHooks g_gfxHooks;
extern SInputHooks g_inputHooks;
extern SCommHooks g_commHooks;
