// tarvex_scramble: makes and reads back the scrambled files the library's
// picture and sound loaders accept.
//   scramble <in> <out>     writes in scrambled (refuses a scrambled in)
//   unscramble <in> <out>   writes the original back (refuses a plain in)
//   check <file>...         says of every file whether it is scrambled
// The same input always gives the same bytes; in and out may be one file
// (the output is written beside it and renamed over it at the end).
#include "../toolutil.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#endif

namespace
{

const char* const kTool = "tarvex_scramble";

void Usage()
{
    std::fprintf(stderr,
                 "usage: %s scramble <in> <out>\n"
                 "       %s unscramble <in> <out>\n"
                 "       %s check <file>...\n",
                 kTool, kTool, kTool);
}

int Fail(const std::string& text)
{
    std::fprintf(stderr, "%s: %s\n", kTool, text.c_str());
    return 1;
}

std::string SysError(const char* what, const char* name)
{
    return std::string(what) + " " + name + ": " + std::strerror(errno);
}

// Renames from over to; Windows' rename refuses an existing target.
bool MoveOver(const char* from, const char* to)
{
#ifdef _WIN32
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
#else
    return std::rename(from, to) == 0;
#endif
}

// Writes a new file beside name and renames it over name, so that a failed
// write leaves name as it was (also when name is the input).
bool WriteAll(const char* name, const uint8_t* data, size_t size)
{
    std::string tmp = std::string(name) + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
#ifdef _WIN32
    // The new file is writable by its owner, as any file made there.
    bool ok = true;
#else
    mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
#endif
    for (size_t at = 0; ok && at < size;) {
        ssize_t n = write(fd, data + at, size - at);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        at += ok ? static_cast<size_t>(n) : 0;
    }
    ok = close(fd) == 0 && ok;
    ok = ok && MoveOver(tmp.c_str(), name);
    if (!ok) {
        int saved = errno;
        std::remove(tmp.c_str());
        errno = saved;
    }
    return ok;
}

int Scramble(const char* in, const char* out)
{
    std::vector<uint8_t> data;
    if (!tvtool::ReadAll(in, data))
        return Fail(SysError("cannot read", in));
    if (data.size() > UINT32_MAX - XCRYPT_MARKER_SIZE)
        return Fail(std::string(in) + " is too large to scramble (at most 4 GiB)");
    const auto n = static_cast<uint32_t>(data.size());
    if (xIsCrypt(data.data(), n))
        return Fail(std::string(in) +
                    " is already scrambled: refused, as a file scrambled twice does not load "
                    "as the original (unscramble it first)");
    data.resize(n + XCRYPT_MARKER_SIZE);
    if (!xEncrypt(data.data(), n, static_cast<uint32_t>(data.size())))
        return Fail(std::string("cannot scramble ") + in + ": " + glb->error.GetError());
    if (!WriteAll(out, data.data(), data.size()))
        return Fail(SysError("cannot write", out));
    std::printf("%s: %u bytes -> %s: %zu bytes, scrambled\n", in, static_cast<unsigned>(n), out, data.size());
    return 0;
}

int Unscramble(const char* in, const char* out)
{
    std::vector<uint8_t> data;
    if (!tvtool::ReadAll(in, data))
        return Fail(SysError("cannot read", in));
    if (data.size() > UINT32_MAX || !xIsCrypt(data.data(), static_cast<uint32_t>(data.size())))
        return Fail(std::string(in) + " is not scrambled");
    const auto n = static_cast<uint32_t>(data.size());
    xDecrypt(data.data(), n);
    data.resize(n - XCRYPT_MARKER_SIZE);
    if (!WriteAll(out, data.data(), data.size()))
        return Fail(SysError("cannot write", out));
    std::printf("%s: %u bytes -> %s: %zu bytes, unscrambled\n", in, static_cast<unsigned>(n), out,
                data.size());
    return 0;
}

// One line per file; 1 when any file could not be read.
int Check(int count, char** names)
{
    int rc = 0;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> data;
        if (!tvtool::ReadAll(names[i], data)) {
            rc = Fail(SysError("cannot read", names[i]));
            continue;
        }
        // Files shorter than the marker are plain.
        bool scrambled =
            data.size() <= UINT32_MAX && xIsCrypt(data.data(), static_cast<uint32_t>(data.size()));
        std::printf("%s: %s\n", names[i], scrambled ? "scrambled" : "not scrambled");
    }
    return rc;
}

} // namespace

int main(int argc, char** argv)
{
    bool twoFiles =
        argc == 4 && (std::strcmp(argv[1], "scramble") == 0 || std::strcmp(argv[1], "unscramble") == 0);
    bool check = argc >= 3 && std::strcmp(argv[1], "check") == 0;
    if (!twoFiles && !check) {
        Usage();
        return 2;
    }
    tvtool::Globals globals;
    if (!globals.ok)
        return 1;
    if (check)
        return Check(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "scramble") == 0)
        return Scramble(argv[2], argv[3]);
    return Unscramble(argv[2], argv[3]);
}
