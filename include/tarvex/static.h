// Controls that show without taking input (only their hotkey phase): the
// static text, the scrolling text (a strip of the text moved a few pixels
// per timer tick, wrapping around), the progress bar and the time-out pie.
#pragma once

#include <tarvex/export.h>

#include <tarvex/button.h>

// The id every static text gets.
constexpr int32_t XCNTRL_STATIC = 1004;

class TARVEX_API CStatic : public CButton
{
  public:
    using CButton::Create;
    int32_t Create(const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t flags);
    int32_t Destroy() override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    // Makes this static the look that later statics copy.
    int32_t SetDefault() override;
};

// The text moves left through the control, pixPerFrame pixels per tick of a
// timer started with Start(ms), and starts again when it has passed.
class TARVEX_API CScrollText : public CStatic
{
  public:
    CBitmap* strip = nullptr; // owned: the text laid out once, 24 bits
    int32_t pixPerFrame = 1;
    int32_t scrollPos = 0; // pixels of the strip already passed
    int32_t scrolling = 0;
    uint32_t interval = 0; // the running timer's id (its interval)

    ~CScrollText() override;
    using CStatic::Create;
    int32_t Create(const char* text, int32_t x, int32_t y, int32_t w, int32_t h, int32_t pixPerFrame,
                   int32_t flags);
    int32_t Destroy() override;
    using CControlBase::SetText;
    int32_t SetText(char* p) override;
    int32_t SetPixPerFrame(int32_t n);
    int32_t Start(int32_t ms);
    int32_t Stop();
    int32_t IsScrolling() { return scrolling; }
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    void TimerHandler(uint32_t timerId) override;
    // Width of the laid-out text in pixels (the strip's width minus the gap).
    int32_t TextWidth() { return textWidth; }

  private:
    int32_t MakeStrip();
    void FreeStrip();
    // The strip in the screen's format, made from strip when first drawn
    // on a screen of that depth.
    CBitmap* shown = nullptr;
    int32_t shownBits = 0;
    int32_t textWidth = 0;
    int32_t stripWidth = 1; // text plus a gap of the control's width
};

// A bar filled in proportion to the value within the range.
class TARVEX_API CProgress : public CButton
{
  public:
    int32_t minValue = 0, maxValue = 100, value = 0;
    using CButton::Create;
    int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t flags);
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    // Clamps to the range and redraws.
    int32_t SetValue(int32_t v);
    int32_t GetValue() { return value; }
    // Refused (0) unless min < max; the value is clamped to the new range.
    int32_t SetRange(int32_t min, int32_t max);
    int32_t GetRange(int32_t& min, int32_t& max);
    // The filled width in pixels of a bar inner pixels wide.
    int32_t FilledWidth(int32_t inner);
};

// The value shown as a pie: the part of the range still to go, drawn into a
// 24-bit picture of the control's size and copied onto the screen.
class TARVEX_API CTimeout : public CButton
{
  public:
    int32_t minValue = 0, maxValue = 100, value = 0;
    CBitmap* pie = nullptr; // owned, the control's size
    ~CTimeout() override;
    using CButton::Create;
    // min, max and value: the range and the starting value; a range that is
    // not min < max leaves the default 0..100.
    int32_t Create(int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int32_t min, int32_t max,
                   int32_t value, int32_t flags);
    int32_t Destroy() override;
    int32_t GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data) override;
    int32_t Draw(int32_t wx, int32_t wy, int32_t how) override;
    int32_t SetValue(int32_t v);
    int32_t GetValue() { return value; }
    int32_t SetRange(int32_t min, int32_t max);
    int32_t GetRange(int32_t& min, int32_t& max);

  private:
    // The pie at (l, t) on the screen; 0 with the error recorded when the
    // picture cannot be made or copied.
    int32_t DrawPie(int32_t l, int32_t t);
};
