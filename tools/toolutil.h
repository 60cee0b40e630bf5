// What the command-line tools share: the library's globals for the run of a
// tool, and reading a whole file.
#pragma once

#include <tarvex/tarvex.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace tvtool
{

// Creates the globals the way an application does and releases them at the
// end of the tool's run (ok is false when xCreateGlobals failed).
class Globals
{
  public:
    Globals()
    {
        glb = m_glb.get();
        sglb = m_sglb.get();
        ok = xCreateGlobals() == TRUE;
    }
    ~Globals()
    {
        if (ok)
            xFreeGlobals();
        glb = nullptr;
        sglb = nullptr;
    }
    Globals(const Globals&) = delete;
    Globals& operator=(const Globals&) = delete;
    bool ok = false;

  private:
    std::unique_ptr<SGlobals> m_glb = std::make_unique<SGlobals>();
    std::unique_ptr<SSysGlobals> m_sglb = std::make_unique<SSysGlobals>();
};

// The whole file appended to out; false (errno set) when it cannot be read.
template <class Byte> bool ReadAll(const char* name, std::vector<Byte>& out)
{
    static_assert(sizeof(Byte) == 1);
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr)
        return false;
    Byte buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.insert(out.end(), buf, buf + n);
    bool ok = std::ferror(f) == 0;
    int saved = errno;
    std::fclose(f);
    errno = saved;
    return ok;
}

} // namespace tvtool
