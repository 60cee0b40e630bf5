// Lists. CListbox shows its entries (controls it owns, numbered from 1,
// each one field high) in a column beside its own slider, selects by mouse
// or by number and tells the window of a new selection (notification 15).
// CCombobox shows the selected entry in a field with a drop button (id +
// 10003); the button or a click on the field opens the list below it.
#pragma once

#include <tarvex/export.h>

#include <tarvex/slider.h>
#include <tarvex/static.h>

namespace tvgui
{
struct SAlive;
}

// Width of the list's slider and the combo box's drop button.
constexpr int32_t XLIST_SLIDERWIDTH = 14;
constexpr int32_t XCOMBO_DROP = 10003;

class TARVEX_API CListbox : public CControlBase
{
  public:
    CLList entries;            // CControlBase*, owned
    CSlider* slider = nullptr; // owned, id + 10002
    int32_t fieldHeight = 0;
    int32_t selected = 0;     // 0: none
    int32_t firstVisible = 1; // number of the top entry
    int32_t prevButtons = 0;

    CListbox() = default;
    ~CListbox() override;

    // A field height below 1 is refused (0).
    int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t fieldHeight,
                   int32_t flags);
    using CControlBase::Create;
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t SetParent(int32_t pid, CWindowBase* win) override;
    int32_t SetPos(int32_t px, int32_t py) override;
    int32_t SetSize(int32_t w, int32_t h) override;

    // A static text entry of the list's width.
    int32_t Add(const char* text);
    // Any control (made with XNEW); the list owns it from now on, also when
    // the call fails.
    int32_t Add(CControlBase* entry);
    // n from 1 to the number of entries: selects it, shows it, redraws and
    // sends 15. Anything else: 0.
    int32_t SetSelected(int32_t n) override;
    int32_t GetSelected() override { return selected; }
    CControlBase* GetSelectedControl();
    CControlBase* GetEntry(int32_t n);
    int32_t GetNumEntries() const { return entries.GetNumNodes(); }
    int32_t GetFieldHeight(int32_t& h);
    int32_t RemoveAll();
    // Removes entry n (from 1); the selection keeps to its entry.
    int32_t Remove(int32_t n);
    // Entries that fit the list's height.
    int32_t VisibleEntries() const;
    // The entry number under a window-relative point; 0 when none.
    int32_t EntryAt(int32_t px, int32_t py);

  protected:
    tvgui::SAlive* alive = nullptr;
    // Places the visible entries and re-ranges the slider.
    void Layout();
    void Follow(int32_t n);
};

class TARVEX_API CCombobox : public CControlBase
{
  public:
    CButton* drop = nullptr;  // owned, id + 10003
    CListbox* list = nullptr; // owned, below the field while open
    int32_t fieldHeight = 0;  // the closed control's height
    int32_t listHeight = 0;
    int32_t open = 0;
    int32_t prevButtons = 0;

    CCombobox() = default;
    ~CCombobox() override;

    int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t listHeight, int16_t hotkey,
                   int32_t flags);
    using CControlBase::Create;
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t SetParent(int32_t pid, CWindowBase* win) override;
    int32_t SetPos(int32_t px, int32_t py) override;

    // The first entry added becomes the selection.
    int32_t Add(const char* text);
    int32_t Add(CControlBase* entry);
    int32_t DeleteFirst();
    int32_t SetSelected(int32_t n) override;
    int32_t GetSelected() override;
    CControlBase* GetSelectedControl();
    int32_t IsOpen() const { return open; }
    // Opens or closes the list (what lay under it is drawn again).
    int32_t Open(int32_t on);

  private:
    tvgui::SAlive* alive = nullptr;
};
