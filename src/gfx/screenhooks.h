// Calls the screens make into the layers above them. A screen asks the GUI
// root to remap its default look when the palette changes, to redraw itself
// where the picture was restored or drawn over, and to redraw everything
// when the screen starts showing again; it tells the mouse where its
// picture sits in the window and that the mode changed. Graphics sits below
// the GUI and the input, so it reaches them only through these tables,
// which those layers fill when the library loads (a static initialiser in
// their own sources), before any screen exists. A slot left empty means
// that layer is not part of the build: the call is skipped.
#pragma once

#include <cstdint>

class CRect;

struct SScreenGuiHooks {
    // The root converts its default bitmaps to the current screen's format.
    void (*remapDefaults)();
    // The root redraws its windows inside r (index: the shadow area's
    // place in its list); TRUE when there was a root to draw.
    int32_t (*validateArea)(CRect* r, int32_t index);
    // The root asks every window to redraw itself whole.
    void (*revalidate)();
};

struct SScreenInputHooks {
    // Where the picture starts in the window's client area.
    void (*setMouseAdd)(int32_t x, int32_t y);
    // The current screen has a new active mode: the mouse follows it.
    void (*followMode)();
    // The mouse treats the picture as the given window kind.
    void (*setWindowKind)(int32_t kind);
};

extern SScreenGuiHooks g_screenGuiHooks;
extern SScreenInputHooks g_screenInputHooks;

namespace tvscreen
{
inline void RemapGuiDefaults()
{
    if (g_screenGuiHooks.remapDefaults != nullptr)
        g_screenGuiHooks.remapDefaults();
}
inline void RevalidateGui()
{
    if (g_screenGuiHooks.revalidate != nullptr)
        g_screenGuiHooks.revalidate();
}
inline bool ValidateGui(CRect& r, int32_t index)
{
    return g_screenGuiHooks.validateArea != nullptr && g_screenGuiHooks.validateArea(&r, index) != 0;
}
inline void SetMouseAdd(int32_t x, int32_t y)
{
    if (g_screenInputHooks.setMouseAdd != nullptr)
        g_screenInputHooks.setMouseAdd(x, y);
}
inline void MouseFollowMode()
{
    if (g_screenInputHooks.followMode != nullptr)
        g_screenInputHooks.followMode();
}
inline void SetMouseWindowKind(int32_t kind)
{
    if (g_screenInputHooks.setWindowKind != nullptr)
        g_screenInputHooks.setWindowKind(kind);
}
} // namespace tvscreen
