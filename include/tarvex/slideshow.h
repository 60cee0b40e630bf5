// Slide shows: a sequence of pictures shown one after another into a target
// picture on the show's own timer, each for a random time between its
// shortest and longest, with an optional transition effect between slides
// (a cut or a cross-fade). The target is any bitmap of the library: a
// control's face, the screen's persistent picture or an off-screen picture.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/llist.h>
#include <tarvex/timer.h>

class CResData;

// Transition kinds of TEFFECTDATA::kind.
enum : int32_t { XEFFECT_CUT = 0, XEFFECT_CROSSFADE = 1 };

// An effect: its bitmap (kept for effects that shape the transition, not
// owned), the kind, the number of steps and the milliseconds per step.
struct TARVEX_API TEFFECTDATA {
    CBitmap* bitmap;
    int32_t kind;
    int32_t steps;
    uint32_t stepTime;
};

// A slide: in-use word, two values of the application, its picture (not
// owned), shortest and longest display time in ms, effect index (-1 none)
// and the resolved effect.
struct TARVEX_API TSLIDE {
    uint16_t inUse;
    uint32_t value1;
    uint32_t value2;
    CBitmap* bitmap;
    uint32_t minTime;
    uint32_t maxTime;
    int32_t effectIndex;
    TEFFECTDATA* effect;
};

// States of the show.
enum : int32_t { XSLIDE_STOPPED = 0, XSLIDE_SHOWING = 1, XSLIDE_TRANSITION = 2 };

class TARVEX_API CSlideShow : public CTimer
{
  public:
    CSlideShow() = default;
    CSlideShow(const CSlideShow&) = delete;
    CSlideShow& operator=(const CSlideShow&) = delete;
    ~CSlideShow() override;

    // An empty show drawing into target at (x, y); suspended: Start does nothing.
    int32_t CreateEmpty(CBitmap* target, int32_t x, int32_t y, int32_t suspended);
    // The show named name in the "Data" section of res: the item holds the
    // suspended flag, the keyword of the slide list and (optionally) that of
    // the effect list. Slide groups: two values, bitmap name, shortest and
    // longest time, effect index; effect groups: bitmap name, kind, steps,
    // milliseconds per step. CreateEmpty reads the same without the slides.
    int32_t Create(CBitmap* target, CResData* res, const char* name, int32_t x, int32_t y);
    int32_t CreateEmpty(CBitmap* target, CResData* res, const char* name, int32_t x, int32_t y);
    // Appends an effect (copied); returns its index or -1.
    int32_t AddEffect(const TEFFECTDATA& effect);
    int32_t AddEntry(uint32_t value1, uint32_t value2, uint32_t minTime, uint32_t maxTime, CBitmap* bitmap,
                     int32_t effectIndex);
    // Removes slide n (0-based); FALSE when there is none.
    int32_t RemovePicture(int32_t n);
    int32_t RemoveCurrentEntry(int32_t unused);
    CBitmap* GetEntryBitmap(int32_t n);

    int32_t Start();
    int32_t Start(uint32_t interval);
    void Stop();
    void StopAndHide();
    int32_t Next();
    int32_t Prev();
    int32_t Goto(int32_t n);
    // Shows the current slide at once (ends a running transition).
    void Exchange();
    int32_t GetNumOfSlides() const { return slides.GetNumNodes(); }
    int32_t GetCurrentSlideNr() const { return current; }
    int32_t GetState() const { return state; }
    // The time the current slide stays (set when it was shown).
    uint32_t GetDwellTime() const { return dwell; }

    // min + r x (max - min) / 32767 with r in 0..32767; min and max are
    // swapped when max < min.
    static uint32_t RandomLong(uint32_t min, uint32_t max);

    void TimerHandler(uint32_t interval) override;

    uint32_t defaultInterval = 1000; // display time used when a slide's time is 0

  protected:
    void AssignEffect();
    TEFFECTDATA* GetEffect(int32_t n);

  private:
    CLList slides;  // TSLIDE*, owned
    CLList effects; // TEFFECTDATA*, owned
    CBitmap* target = nullptr;
    int32_t posX = 0, posY = 0;
    int32_t suspended = 0;
    int32_t current = -1;
    int32_t previous = -1;
    int32_t next = -1;
    int32_t state = XSLIDE_STOPPED;
    int32_t hidden = 0;
    uint32_t timerInterval = 0;
    uint32_t elapsed = 0;
    uint32_t dwell = 0;
    int32_t step = 0;

    int32_t ReadData(CBitmap* target, CResData* res, const char* name, int32_t x, int32_t y, bool withSlides);
    TSLIDE* Slide(int32_t n);
    void MoveTo(int32_t n);
    void BeginSlide();
    void Draw(int32_t n);
    void Blend(int32_t from, int32_t to, int32_t num, int32_t den);
    void RemoveAll();
};
