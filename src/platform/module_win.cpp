// Run-time loaded modules through LoadLibrary/GetProcAddress, and the
// library's own folder (so a module installed beside tarvex.dll is found).
#include "platform/platform.h"

#include "platform/win.h"

#include <cstdio>
#include <cstring>

namespace tvp
{

namespace
{
char g_moduleError[512] = "";

void RememberError()
{
    const DWORD code = ::GetLastError();
    char text[400] = "";
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                     code, 0, text, sizeof text, nullptr);
    // The system's texts end in a line break.
    for (DWORD i = n; i > 0 && (text[i - 1] == '\r' || text[i - 1] == '\n'); --i)
        text[i - 1] = 0;
    std::snprintf(g_moduleError, sizeof g_moduleError, "error %lu: %s", static_cast<unsigned long>(code),
                  n != 0 ? text : "unknown loader error");
}
} // namespace

void* LoadModule(const char* path)
{
    if (path == nullptr || *path == 0) {
        std::snprintf(g_moduleError, sizeof g_moduleError, "no module name");
        return nullptr;
    }
    HMODULE m = ::LoadLibraryA(path);
    if (m == nullptr) {
        RememberError();
        return nullptr;
    }
    // Modules stay mapped after their last release, as on Linux: what they
    // pull in keeps thread and global state that must not vanish under it.
    HMODULE pinned = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, path, &pinned);
    return reinterpret_cast<void*>(m);
}

void* ModuleSymbol(void* module, const char* name)
{
    if (module == nullptr || name == nullptr)
        return nullptr;
    FARPROC p = ::GetProcAddress(static_cast<HMODULE>(module), name);
    if (p == nullptr)
        RememberError();
    return reinterpret_cast<void*>(p);
}

void FreeModule(void* module)
{
    if (module != nullptr)
        ::FreeLibrary(static_cast<HMODULE>(module));
}

const char* ModuleError() { return g_moduleError; }

bool LibraryFolder(char* buf, size_t n)
{
    HMODULE self = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&LibraryFolder), &self))
        return false;
    char path[MAX_PATH];
    const DWORD len = ::GetModuleFileNameA(self, path, sizeof path);
    if (len == 0 || len >= sizeof path)
        return false;
    const char* slash = std::strrchr(path, '\\');
    const size_t keep = slash != nullptr ? static_cast<size_t>(slash - path) + 1 : 0;
    if (keep + 1 > n)
        return false;
    std::memcpy(buf, path, keep);
    buf[keep] = 0;
    return true;
}

} // namespace tvp
