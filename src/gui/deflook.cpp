// The default look's small bitmaps, drawn by the library itself at start-up:
// the caret, the check mark and the close, drop, arrow-up and arrow-down
// buttons in their four states (normal, pressed, highlight, disabled). They
// are 24-bit pictures whose top-left pixel is the colour key (magenta), so
// they draw on any screen after RemapDefaults.
//
// Resource data may lend its "Defaults" for a while: the generated pictures
// stay here meanwhile, and when the lender is freed the root and every
// control of its windows let go of the lent objects and show these again.
#include <tarvex/memory.h>
#include <tarvex/window.h>

namespace
{
constexpr int32_t kSide = 12;

void Put(CBitmap* b, int32_t x, int32_t y, TRGBA c)
{
    if (x < 0 || y < 0 || x >= b->width || y >= b->height)
        return;
    uint8_t* p = b->data + static_cast<ptrdiff_t>(y) * b->pitch + static_cast<ptrdiff_t>(x) * 3;
    p[0] = c.b; // blue-green-red bytes
    p[1] = c.g;
    p[2] = c.r;
}

CBitmap* NewPicture(int32_t w, int32_t h, TRGBA fill)
{
    CBitmap* b = XNEW(CBitmap);
    if (b->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0) != 1) {
        XDELETE(b);
        return nullptr;
    }
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            Put(b, x, y, fill);
    return b;
}

const TRGBA kKey{255, 0, 255};

// A small button: key-coloured corner, bevelled face by state, then the
// glyph drawn by the caller through the returned picture.
CBitmap* Button(int32_t st)
{
    static constexpr uint8_t kFace[4] = {190, 160, 215, 170};
    CBitmap* b = NewPicture(kSide, kSide, kKey);
    if (b == nullptr)
        return nullptr;
    TRGBA face(kFace[st], kFace[st], kFace[st]);
    TRGBA lit = st == 1 ? TRGBA(90, 90, 90) : TRGBA(250, 250, 250);
    TRGBA dark = st == 1 ? TRGBA(250, 250, 250) : TRGBA(90, 90, 90);
    for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x) {
            if ((x == 0 && y == 0) || (x == kSide - 1 && y == kSide - 1) || (x == 0 && y == kSide - 1) ||
                (x == kSide - 1 && y == 0))
                continue; // rounded corners stay key-coloured
            TRGBA c = face;
            if (x == 0 || y == 0)
                c = lit;
            else if (x == kSide - 1 || y == kSide - 1)
                c = dark;
            Put(b, x, y, c);
        }
    return b;
}

TRGBA GlyphColor(int32_t st) { return st == 3 ? TRGBA(120, 120, 120) : TRGBA(0, 0, 0); }
int32_t Shift(int32_t st) { return st == 1 ? 1 : 0; }

CBitmap* CloseButton(int32_t st)
{
    CBitmap* b = Button(st);
    if (b != nullptr)
        for (int32_t i = 3; i <= 8; ++i) {
            int32_t s = Shift(st);
            Put(b, i + s, i + s, GlyphColor(st));
            Put(b, i + 1 + s, i + s, GlyphColor(st));
            Put(b, 11 - i + s, i + s, GlyphColor(st));
            Put(b, 10 - i + s, i + s, GlyphColor(st));
        }
    return b;
}

// A filled triangle pointing down (down = 1) or up.
CBitmap* Triangle(int32_t st, int32_t down)
{
    CBitmap* b = Button(st);
    if (b != nullptr)
        for (int32_t row = 0; row < 4; ++row) {
            int32_t y = (down ? 4 + row : 7 - row) + Shift(st);
            for (int32_t x = 3 + row; x <= 8 - row; ++x)
                Put(b, x + Shift(st), y, GlyphColor(st));
        }
    return b;
}
} // namespace

int32_t CWinCtrl::MakeDefaultLook()
{
    FreeDefaultLook();
    TResDefaults& b = builtIn;
    b.caret = NewPicture(2, 14, TRGBA(0, 0, 0));
    b.check = NewPicture(10, 10, kKey);
    if (b.check != nullptr) {
        // A check mark: short stroke down-right, long stroke up-right.
        for (int32_t i = 0; i < 3; ++i) {
            Put(b.check, 1 + i, 4 + i, TRGBA(0, 0, 0));
            Put(b.check, 1 + i, 5 + i, TRGBA(0, 0, 0));
        }
        for (int32_t i = 0; i < 6; ++i) {
            Put(b.check, 4 + i, 6 - i, TRGBA(0, 0, 0));
            Put(b.check, 4 + i, 7 - i, TRGBA(0, 0, 0));
        }
    }
    for (int32_t st = 0; st < 4; ++st) {
        b.close[st] = CloseButton(st);
        b.drop[st] = Triangle(st, 1);
        b.arrowDown[st] = Triangle(st, 1);
        b.arrowUp[st] = Triangle(st, 0);
    }
    ownsLook = 1;
    SetDefaultCaret(b.caret);
    SetDefaultCheck(b.check);
    SetDefaultClose(b.close[0], b.close[1], b.close[2], b.close[3]);
    SetDefaultDrop(b.drop[0], b.drop[1], b.drop[2], b.drop[3]);
    SetDefaultArrowUp(b.arrowUp[0], b.arrowUp[1], b.arrowUp[2], b.arrowUp[3]);
    SetDefaultArrowDown(b.arrowDown[0], b.arrowDown[1], b.arrowDown[2], b.arrowDown[3]);
    RemapDefaults();
    return b.caret != nullptr && b.check != nullptr ? 1 : 0;
}

namespace
{
// Calls f(root slot, lent object, saved slot) for every piece of the look.
template <class F> void VisitLook(CWinCtrl& r, const TResDefaults& lent, TResDefaults& saved, F f)
{
    f(r.defFont, lent.font, saved.font);
    f(r.defCaret, lent.caret, saved.caret);
    f(r.defCheck, lent.check, saved.check);
    for (int32_t i = 0; i < 4; ++i) {
        f(r.defClose[i], lent.close[i], saved.close[i]);
        f(r.defDrop[i], lent.drop[i], saved.drop[i]);
        f(r.defArrowUp[i], lent.arrowUp[i], saved.arrowUp[i]);
        f(r.defArrowDown[i], lent.arrowDown[i], saved.arrowDown[i]);
        f(r.defTitlebar[i], lent.titlebar[i], saved.titlebar[i]);
        f(r.defFrame[i], lent.frame[i], saved.frame[i]);
        f(r.defButton[i], lent.button[i], saved.button[i]);
        f(r.defStatic[i], lent.statics[i], saved.statics[i]);
    }
}

// Every control of every window of the root, titlebars and frames included.
template <class F> void ForEachControl(CWinCtrl& r, F f)
{
    for (SLListNode* n = r.windows.first; n != nullptr; n = n->next) {
        auto* e = static_cast<SWinEntry*>(n->data);
        if (e->removed)
            continue;
        CWindowBase* w = e->window;
        if (w->TitlebarCntrl() != nullptr)
            f(w->TitlebarCntrl());
        if (w->FrameCntrl() != nullptr)
            f(w->FrameCntrl());
        for (SLListNode* c = w->cntrls.first; c != nullptr; c = c->next)
            f(static_cast<CControlBase*>(c->data));
    }
}

// The look falls back from the lent objects: root slots still showing one
// take back what it replaced, and every control lets go of it.
void Restore(CWinCtrl& r, const TResDefaults& lent)
{
    struct Swap {
        const void* from;
        void* to;
    };
    Swap swaps[3 + 8 * 4];
    int32_t n = 0;
    VisitLook(r, lent, r.beforeLoan, [&](auto*& slot, auto* lentObj, auto*& saved) {
        if (lentObj == nullptr)
            return;
        if (slot == lentObj)
            slot = saved;
        swaps[n++] = {lentObj, slot};
    });
    r.beforeLoan = TResDefaults{};
    ForEachControl(r, [&](CControlBase* c) {
        for (int32_t i = 0; i < n; ++i)
            c->SwapLook(swaps[i].from, swaps[i].to);
    });
    r.Validate();
}

void OnLoanEnd(void* borrower, const TResDefaults* lent)
{
    // Called from the lender's Free, which drops the loan record itself.
    auto* r = static_cast<CWinCtrl*>(borrower);
    r->lender = nullptr;
    if (lent != nullptr)
        Restore(*r, *lent);
}
} // namespace

int32_t CWinCtrl::BorrowDefaults(CResData* res)
{
    if (res == nullptr)
        return 0;
    if (lender != nullptr && lender != res)
        EndDefaultsLoan();
    else if (lender == res)
        return 1;
    const TResDefaults* d = res->LendDefaults(this, OnLoanEnd);
    if (d == nullptr)
        return 0;
    lender = res;
    beforeLoan = TResDefaults{};
    VisitLook(*this, *d, beforeLoan, [](auto*& slot, auto* lentObj, auto*& saved) {
        if (lentObj != nullptr) {
            saved = slot;
            slot = lentObj;
        }
    });
    return 1;
}

void CWinCtrl::EndDefaultsLoan()
{
    if (lender == nullptr)
        return;
    CResData* res = lender;
    lender = nullptr;
    res->EndLoan(this);
    Restore(*this, res->defaults);
}

void CWinCtrl::FreeDefaultLook()
{
    if (!ownsLook)
        return;
    ownsLook = 0;
    TResDefaults none{};
    // Slots showing a generated bitmap let go of it, then it is freed.
    auto drop = [&](CBitmap* b) {
        if (b == nullptr)
            return;
        VisitLook(*this, none, none, [b](auto*& slot, auto*, auto*&) {
            if (static_cast<const void*>(slot) == b)
                slot = nullptr;
        });
        XDELETE(b);
    };
    drop(builtIn.caret);
    drop(builtIn.check);
    for (int32_t i = 0; i < 4; ++i) {
        drop(builtIn.close[i]);
        drop(builtIn.drop[i]);
        drop(builtIn.arrowUp[i]);
        drop(builtIn.arrowDown[i]);
    }
    builtIn = TResDefaults{};
}
