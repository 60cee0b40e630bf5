// Dialogs: a complete window built from a "Window" description of resource
// data (its create item, titlebar and frame items, then one chunk per
// control), with the application's access to the controls by id. Any
// failure while building destroys what was built, so a dialog is either
// whole or empty. Beside it the ready-made modal message box.
#pragma once

#include <tarvex/export.h>

#include <tarvex/resdata.h>
#include <tarvex/window.h>

// Type codes of the control kinds of a window description.
enum : int32_t {
    XDLG_STATIC = 0,
    XDLG_BUTTON = 1,
    XDLG_PROGRESS = 2,
    XDLG_GROUPBOX = 3,
    XDLG_RADIO = 4,
    XDLG_SLIDER = 5,
    XDLG_COMBOBOX = 6,
    XDLG_EDIT = 7,
    XDLG_CHECKBOX = 8,
    XDLG_SCROLLTEXT = 9,
    XDLG_TIMEOUT = 10,
    XDLG_LISTBOX = 11,
    XDLG_MULTIEDIT = 12,
    XDLG_URL = 13,
};

// Group boxes inside group boxes deeper than this are refused: a
// description must not be able to exhaust the stack.
constexpr int32_t XDLG_MAX_NESTING = 8;

// One control of a dialog.
struct TARVEX_API TGuiCtrl {
    int32_t type;
    int32_t id;
    CControlBase* cntrl; // owned
};

class TARVEX_API CDialog : public CWindow
{
  public:
    CLList guiCtrls; // TGuiCtrl*, in file order (a group box before its members)

    CDialog() = default;
    ~CDialog() override;

    using CWindow::Create;
    // Builds the window windowId of res and adds it to the GUI root with the
    // callback and user pointer; showFlags bit 0 keeps it hidden. FALSE
    // (reported on the error object) when anything fails; nothing is left
    // behind then.
    int32_t Create(CResData* res, int32_t windowId, XGuiCallback callback, int32_t showFlags, void* user);
    // The control with that id; -1: the one at the list's current position.
    CControlBase* GetCtrl(int32_t ctrlId);
    TGuiCtrl* GetGuiCtrl(int32_t ctrlId);
    int32_t First() { return guiCtrls.First(); }
    int32_t Exists() { return guiCtrls.Exists(); }
    int32_t Next() { return guiCtrls.Next(); }
    int32_t SetText(int32_t ctrlId, const char* text);
    char* GetTextBuffer(int32_t ctrlId, int32_t refresh);
    int32_t GetTextBufferSize(int32_t ctrlId);
    // Only for a "Progress" control; FALSE otherwise.
    int32_t SetValue(int32_t ctrlId, int32_t value);
    int32_t Destroy() override;

    // Used by the readers of the control kinds: reads the control chunk
    // that is current in res (type name, id name) and everything nested in
    // it. group: the group box the control goes into, or null for the
    // window. FALSE on failure (reported).
    int32_t ReadControl(CResData* res, CControlBase* group, int32_t depth);
    // "CreateStatic" items: a plain static from the item's own values.
    int32_t ReadCreateStatic(CResData* res, CControlBase* group);

  private:
    int32_t ReadWindowItems(CResData* res, int32_t windowId);
    int32_t ReadCommonItems(CResData* res, CControlBase* c, const char* idName, const char* kind);
    int32_t ReadAnimLines(CResData* res, CControlBase* c, const char* idName, const char* kind);
    int32_t Adopt(CControlBase* c, int32_t type, int32_t ctrlId, CControlBase* group);
};

// A modal box with the text and an "OK" button, run on xHandler until it
// is closed. TRUE when OK was pressed; FALSE when the box was closed
// otherwise, could not be made, or the application is asked to quit (the
// quit is posted again for the application's own loop).
TARVEX_API int32_t xMessageBox(const char* text, const char* title, int32_t flags);
