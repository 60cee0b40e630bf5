// Dialogs built from window descriptions of resource data: the window's
// create, titlebar and frame items, then every control chunk (group boxes
// holding further controls, to a bounded depth), each with its kind's
// "Create" item, the kind's own items and the items every control may have.
// The kinds' readers live in dialog_ctrls.cpp. A failure anywhere destroys
// what was built; texts taken from the description are copied, so the
// dialog does not depend on the resource data staying loaded.
#include "dialog_internal.h"

#include <tarvex/error.h>
#include <tarvex/memory.h>

#include <cstring>
#include <strings.h>

namespace
{

CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }

// Four bitmaps (values 0-3 of the current item); FALSE when one is missing.
bool FourBitmaps(CResData* res, CBitmap* out[4])
{
    for (int32_t i = 0; i < 4; ++i) {
        out[i] = res->GetString(i) != nullptr ? res->GetBitmap(i) : nullptr;
        if (out[i] == nullptr)
            return false;
    }
    return true;
}

// Four colour sets (values 0-3); the number of the first missing one in
// *bad, -1 when all are there.
bool FourColorSets(CResData* res, TCntrlColor* out[4], int32_t* bad)
{
    for (int32_t i = 0; i < 4; ++i) {
        out[i] = res->GetString(i) != nullptr ? res->GetCntrlColor(i) : nullptr;
        if (out[i] == nullptr) {
            *bad = i;
            return false;
        }
    }
    *bad = -1;
    return true;
}

} // namespace

CDialog::~CDialog() { CDialog::Destroy(); }

int32_t CDialog::Create(CResData* res, int32_t windowId, XGuiCallback callback, int32_t showFlags, void* user)
{
    Destroy();
    const char* name = res != nullptr ? res->GetResName(windowId) : nullptr;
    if (name == nullptr)
        return xErrorf("Unknown id");
    res->MainChunk();
    res->RestartMode(1);
    res->FirstItem();
    if (!res->FindItem("{", "Window", name) || !res->EnterChunk())
        return xErrorf("Unable to find specified window in the resource data");
    int32_t ok = ReadWindowItems(res, windowId);
    res->MainChunk();
    if (!ok) {
        Destroy();
        return FALSE;
    }
    CWinCtrl* root = Root();
    if (root == nullptr || !root->AddWindow(this, callback, user)) {
        Destroy();
        return xErrorf("Unable to add the window to the GUI root");
    }
    if ((showFlags & 1) != 0)
        HideWindow();
    else
        ShowWindow();
    return TRUE;
}

// The items of the window chunk, which is current in res.
int32_t CDialog::ReadWindowItems(CResData* res, int32_t windowId)
{
    if (!res->FindItem("Create"))
        return xErrorf("\"Create\" keyword missing for window");
    int32_t v[4] = {}, wflags = 0;
    char* caption = res->GetString(0);
    bool good = caption != nullptr;
    for (int32_t i = 0; good && i < 4; ++i)
        good = res->GetLong(i + 1, &v[i]) != 0;
    if (!good || res->GetString(5) == nullptr || !res->GetResFlags(5, &wflags))
        return xErrorf("Unable to get the windows create data");
    CWindow::Create(windowId, caption, v[0], v[1], v[2], v[3], wflags);
    // The titlebar keeps its own copy of the caption.
    if (titlebar != nullptr && titlebar->MakeTextWritable(0) == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);

    if (res->FindItem("TitlebarFlags")) {
        int32_t f = 0;
        if (!res->GetResFlags(0, &f))
            return xErrorf("Unable to get the titlebar flags");
        if (titlebar != nullptr)
            titlebar->SetFlag(f);
        if ((f & CNTRL_HASBITMAP) != 0) {
            CBitmap* b[4];
            if (!res->FindItem("TitlebarBitmap"))
                return xErrorf("Unable to find the titlebar bitmap keyword");
            if (!FourBitmaps(res, b))
                return xErrorf("Unable to get all the titlebar bitmaps");
            if (titlebar != nullptr)
                titlebar->SetBitmap(b[0], b[1], b[2], b[3]);
        }
    }
    if (res->FindItem("FrameFlags")) {
        int32_t f = 0;
        if (!res->GetResFlags(0, &f))
            return xErrorf("Unable to get the frame flags");
        if (frame != nullptr)
            frame->SetFlag(f);
        if ((f & CNTRL_HASBITMAP) != 0) {
            CBitmap* b[4];
            if (!res->FindItem("FrameBitmap"))
                return xErrorf("Unable to find the frame bitmap keyword");
            if (!FourBitmaps(res, b))
                return xErrorf("Unable to get all the frame bitmaps");
            if (frame != nullptr)
                frame->SetBitmap(b[0], b[1], b[2], b[3]);
        }
    }
    if (res->FindItem("Colors")) {
        TCntrlColor* c[4];
        int32_t bad = -1;
        if (!FourColorSets(res, c, &bad))
            return xErrorf("Unable to get color nr %ld in the frame", static_cast<long>(bad));
        if (frame != nullptr)
            frame->SetColors(c[0], c[1], c[2], c[3]);
    }

    // Every other item is a control.
    static const char* const kWindowItems[] = {"Create",     "TitlebarFlags", "TitlebarBitmap",
                                               "FrameFlags", "FrameBitmap",   "Colors"};
    for (int32_t more = res->FirstItem(); more; more = res->NextItem()) {
        if (res->IsComment())
            continue;
        const char* kw = res->GetKeyword();
        bool windowItem = false;
        for (const char* w : kWindowItems)
            windowItem = windowItem || strcasecmp(kw, w) == 0;
        if (windowItem)
            continue;
        int32_t r = strcasecmp(kw, "CreateStatic") == 0 ? ReadCreateStatic(res, nullptr)
                    : std::strcmp(kw, "{") == 0         ? ReadControl(res, nullptr, 0)
                                                        : xErrorf("Unknown window control type (%s)", kw);
        if (!r)
            return FALSE;
    }
    return TRUE;
}

// A control chunk item ("{", type name, id name) is current in res.
int32_t CDialog::ReadControl(CResData* res, CControlBase* group, int32_t depth)
{
    const char* typeName = res->GetString(0) != nullptr ? res->GetString(0) : "";
    const char* idName = res->GetString(1);
    int32_t ctrlId = 0;
    if (idName == nullptr || !res->GetResId(idName, &ctrlId))
        return xErrorf("Missing control id for : %s, %s", typeName, idName != nullptr ? idName : "");
    const SDlgKind* kind = xDlgFindKind(typeName);
    if (kind == nullptr || kind->read == nullptr)
        return xErrorf("Unknown window control type (%s)", typeName);
    if (kind->code == XDLG_GROUPBOX && depth >= XDLG_MAX_NESTING)
        return xErrorf("Group boxes nested deeper than %ld levels at \"%s\"",
                       static_cast<long>(XDLG_MAX_NESTING), idName);
    if (!res->EnterChunk())
        return xErrorf("\"Create\" keyword missing for %s cntrl", kind->lower);
    SDlgRead r{res, idName, ctrlId, kind->lower};
    CControlBase* c = kind->read(r);
    int32_t ok =
        c != nullptr && Adopt(c, kind->code, ctrlId, group) && ReadCommonItems(res, c, idName, kind->lower);
    if (ok && kind->code == XDLG_GROUPBOX) {
        for (int32_t more = res->FirstItem(); ok && more; more = res->NextItem()) {
            if (res->IsComment())
                continue;
            const char* kw = res->GetKeyword();
            if (std::strcmp(kw, "{") == 0)
                ok = ReadControl(res, c, depth + 1);
            else if (strcasecmp(kw, "CreateStatic") == 0)
                ok = ReadCreateStatic(res, c);
        }
    }
    res->ExitChunk();
    return ok;
}

int32_t CDialog::ReadCreateStatic(CResData* res, CControlBase* group)
{
    const char* idName = res->GetString(0);
    int32_t ctrlId = 0;
    if (idName == nullptr || !res->GetResId(idName, &ctrlId))
        return xErrorf("Missing control id for : %s", idName != nullptr ? idName : "");
    CControlBase* c = xDlgCreateStatic(res, idName, ctrlId);
    return c != nullptr && Adopt(c, XDLG_STATIC, ctrlId, group);
}

// Takes a newly read control into the dialog's list and the window (or the
// group box); on failure the control is discarded.
int32_t CDialog::Adopt(CControlBase* c, int32_t type, int32_t ctrlId, CControlBase* group)
{
    // Texts of the description are borrowed until copied here.
    if (c->text != nullptr && !c->textOwned && c->MakeTextWritable(0) == nullptr) {
        xDlgDiscard(c);
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    auto* g = XNEW(TGuiCtrl);
    if (g == nullptr || !guiCtrls.InsertLast(g)) {
        if (g != nullptr)
            XDELETE(g);
        xDlgDiscard(c);
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    *g = TGuiCtrl{type, ctrlId, c};
    AddCntrl(c);
    if (group != nullptr && !xDlgAddToGroup(group, c, type)) {
        return xErrorf("Unable to add a %s to a groupbox", xDlgKindName(type));
    }
    return TRUE;
}

// "AnimLine" items, any number, each one step of a scripted line: state,
// line name, x0, y0, animation or "None", x1, y1, object name, then up to
// four bitmaps (normal, pressed, highlight, disabled).
int32_t CDialog::ReadAnimLines(CResData* res, CControlBase* c, const char* idName, const char* kind)
{
    for (int32_t more = res->FirstItem(); more; more = res->NextItem()) {
        if (strcasecmp(res->GetKeyword(), "AnimLine") != 0)
            continue;
        int32_t forState = 0, n[4] = {};
        if (res->GetString(0) == nullptr || !res->GetResFlags(0, &forState))
            return xErrorf("Unable to get the bitmap type from animLine in the \"%s\" button", idName);
        char* line = res->GetString(1);
        bool good = line != nullptr;
        for (int32_t i = 0; good && i < 4; ++i)
            good = res->GetLong(i < 2 ? 2 + i : 3 + i, &n[i]) != 0;
        if (!good)
            return xErrorf("Unable to get the AnimLines in the \"%s\" %s ctrl", idName, kind);
        const char* animName = res->GetString(4);
        if (animName == nullptr)
            return xErrorf("animationname is invalid in the \"%s\" button", idName);
        TCntrlAnim* anim = nullptr;
        if (strcasecmp(animName, "None") != 0 && (anim = res->GetAnim(4)) == nullptr)
            return xErrorf("animation is invalid in the \"%s\" button", idName);
        char* object = res->GetString(7);
        if (object == nullptr)
            return xErrorf("Unable to get one of the animLine new object in the \"%s\" button", idName);
        CBitmap* b[4] = {};
        for (int32_t i = 0; i < 4 && res->GetString(8 + i) != nullptr; ++i)
            if ((b[i] = res->GetBitmap(8 + i)) == nullptr)
                return xErrorf("Unable to get one of the animLine bitmaps in the \"%s\" button", idName);
        c->SetFlag(CNTRL_HASBITMAP);
        if (!c->SetAnimLine(forState, line, n[0], n[1], anim, n[2], n[3], object, b[0], b[1], b[2], b[3]))
            return xErrorf("ctrl->SetAnimLine failed for the \"%s\" button", idName);
    }
    return TRUE;
}

int32_t CDialog::ReadCommonItems(CResData* res, CControlBase* c, const char* idName, const char* kind)
{
    if (res->FindItem("Bitmap")) {
        CBitmap* b[4];
        if (!FourBitmaps(res, b))
            return xErrorf("Unable to get the Bitmap's in the \"%s\" %s ctrl", idName, kind);
        c->SetBitmap(b[0], b[1], b[2], b[3]);
    }
    if (res->FindItem("AnimBitmap")) {
        // Up to three animations: normal, pressed, highlight; "None" skips one.
        static const int32_t kStates[3] = {XGUI_RELEASED, XGUI_PRESSED, XGUI_HIGHLIGHT};
        static const int32_t kFlags[3] = {CNTRL_ANIMNORMAL, CNTRL_ANIMPRESSED, CNTRL_ANIMHIGHLIGHT};
        int32_t n = res->GetNumStrings();
        if (n < 1 || n > 3)
            return xErrorf("Unable to get the AnimBitmap's in the \"%s\" %s ctrl", idName, kind);
        for (int32_t i = 0; i < n; ++i) {
            if (strcasecmp(res->GetString(i), "None") == 0)
                continue;
            TCntrlAnim* a = res->GetAnim(i);
            if (a == nullptr)
                return xErrorf("Unable to get the AnimBitmap's in the \"%s\" %s ctrl", idName, kind);
            c->SetFlag(kFlags[i]);
            c->SetAnimBitmap(a, kStates[i], ANIM_LOOP);
        }
    }
    if (!ReadAnimLines(res, c, idName, kind))
        return FALSE;
    if (res->FindItem("TextBufferSize")) {
        int32_t size = 0;
        if (!res->GetLong(0, &size) || size < 1)
            return xErrorf("Unable to get the buffer size in the \"%s\" %s ctrl", idName, kind);
        // The text so far is kept, cut to the new size.
        const char* old = c->text;
        size_t keep = old != nullptr ? std::strlen(old) : 0;
        char* copy = static_cast<char*>(XALLOC(keep + 1));
        if (copy == nullptr)
            return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        if (keep > 0)
            std::memcpy(copy, old, keep);
        copy[keep] = 0;
        char* buf = c->AllocBuffer(size);
        if (buf != nullptr) {
            keep = keep < static_cast<size_t>(size) ? keep : static_cast<size_t>(size) - 1;
            std::memcpy(buf, copy, keep);
            buf[keep] = 0;
        }
        XFREE(copy);
        if (buf == nullptr)
            return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    if (res->FindItem("Font")) {
        CFont* f = res->GetString(0) != nullptr ? res->GetFont(0) : nullptr;
        if (f == nullptr)
            return xErrorf("Unable to get the font in the \"%s\" %s ctrl", idName, kind);
        c->SetFont(f, nullptr);
    }
    if (res->FindItem("TextColor")) {
        TRGBA col;
        if (res->GetString(0) == nullptr || !res->GetColor(0, &col, 0))
            return xErrorf("Unable to get the text color in the \"%s\" %s ctrl", idName, kind);
        c->SetTextColor(col);
    }
    if (res->FindItem("Colors")) {
        TCntrlColor* s[4];
        int32_t bad = -1;
        if (!FourColorSets(res, s, &bad))
            return xErrorf("Unable to get color nr %ld in the \"%s\" %s ctrl", static_cast<long>(bad), idName,
                           kind);
        c->SetColors(s[0], s[1], s[2], s[3]);
    }
    if (res->FindItem("Alpha")) {
        int32_t a = 0;
        if (!res->GetLong(0, &a))
            return xErrorf("Unable to get the alpha value for \"%s\" %s ctrl", idName, kind);
        c->SetAlpha(a);
    }
    return TRUE;
}

TGuiCtrl* CDialog::GetGuiCtrl(int32_t ctrlId)
{
    if (ctrlId == -1)
        return static_cast<TGuiCtrl*>(guiCtrls.Get());
    guiCtrls.Push();
    TGuiCtrl* found = nullptr;
    for (int16_t ok = guiCtrls.First(); ok && found == nullptr; ok = guiCtrls.Next()) {
        auto* g = static_cast<TGuiCtrl*>(guiCtrls.Get());
        if (g->id == ctrlId)
            found = g;
    }
    guiCtrls.Pop();
    return found;
}

CControlBase* CDialog::GetCtrl(int32_t ctrlId)
{
    TGuiCtrl* g = GetGuiCtrl(ctrlId);
    return g != nullptr ? g->cntrl : nullptr;
}

int32_t CDialog::SetText(int32_t ctrlId, const char* text)
{
    CControlBase* c = GetCtrl(ctrlId);
    return c != nullptr ? c->SetText(text) : FALSE;
}

char* CDialog::GetTextBuffer(int32_t ctrlId, int32_t refresh)
{
    CControlBase* c = GetCtrl(ctrlId);
    return c != nullptr ? c->GetTextBuffer(refresh) : nullptr;
}

int32_t CDialog::GetTextBufferSize(int32_t ctrlId)
{
    CControlBase* c = GetCtrl(ctrlId);
    return c != nullptr ? c->GetTextBufferSize() : 0;
}

int32_t CDialog::SetValue(int32_t ctrlId, int32_t value)
{
    TGuiCtrl* g = GetGuiCtrl(ctrlId);
    if (g == nullptr || g->type != XDLG_PROGRESS)
        return FALSE;
    return xDlgSetProgress(g->cntrl, value);
}

int32_t CDialog::Destroy()
{
    CWinCtrl* root = Root();
    if (root != nullptr && root->FindWindow(id) == this)
        root->RemoveWindow(id);
    RemoveAllCntrl();
    for (int16_t ok = guiCtrls.First(); ok; ok = guiCtrls.Next()) {
        auto* g = static_cast<TGuiCtrl*>(guiCtrls.Get());
        if (g->type == XDLG_GROUPBOX)
            xDlgReleaseGroup(g->cntrl);
    }
    // Last first: the members of a group box go before the box.
    while (guiCtrls.Last()) {
        auto* g = static_cast<TGuiCtrl*>(guiCtrls.Get());
        guiCtrls.Delete();
        xDlgDiscard(g->cntrl);
        XDELETE(g);
    }
    return CWindow::Destroy();
}
