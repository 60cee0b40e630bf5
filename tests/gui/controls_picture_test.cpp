// Every control of this module in each of its states, drawn by the GUI root
// with the committed font and the default look at 8, 16 and 24 bits, and
// compared with golden hashes (the picture is written as a BMP when one
// differs).
#include "controls_util.h"

namespace
{

using tvtest::ControlTest;

class ControlPicture : public ControlTest, public ::testing::WithParamInterface<std::pair<int32_t, uint32_t>>
{
};

TEST_P(ControlPicture, AllStates)
{
    auto [bits, golden] = GetParam();
    ASSERT_TRUE(OpenWithFont(640, 480, bits));
    win->SetFlag(XWIN_FRAME);
    win->frame = XNEW(CFrame);
    win->frame->Create(nullptr, 300, 200, win);
    win->SetSize(640, 480);
    win->frame->SetSize(640, 480);
    static char ok[] = "OK", name[] = "Name:", remember[] = "Remember", server[] = "Server",
                link[] = "example.org", address[] = "https://example.org/",
                scroll[] = "Welcome to the server";
    std::vector<CControlBase*> all;
    auto add = [&](CControlBase* c) {
        win->AddCntrl(c);
        all.push_back(c);
        return c;
    };
    // Buttons: released, pressed, highlight, disabled, with a border.
    const int32_t buttonStates[] = {XGUI_RELEASED, XGUI_PRESSED, XGUI_HIGHLIGHT, XGUI_DISABLED};
    for (int32_t i = 0; i < 4; ++i) {
        auto* b = XNEW(CButton);
        b->Create(100 + i, ok, 10 + 90 * i, 10, 80, 24, 0, CNTRL_EXTRUDED | CNTRL_CENTERH | CNTRL_CENTERV);
        add(b)->SetState(buttonStates[i]);
    }
    auto* bordered = XNEW(CButton);
    bordered->Create(104, ok, 372, 10, 80, 24, 0,
                     CNTRL_EXTRUDED | CNTRL_CENTERH | CNTRL_CENTERV | CNTRL_BUTTONBORDER);
    add(bordered);
    CBitmap* ring = tvtest::Ring(24);
    auto* see = XNEW(CButton);
    see->Create(105, nullptr, 470, 10, 24, 24, 0, CNTRL_TRANSPARENT | CNTRL_HASBITMAP | CNTRL_BMTRANS);
    see->SetBitmap(ring, ring, ring, ring);
    add(see);
    // Check boxes and radio buttons: not checked, checked, disabled checked.
    for (int32_t i = 0; i < 3; ++i) {
        auto* c = XNEW(CCheckbox);
        c->Create(110 + i, remember, 10 + 120 * i, 50, 115, 20, 0, 0, i == 0 ? 0 : CNTRL_CHECKED);
        add(c);
        if (i == 2)
            c->SetState(XGUI_DISABLED);
    }
    for (int32_t i = 0; i < 2; ++i) {
        auto* r = XNEW(CRadiobutton);
        r->Create(120 + i, server, 370 + 100 * i, 50, 95, 20, 0, 0, 0);
        add(r)->SetSelected(i);
    }
    // Static texts, progress bars at 0, 50 and 100, time-outs at 0, 33, 100.
    auto* st = XNEW(CStatic);
    st->Create(name, 10, 90, 80, 20, 0);
    add(st);
    auto* st2 = XNEW(CStatic);
    st2->Create(name, 100, 90, 80, 20, CNTRL_EXTRUDED | CNTRL_CENTERH);
    add(st2);
    for (int32_t i = 0; i < 3; ++i) {
        auto* p = XNEW(CProgress);
        p->Create(130 + i, 190 + 110 * i, 94, 100, 12, CNTRL_EXTRUDED);
        add(p);
        p->SetValue(50 * i);
        auto* t = XNEW(CTimeout);
        t->Create(140 + i, 10 + 50 * i, 130, 40, 40, 0, 99, 33 * i, 0);
        add(t);
    }
    // Scrolling text at its start and moved on, a drag button, a link and a
    // group box.
    for (int32_t i = 0; i < 2; ++i) {
        auto* s = XNEW(CScrollText);
        s->Create(scroll, 170 + 110 * i, 130, 100, 20, 1, CNTRL_EXTRUDED);
        add(s);
        s->scrollPos = 37 * i;
    }
    auto* drag = XNEW(CDragbutton);
    drag->Create(150, nullptr, 400, 130, 20, 20, 0, CNTRL_EXTRUDED);
    add(drag);
    auto* url = XNEW(CURL);
    url->Create(151, link, address, 430, 130, 100, 20, 0, CNTRL_CENTERV);
    add(url);
    auto* group = XNEW(CGroupbox);
    group->Create(152, server, 10, 190, 200, 80, 0);
    add(group);

    DrawAll();
    CScreenBase* s = Screen();
    EXPECT_TRUE(tvtest::MatchesGolden("controls_" + std::to_string(bits), *s->GetScreenBitmap(), &s->palette,
                                      golden));
    win->RemoveAllCntrl();
    for (CControlBase* c : all) {
        c->Destroy();
        XDELETE(c);
    }
    XDELETE(ring);
}

INSTANTIATE_TEST_SUITE_P(Depths, ControlPicture,
                         ::testing::Values(std::pair<int32_t, uint32_t>{8, 2608436658u},
                                           std::pair<int32_t, uint32_t>{16, 4018789651u},
                                           std::pair<int32_t, uint32_t>{24, 221840646u}));

} // namespace
