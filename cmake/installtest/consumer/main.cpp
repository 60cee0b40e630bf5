// A user's program against the installed library: starts the globals,
// packs and unpacks a text with LZSS, reads a KCBL item back, and checks the
// leak list is empty at the end. Prints "consumer ok <version>" on success.
// Built as C++11 and as C++20 with -Wall -Wextra -pedantic -Werror: the calls
// with literal texts below must compile without a warning and link.
#include <tarvex/tarvex.h>
#include <tarvex/version.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
std::string g_trace;
void CollectTrace(char* text) { g_trace += text; }
} // namespace

// The everyday calls with literal texts (compiled and linked; run only when
// asked, since they need the GUI started).
enum { IDC_OK = 1, IDC_STATUS = 2, IDC_NAME = 3 };
void LiteralCalls(CDialog& dlg, CListbox& list, CCombobox& combo, CButton& button, CEdit& edit, CMultiEdit& lines,
                  CStatic& label, CCheckbox& check, CURL& link)
{
    xMessageBox("Saved.", "Game", 0);
    dlg.SetText(IDC_STATUS, "Welcome");
    list.Add("Berlin");
    combo.Add("Paris");
    button.Create(IDC_OK, "OK", 10, 10, 60, 20, XKEY_ENTER, 0);
    edit.Create(IDC_NAME, "name", 10, 40, 100, 20, 32, 0);
    edit.SetText("player");
    lines.AddNewLine("first line");
    lines.SetTextOnLine(0, "line");
    label.Create("Score", 0, 0, 50, 10, 0);
    label.SetText("Score: 0");
    check.Create(4, "Sound", 0, 20, 80, 12, 0, 0, 0);
    link.SetURL("https://example.org/");
    CStatic* extra = XNEW(CStatic);
    XDELETE(extra);
}

static SGlobals globals;
static SSysGlobals sysGlobals;

int main(int argc, char**)
{
    glb = &globals;
    sglb = &sysGlobals;
    xSetDprintfOutput(CollectTrace);
    if (!xCreateGlobals())
        return 1;

    const char text[] = "level1 = \"maps/one.xiff\", 100\nlevel2 = \"maps/two.xiff\", 200\n";
    CLzss* lzss = XNEW(CLzss);
    uint32_t size = sizeof text;
    char* packed = lzss->CompressBuffer(text, &size);
    char unpacked[sizeof text] = {};
    uint32_t unpackedSize = sizeof unpacked;
    bool ok = packed != nullptr && lzss->ExpandBuffer(packed, size, unpacked, &unpackedSize) &&
              unpackedSize == sizeof text && std::memcmp(text, unpacked, sizeof text) == 0;
    if (packed != nullptr)
        XFREE(packed);
    XDELETE(lzss);

    CKCBL* kcbl = XNEW(CKCBL);
    int32_t value = 0;
    ok = ok && kcbl->Import(unpacked) && kcbl->FindItem("level2") && kcbl->GetLong(1, &value) && value == 200;
    XDELETE(kcbl);

    if (argc > 99) { // never in the test: the calls above are checked by the compiler and linker
        CDialog dlg;
        CListbox list;
        CCombobox combo;
        CButton button;
        CEdit edit;
        CMultiEdit lines;
        CStatic label;
        CCheckbox check;
        CURL link;
        LiteralCalls(dlg, list, combo, button, edit, lines, label, check, link);
    }

    xFreeGlobals();
    if (!ok || g_trace.find("Memory leaked") != std::string::npos) {
        std::printf("consumer failed\n%s", g_trace.c_str());
        return 1;
    }
    std::printf("consumer ok %s\n", TARVEX_VERSION_STRING);
    return 0;
}
