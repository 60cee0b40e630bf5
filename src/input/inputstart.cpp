// The input layer's part of xInit and xExit: the mouse and the keyboard,
// made and freed through the frame's hook table.
#include <tarvex/frame.h>
#include <tarvex/keyboard.h>
#include <tarvex/mouse.h>

#include "core/layerhooks.h"

namespace {

bool Create()
{
    glb->mouse = XNEW(CMouse);
    glb->keyboard = XNEW(CKeyboard);
    return glb->mouse != nullptr && glb->keyboard != nullptr;
}

void Free()
{
    if (glb->mouse != nullptr) {
        XDELETE(glb->mouse);
        glb->mouse = nullptr;
    }
    if (glb->keyboard != nullptr) {
        XDELETE(glb->keyboard);
        glb->keyboard = nullptr;
    }
}

[[maybe_unused]] const bool kHooksFilled = [] {
    g_inputHooks = {Create, Free};
    return true;
}();

} // namespace
