// Text entry controls. CEdit is a one-line field with a caret: it takes
// keys while it has the focus and its window is active, keeps its text in an
// owned buffer of the maximum length plus the terminator and tells its
// window about keys (0), presses (1), clicks (2) and changes (20).
// CMultiEdit keeps its text as a list of rows, each with its own colour, and
// moves a caret by row and column; Enter splits a row, Backspace and Delete
// join rows at their ends. With CNTRL_EDITVSLIDER / CNTRL_EDITHSLIDER it
// owns a slider along its right / bottom edge that shows and moves the
// first visible row / pixel column.
#pragma once

#include <tarvex/export.h>

#include <tarvex/control.h>
#include <tarvex/slider.h>
#include <tarvex/window.h>

namespace tvgui
{
struct SAlive;
}

// The blink interval of the caret in milliseconds (the control's timer).
constexpr uint32_t XEDIT_CARET_MS = 500;
// The longest text a field (or a row) holds; larger maximum lengths are cut
// to it, so a buffer's size never overflows.
constexpr int32_t XEDIT_MAXLEN = 65535;
// The multi-line field's own sliders: ids relative to the field's id, and
// their thickness in pixels.
constexpr int32_t XMEDIT_VSLIDER = 10002;
constexpr int32_t XMEDIT_HSLIDER = 10003;
constexpr int32_t XMEDIT_SLIDERWIDTH = 14;

class TARVEX_API CEdit : public CControlBase
{
  public:
    int32_t maxLength = 0; // characters, terminator not counted
    int32_t caret = 0;     // index into the text
    int32_t caretOn = 0;   // blink phase
    int32_t scrollX = 0;   // pixels of text hidden on the left
    int32_t prevButtons = 0;
    int32_t grabbed = 0; // the left button went down inside

    CEdit() = default;
    ~CEdit() override;

    // The buffer holds maxLen characters and the terminator; text (may be
    // null) is copied, cut at maxLen. CNTRL_TABSTOP is always added.
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t maxLen,
                   int32_t flags);
    using CControlBase::Create;
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    void TimerHandler(uint32_t timerId) override;
    // Copies into the field's own buffer (cut at the maximum length); the
    // caret goes to the end.
    using CControlBase::SetText;
    int32_t SetText(char* p) override;
    int32_t PasteText(const char* p) override;
    int32_t ClearBuf();
    int32_t GetCaret() const;
    int32_t Length() const;

  private:
    tvgui::SAlive* alive = nullptr;
    TGuiKey lastKey{}; // the key record handed out with notification 0
    void Focus(int32_t on);
    int32_t CaretFromX(int32_t px);
    int32_t KeyDown(uint16_t key, void* record);
};

// One row of a multi-line field: its own text (owned) and colour.
struct TARVEX_API TRowEntry {
    char* text;
    int32_t size; // bytes of the buffer
    TRGBA color;
};

class TARVEX_API CMultiEdit : public CControlBase
{
  public:
    CLList rows;           // TRowEntry*, owned
    int32_t maxLength = 0; // characters per row
    int32_t caretRow = 0, caretCol = 0;
    int32_t upperLine = 0; // first visible row
    int32_t caretOn = 0;
    int32_t prevButtons = 0;
    int32_t grabbed = 0;
    int32_t leftPixel = 0;      // pixels of the rows hidden on the left
    CSlider* vslider = nullptr; // owned with CNTRL_EDITVSLIDER: the first visible row
    CSlider* hslider = nullptr; // owned with CNTRL_EDITHSLIDER: the first visible column
    static constexpr int32_t kMaxRows = 4096;

    CMultiEdit() = default;
    ~CMultiEdit() override;

    // text (may be null) is split into rows at line breaks; each row holds
    // up to maxLen characters. CNTRL_MULTILINE is added so the window hands
    // Enter to the field.
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t maxLen,
                   int32_t flags);
    using CControlBase::Create;
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    void TimerHandler(uint32_t timerId) override;
    int32_t SetParent(int32_t pid, CWindowBase* win) override;
    int32_t SetPos(int32_t px, int32_t py) override;
    int32_t SetSize(int32_t w, int32_t h) override;
    // The slider flags make or drop the field's sliders at once.
    int32_t SetFlag(int32_t f) override;
    int32_t RemoveFlag(int32_t f) override;

    int32_t AddNewLine(const char* line);
    int32_t DeleteFirstLine();
    int32_t SetTextOnLine(int32_t row, const char* line);
    char* GetTextOnLine(int32_t row);
    int32_t SetTextColorOnLine(int32_t row, TRGBA* color);
    // Replaces every row by the first len bytes of p (up to its terminator).
    int32_t SetTextBuffer(const char* p, int32_t len);
    // The rows joined by line breaks in the control's own buffer.
    int32_t GetTextBuffer(char*& out);
    char* GetTextBuffer(int32_t refresh) override;
    using CControlBase::SetText;
    int32_t SetText(char* p) override;
    int32_t PasteText(const char* p) override;
    int32_t KillText();
    int32_t GetNumRows() const { return rows.GetNumNodes(); }
    int32_t GetVisibleLines() const;
    int32_t GetUpperLineNr() const { return upperLine; }
    int32_t SetUpperLineNr(int32_t row);

  private:
    tvgui::SAlive* alive = nullptr;
    TGuiKey lastKey{};
    TRowEntry* Row(int32_t row);
    void FreeRows();
    TRowEntry* NewRow(const char* text, int32_t len);
    int32_t InsertRow(int32_t at, TRowEntry* e);
    void RemoveRow(int32_t row);
    int32_t RowLen(int32_t row);
    int32_t LineHeight() const;
    bool Fits(const char* text) const;
    // The rows' area inside the bevel, beside the sliders (field-relative).
    int32_t TextAreaWidth() const;
    int32_t TextAreaHeight() const;
    int32_t WidestRow();
    // Places the sliders and sets their ranges and values from the rows.
    void Layout();
    // Layout and a redraw, after the rows or the view changed.
    void Changed();
    // After a change of the flags in changed: makes or drops the sliders as
    // the flags now ask, and lays them out. 1.
    int32_t KeepSliders(int32_t changed);
    void Follow();
    void Focus(int32_t on);
    int32_t KeyDown(uint16_t key, void* record);
};
