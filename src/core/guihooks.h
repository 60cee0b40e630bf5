// Calls the frame makes into the GUI. The frame sits below the GUI, so it
// reaches the GUI root and the message box only through this table, which
// the GUI fills when the library loads (a static initialiser in the GUI's
// own source). A slot left empty means the GUI is not part of the build.
#pragma once

#include <cstdint>

class CWinCtrl;

struct SGuiHooks {
    CWinCtrl* (*createRoot)();   // a created root control, or null
    void (*freeRoot)(CWinCtrl*); // frees what createRoot made
    void (*createMsgBox)();      // fills the message-box slots of the globals
    void (*freeMsgBox)();        // window, then its button, then its text
    void (*inputReady)();        // the keyboard and mouse now exist
    void (*inputGone)();         // they are about to go
};

extern SGuiHooks g_guiHooks;
