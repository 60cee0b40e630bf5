// Check boxes, radio buttons and group boxes.
#include <tarvex/checkbox.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

int32_t CCheckbox::Create(int32_t, char*, int32_t, int32_t, int32_t, int32_t, int32_t, int16_t, int32_t)
{
    return 0;
}
int32_t CCheckbox::GuiMsgHandler(int32_t, int32_t, int32_t, int32_t, void*) { return 0; }
int32_t CCheckbox::Draw(int32_t, int32_t, int32_t) { return 1; }
int32_t CCheckbox::SetPos(int32_t px, int32_t py) { return CButton::SetPos(px, py); }
int32_t CCheckbox::SetSize(int32_t w, int32_t h) { return CButton::SetSize(w, h); }
int32_t CCheckbox::SetChecked(int32_t) { return 0; }
int32_t CCheckbox::UpdateMouseArea() { return 0; }
void CCheckbox::DrawBox(int32_t, int32_t, int32_t, int32_t) {}
int32_t CCheckbox::BoxSide() { return 0; }

CRadiobutton::~CRadiobutton() = default;
int32_t CRadiobutton::Create(int32_t, char*, int32_t, int32_t, int32_t, int32_t, int32_t, int16_t, int32_t)
{
    return 0;
}
int32_t CRadiobutton::Destroy() { return CCheckbox::Destroy(); }
int32_t CRadiobutton::SetParent(int32_t pid, CWindowBase* win, CGroupbox*) { return SetParent(pid, win); }
int32_t CRadiobutton::GuiMsgHandler(int32_t, int32_t, int32_t, int32_t, void*) { return 0; }
int32_t CRadiobutton::Draw(int32_t, int32_t, int32_t) { return 1; }
int32_t CRadiobutton::Select() { return 0; }
int32_t CRadiobutton::SetSelected(int32_t) { return 0; }
void CRadiobutton::SelectInto(int32_t*, int32_t&) {}

CGroupbox::~CGroupbox() = default;
int32_t CGroupbox::Create(int32_t, char*, int32_t, int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t CGroupbox::Destroy() { return CControlBase::Destroy(); }
int32_t CGroupbox::Add(CControlBase*) { return 0; }
int32_t CGroupbox::Remove(CControlBase*) { return 0; }
int32_t CGroupbox::GetSelected() { return 0; }
int32_t CGroupbox::SetSelected(int32_t) { return 0; }
int32_t CGroupbox::GuiMsgHandler(int32_t, int32_t, int32_t, int32_t, void*) { return 0; }
int32_t CGroupbox::Draw(int32_t, int32_t, int32_t) { return 1; }
