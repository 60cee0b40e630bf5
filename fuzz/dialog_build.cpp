// Fuzz target for dialogs: the bytes are resource script text. Every define
// is tried as a window id, building its dialog under a GUI root (no
// screen); a dialog either builds or fails cleanly, its controls answer the
// dialog's look-ups, and destroying it leaves no tracked block behind.
#include "fuzz_globals.h"

#include <tarvex/tarvex.h>

#include <cstring>
#include <vector>

namespace
{

[[noreturn]] void Die(const char* what) { fuzzglb::Stop("dialog_build", what); }

void Check(const uint8_t* data, size_t size)
{
    std::vector<char> text(size + 1);
    if (size != 0)
        std::memcpy(text.data(), data, size);
    text[size] = 0;
    CResData* res = XNEW(CResData);
    if (res == nullptr)
        Die("no memory");
    res->Import(text.data());
    std::vector<int32_t> ids;
    for (const SLListNode* n = res->defines.first; n != nullptr && ids.size() < 16; n = n->next)
        ids.push_back(static_cast<TResDefine*>(n->data)->id);
    CWinCtrl* root = glb->rootWindow;
    for (int32_t id : ids) {
        auto* d = XNEW(CDialog);
        if (d->Create(res, id, nullptr, 0, nullptr)) {
            if (root->FindWindow(id) != d)
                Die("a built dialog is not in the GUI root");
            for (d->First(); d->Exists(); d->Next()) {
                TGuiCtrl* g = d->GetGuiCtrl(-1);
                if (g == nullptr || g->cntrl == nullptr || d->GetCtrl(g->id) == nullptr)
                    Die("a control is not found by its id");
                d->GetTextBuffer(g->id, 0);
                d->SetValue(g->id, 50);
            }
        } else if (d->guiCtrls.GetNumNodes() != 0 || d->NumCntrls() != 0) {
            Die("a failed dialog kept controls");
        }
        d->Destroy();
        XDELETE(d);
        if (root->windows.GetNumNodes() != 0)
            Die("a destroyed dialog stayed in the GUI root");
    }
    XDELETE(res);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzzglb::RunWithGlobals("dialog_build", true, Check, data, size);
}
