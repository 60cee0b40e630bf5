// The graphics layer's part of the library's start-up, frame and shut-down:
// the picture-type and screen lists made with the globals, the picture
// readers and the two screens made by xInit (only the screens the display
// can show stay once the main window exists), the current screen's page
// flip and buffer clear each frame, and the order things go in at exit.
// The frame calls these through its hook table.
#include <tarvex/bitmap.h>
#include <tarvex/dibscreen.h>
#include <tarvex/dxscreen.h>
#include <tarvex/frame.h>
#include <tarvex/pictype.h>
#include <tarvex/shade.h>

#include "core/layerhooks.h"

namespace {

template <class T>
void Delete(T*& p)
{
    if (p != nullptr) {
        XDELETE(p);
        p = nullptr;
    }
}

bool CreateLists()
{
    glb->picTypes = XNEW(CPicTypeList);
    glb->screens = XNEW(CScreenBaseList);
    return glb->picTypes != nullptr && glb->screens != nullptr;
}

void FreeLists()
{
    // A colour-match table built without xInit/xExit still goes back.
    xDiscardColorMatch();
    Delete(glb->screens);
    // Shade tables the screens built on demand.
    DeleteShade();
    Delete(glb->picTypes);
}

bool CreateScreens()
{
    sglb->jpgPic = XNEW(CJPGPic);
    sglb->bmpPic = XNEW(CBMPPic);
    sglb->dibScreen = XNEW(CDibScreen);
    sglb->dxScreen = XNEW(CDxScreen);
    return sglb->jpgPic != nullptr && sglb->bmpPic != nullptr && sglb->dibScreen != nullptr &&
           sglb->dxScreen != nullptr;
}

void KeepShowable()
{
    if (sglb->dibScreen->ScreenAvailable())
        sglb->dibScreen->GetVideoModes();
    else
        Delete(sglb->dibScreen);
    // The full-screen screen stays beside it; the windowed one is the
    // default, the application picks a full-screen mode to use this one.
    if (!sglb->dxScreen->ScreenAvailable() || !sglb->dxScreen->GetVideoModes())
        Delete(sglb->dxScreen);
}

void FreeScreens()
{
    Delete(sglb->dibScreen);
    Delete(sglb->dxScreen);
}

void FreeReaders()
{
    if (glb != nullptr)
        xDiscardColorMatch(); // the current palette copy and its colour-match table
    Delete(sglb->bmpPic);
    Delete(sglb->jpgPic);
}

void FlipPage() { glb->screen->FlipPage(); }
void ClearBuffer() { glb->screen->ClearBuffer(); }

[[maybe_unused]] const bool kHooksFilled = [] {
    g_gfxHooks = {CreateLists, FreeLists, CreateScreens, KeepShowable, FreeScreens, FreeReaders, FlipPage,
                  ClearBuffer};
    return true;
}();

} // namespace
