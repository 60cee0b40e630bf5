// The slider: a track with an arrow button at each end (ids id + 10000 and
// id + 10001) and a drag button as its thumb, vertical unless
// CNTRL_HSLIDER. The value runs from min to max - page + 1 (never below
// min); the thumb's length shows the page's share of the range. A change of
// the value by the mouse tells the window (notification 14). The slider owns
// its three buttons; they report to it directly, not to the window.
#pragma once

#include <tarvex/export.h>

#include <tarvex/button.h>

namespace tvgui
{
struct SAlive;
}

// Ids of the arrow buttons relative to the slider's id.
constexpr int32_t XSLIDER_LOWER = 10000;
constexpr int32_t XSLIDER_HIGHER = 10001;
// The shortest thumb in pixels.
constexpr int32_t XSLIDER_MINTHUMB = 6;

class TARVEX_API CSlider : public CControlBase
{
  public:
    CButton* lower = nullptr;     // owned: id + 10000, lowers the value
    CButton* higher = nullptr;    // owned: id + 10001, raises the value
    CDragbutton* thumb = nullptr; // owned
    int32_t minValue = 0, maxValue = 0, page = 1;
    int32_t value = 0;
    int32_t topValue = 0; // the largest value: max - page + 1, at least min
    int32_t thumbLength = 0;
    int32_t trackHeld = 0; // the left button went down on the free track
    int32_t prevButtons = 0;

    CSlider() = default;
    ~CSlider() override;

    int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t min, int32_t max,
                   int32_t value, int32_t page, int32_t flags);
    using CControlBase::Create;
    int32_t Destroy() override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t SetParent(int32_t pid, CWindowBase* win) override;
    int32_t SetPos(int32_t px, int32_t py) override;
    int32_t SetSize(int32_t w, int32_t h) override;
    int32_t SetState(int32_t s) override;

    // A page below 1 counts as 1. The thumb is (track - 2 arrows) * page /
    // (max - min + 1) long (page times the track when max < min), at least
    // XSLIDER_MINTHUMB and at most the track between the arrows.
    int32_t SetRange(int32_t min, int32_t max, int32_t page);
    int32_t GetRange(int32_t& min, int32_t& max, int32_t& page);
    // Clamps to min .. the largest value and places the thumb.
    int32_t SetValue(int32_t v);
    int32_t GetValue() { return value; }
    // The value for a mouse position along the track (slider-relative
    // pixels), clamped; min when the free track has no length.
    int32_t ValueAt(int32_t along);
    // Arrow size and the track's length along the slider's axis.
    int32_t ArrowSize() const;
    int32_t TrackLength() const;
    // The free track: between the arrows, minus the thumb (may be 0).
    int32_t FreeTrack() const;

  private:
    tvgui::SAlive* alive = nullptr;
    bool Vertical() const { return (flags & CNTRL_HSLIDER) == 0; }
    void Layout();
    void PlaceThumb();
};
