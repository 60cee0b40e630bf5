// The GUI root and the message box come with the globals, as a program that
// only calls xCreateGlobals and xInit expects.
#include "../support/tarvex_test.h"

#include <tarvex/button.h>
#include <tarvex/static.h>
#include <tarvex/window.h>

#include "core/guihooks.h"

namespace
{

TEST(GlobalsRoot, CreatedWithTheGlobalsAndFreedWithThem)
{
    tvtest::Globals g;
    ASSERT_TRUE(g.ok);
    EXPECT_NE(glb->rootWindow, nullptr);
    EXPECT_NE(glb->msgBoxWindow, nullptr);
    EXPECT_NE(glb->msgBoxButton, nullptr);
    EXPECT_NE(glb->msgBoxText, nullptr);
    SGlobals* record = glb;
    EXPECT_EQ(g.Finish(), "");
    EXPECT_EQ(record->rootWindow, nullptr);
    EXPECT_EQ(record->msgBoxWindow, nullptr);
    EXPECT_EQ(record->msgBoxButton, nullptr);
    EXPECT_EQ(record->msgBoxText, nullptr);
}

// A program adds its window to the root straight after start-up, runs
// frames; the root goes with the globals.
TEST(GlobalsRoot, WindowAddedWithoutMakingTheRoot)
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok) << glb->error.GetError();
    ASSERT_NE(glb->rootWindow, nullptr);
    auto* win = XNEW(CWindow);
    ASSERT_EQ(win->Create(1, 10, 10, 120, 80, 0), 1);
    ASSERT_EQ(glb->rootWindow->AddWindow(win, nullptr, nullptr), 1);
    EXPECT_EQ(glb->rootWindow->FrontWindow(), win);
    for (int i = 0; i < 3; ++i)
        xHandler();
    glb->rootWindow->RemoveWindow(win->id);
    win->Destroy();
    XDELETE(win);
    EXPECT_EQ(g.Finish(), "");
}

CWinCtrl* NoRoot() { return nullptr; }

TEST(GlobalsRoot, MissingRootIsOutOfMemory)
{
    SGuiHooks saved = g_guiHooks;
    g_guiHooks.createRoot = NoRoot;
    tvtest::Globals g;
    g_guiHooks = saved;
    EXPECT_FALSE(g.ok);
    int32_t code = 0;
    EXPECT_STREQ(glb->error.GetError(&code), "Out of memory");
    EXPECT_EQ(code, 14);
    EXPECT_EQ(g.Finish(), "");
}

} // namespace
