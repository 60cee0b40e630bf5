// CMilesApi: the sound back end's entry points, resolved by name from the
// module loaded at run time. Either every entry point resolves or nothing
// stays loaded, so a caller that finds the module handle set may call any
// pointer of the table, and one that finds it null calls none.
#include <tarvex/sound.h>
#include <tarvex/error.h>

#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define TVSND_DEFINE(name, result, params) result(*CMilesApi::name) params = nullptr;
TVSND_ENTRY_POINTS(TVSND_DEFINE)
#undef TVSND_DEFINE

void* CMilesApi::m_hMilesDLL = nullptr;

namespace
{

char g_moduleName[1024] = "";

// Clears every pointer of the table.
void ClearTable()
{
#define TVSND_CLEAR(name, result, params) CMilesApi::name = nullptr;
    TVSND_ENTRY_POINTS(TVSND_CLEAR)
#undef TVSND_CLEAR
}

// The module to load: the name set by the application, else the
// environment's, else the default on the library path and then beside
// libtarvex.so.
void* OpenModule()
{
    if (g_moduleName[0] != 0)
        return tvp::LoadModule(g_moduleName);
    const char* env = std::getenv(TVSND_MODULE_ENV);
    if (env != nullptr && *env != 0)
        return tvp::LoadModule(env);
    void* m = tvp::LoadModule(TVSND_MODULE_NAME);
    char folder[1024];
    if (m == nullptr && tvp::LibraryFolder(folder, sizeof folder)) {
        std::string beside = std::string(folder) + TVSND_MODULE_NAME;
        m = tvp::LoadModule(beside.c_str());
    }
    return m;
}

} // namespace

void CMilesApi::SetModuleName(const char* path)
{
    if (path == nullptr)
        g_moduleName[0] = 0;
    else
        std::snprintf(g_moduleName, sizeof g_moduleName, "%s", path);
}

int32_t CMilesApi::LoadMilesDLL()
{
    UnloadMilesDLL();
    void* module = OpenModule();
    if (module == nullptr) {
        dprintf("CMilesApi::LoadMilesDLL: %s\n", tvp::ModuleError());
        xErrorf("CMilesApi::LoadMilesDLL: Failed to load Miles DLL.");
        return FALSE;
    }
    const char* missing = nullptr;
#define TVSND_RESOLVE(name, result, params)                                                                  \
    if (missing == nullptr) {                                                                                \
        name = reinterpret_cast<result(*) params>(tvp::ModuleSymbol(module, #name));                         \
        if (name == nullptr)                                                                                 \
            missing = #name;                                                                                 \
    }
    TVSND_ENTRY_POINTS(TVSND_RESOLVE)
#undef TVSND_RESOLVE
    if (missing != nullptr) {
        // A partial table is never left behind: nothing may call through it.
        dprintf("CMilesApi::LoadMilesDLL: Missing entry point '%s'.\n", missing);
        ClearTable();
        tvp::FreeModule(module);
        return FALSE;
    }
    m_hMilesDLL = module;
    return TRUE;
}

void CMilesApi::UnloadMilesDLL()
{
    ClearTable();
    if (m_hMilesDLL != nullptr) {
        tvp::FreeModule(m_hMilesDLL);
        m_hMilesDLL = nullptr;
    }
}
