// The resource-data part of the main example: a script naming ids, a
// string, the committed font, bitmaps cut from the default-look sheet and a
// colour set is packed into a "PRES" file, loaded back without a screen and
// looked up by id and name.
#include "resdata_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace
{

// The repository's data folder: beside the working directory, or above the
// program's own folder. Written with "/" on Windows too: the script below
// quotes it, and a backslash there starts an escape.
std::string FindData()
{
    std::error_code ec;
    if (std::filesystem::exists("data/gui/look.bmp", ec))
        return std::filesystem::absolute("data", ec).generic_string();
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path()) {
        if (std::filesystem::exists(dir / "data/gui/look.bmp", ec))
            return (dir / "data").generic_string();
        if (dir == dir.parent_path())
            break;
    }
    return "data";
}

} // namespace

bool ResDataTour(const std::string& folder)
{
    const std::string data = FindData();
    const std::string script =
        "; script\n"
        "{ = Defines\n    IDW_MAIN = 100\n    IDS_HELLO = 1\n}\n"
        "{ = Strings\n    IDS_HELLO = 1, \"Hello from a packed resource file\"\n}\n"
        "{ = Fonts\n    BODY = \"" +
        data + "/fonts/dejavusans16.xbf\"\n}\n" + "{ = Bitmaps\n    { = \"" + data +
        "/gui/look.bmp\"\n        CARET = 0, 0, 12, 12\n        CHECK = 12, 0, 12, 12\n"
        "    }\n}\n"
        "{ = Colors\n    PANEL = grey, white, grey, black, white, grey, black, red\n}\n"
        "{ = Defaults\n    Font = BODY\n    Caret = CARET\n    Check = CHECK\n}\n"
        "{ = Window, IDW_MAIN\n    Create = Demo, 10, 10, 200, 100, XWIN_TITLEBAR|XWIN_DRAG\n}\n";
    uint32_t size = 0;
    char* packed = xPackRes(script.data(), static_cast<uint32_t>(script.size()), &size);
    const std::string file = folder + "/demo.res";
    bool ok = packed != nullptr && xWriteFile(file.c_str(), packed, size);
    if (packed != nullptr)
        XFREE(packed);
    CResData* res = XNEW(CResData);
    ok = ok && res != nullptr && res->Load(file.c_str()) && res->GetNumErrors() == 0;
    if (ok) {
        int32_t id = 0;
        res->GetResId("IDW_MAIN", &id);
        CBitmap* caret = res->GetBm("caret");
        std::printf("resources: %s (%u bytes packed from %zu): IDW_MAIN = %d, \"%s\", caret %dx%d, "
                    "default font %s\n",
                    file.c_str(), size, script.size(), id, res->GetResString(1, "?"),
                    caret != nullptr ? caret->width : 0, caret != nullptr ? caret->height : 0,
                    res->defaults.font != nullptr ? "set" : "missing");
    }
    XDELETE(res);
    return ok;
}
