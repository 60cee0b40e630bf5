// Run-time loaded modules through dlopen/dlsym, and the library's own folder
// (so a module installed beside libtarvex.so is found without a library path).
#include "platform.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace tvp
{

namespace
{
char g_moduleError[512] = "";

void RememberError()
{
    const char* e = dlerror();
    std::snprintf(g_moduleError, sizeof g_moduleError, "%s", e != nullptr ? e : "unknown loader error");
}
} // namespace

void* LoadModule(const char* path)
{
    if (path == nullptr || *path == 0) {
        std::snprintf(g_moduleError, sizeof g_moduleError, "no module name");
        return nullptr;
    }
    // Modules stay mapped after their last close: what they pull in (audio
    // and GLib libraries) keeps thread and global state that must not vanish
    // under it. The handle and every symbol are still given up on close.
    void* m = dlopen(path, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (m == nullptr)
        RememberError();
    return m;
}

void* ModuleSymbol(void* module, const char* name)
{
    if (module == nullptr || name == nullptr)
        return nullptr;
    dlerror();
    void* p = dlsym(module, name);
    if (p == nullptr)
        RememberError();
    return p;
}

void FreeModule(void* module)
{
    if (module != nullptr)
        dlclose(module);
}

const char* ModuleError() { return g_moduleError; }

bool LibraryFolder(char* buf, size_t n)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || info.dli_fname == nullptr)
        return false;
    const char* slash = std::strrchr(info.dli_fname, '/');
    size_t len = slash != nullptr ? static_cast<size_t>(slash - info.dli_fname) + 1 : 0;
    if (len + 1 > n)
        return false;
    std::memcpy(buf, info.dli_fname, len);
    buf[len] = 0;
    return true;
}

} // namespace tvp
