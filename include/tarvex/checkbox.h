// Check boxes and radio buttons with their group box. A check box toggles
// between checked (6) and not checked (7) once per press or hotkey; a radio
// button is selected by a click and its group box deselects the others.
#pragma once

#include <tarvex/export.h>

#include <tarvex/static.h>

// The two states of check boxes and radio buttons.
enum : int32_t {
    XGUI_CHECKED = 6,
    XGUI_UNCHECKED = 7,
};

class TARVEX_API CCheckbox : public CButton
{
  public:
    int32_t look = 0; // 0: the default look (the root's check mark)
    using CButton::Create;
    // look 0 adds CNTRL_HASBITMAP and CNTRL_BMTRANS; CNTRL_CHECKED starts
    // checked, otherwise the box starts not checked.
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t look,
                   int16_t hotkey, int32_t flags);
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t SetPos(int32_t px, int32_t py) override;
    int32_t SetSize(int32_t w, int32_t h) override;
    // Enabling (released) gives back checked or not checked, never the
    // push-button states.
    int32_t SetState(int32_t s) override;
    // Checked (1) or not (0); SetChecked changes the state without a note.
    int32_t IsChecked() { return state == XGUI_CHECKED ? 1 : 0; }
    int32_t SetChecked(int32_t on);
    int32_t GetSelected() override { return IsChecked(); }
    int32_t SetSelected(int32_t on) override { return SetChecked(on); }
    // The mouse area follows position and size.
    int32_t UpdateMouseArea();

  protected:
    // The toggle of a press or hotkey: the new state and its note.
    int32_t Toggle(int32_t* notes, int32_t& count);
    // The box (or the state bitmap) and the caption beside it.
    void DrawBox(int32_t l, int32_t t, int32_t side, int32_t round);
    int32_t BoxSide();
    // The face, then the box (round or square) at the left and the caption
    // beside it.
    int32_t DrawBoxed(int32_t wx, int32_t wy, int32_t how, int32_t round);
};

class CGroupbox;

class TARVEX_API CRadiobutton : public CCheckbox
{
  public:
    CGroupbox* group = nullptr;
    ~CRadiobutton() override;
    using CCheckbox::Create;
    // value: the look value as for a check box.
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t value,
                   int16_t hotkey, int32_t flags);
    int32_t Destroy() override;
    using CCheckbox::SetParent;
    int32_t SetParent(int32_t id, CWindowBase* win, CGroupbox* box);
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    // Selects this button as a click does (notes 6, and 7 from the others).
    int32_t Select();
    int32_t SetSelected(int32_t on) override;

  private:
    void SelectInto(int32_t* notes, int32_t& count);
};

// A titled frame around a group of radio buttons (and any other controls);
// the members are lent, not owned.
class TARVEX_API CGroupbox : public CControlBase
{
  public:
    CLList members; // CControlBase*
    ~CGroupbox() override;
    using CControlBase::Create;
    int32_t Create(int32_t id, const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t flags);
    int32_t Destroy() override;
    int32_t Add(CControlBase* c);
    int32_t Remove(CControlBase* c);
    int32_t NumMembers() { return members.GetNumNodes(); }
    // The id of the selected radio button, 0 when none.
    int32_t GetSelected() override;
    // Selects the member radio button with that id (0 deselects all).
    int32_t SetSelected(int32_t memberId) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
};
