// Whole-file and directory utilities, folder and drive listings, handing
// files and addresses to the desktop, CRC-32 and the scrambled-file test.
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/strings.h>

#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int32_t xFileExists(const char* name)
{
    if (name == nullptr)
        return FALSE;
    bool exists = false;
    if (tvp::IsDirectory(name, &exists) || !exists)
        return FALSE;
    FILE* f = std::fopen(name, "rb");
    if (f == nullptr)
        return FALSE;
    std::fclose(f);
    return TRUE;
}

int32_t xDoFileExists(const char* name) { return xFileExists(name); }

int32_t xFileDelete(const char* name)
{
    int32_t err = name != nullptr ? tvp::RemoveFile(name) : ENOENT;
    if (err == 0)
        return TRUE;
    if (err == EACCES || err == EPERM || err == EROFS)
        return xError_Func(XERR_READONLY, nullptr, 0);
    return xError_Func(XERR_DELETE, nullptr, 0);
}

int32_t xFileRename(const char* newName, const char* oldName)
{
    int32_t err = (newName != nullptr && oldName != nullptr) ? tvp::RenameFile(oldName, newName) : ENOENT;
    if (err == 0)
        return TRUE;
    if (err == ENOENT)
        return xError_Func(XERR_NOT_FOUND, nullptr, 0);
    return xError_Func(XERR_RENAME, nullptr, 0);
}

int32_t xFileSize(const char* name, uint32_t* size)
{
    CFile f;
    return f.Open(name, XFILE_READ) && f.GetSize(size) ? TRUE : FALSE;
}

int32_t xReadFile(const char* name, void* buf, uint32_t n)
{
    CFile f;
    return f.Open(name, XFILE_READ) && f.Read(buf, n) ? TRUE : FALSE;
}

int32_t xWriteFile(const char* name, const void* buf, uint32_t n)
{
    CFile f;
    return f.Open(name, XFILE_WRITE) && f.Write(buf, n) ? TRUE : FALSE;
}

int32_t xCopyFile(const char* dst, const char* src)
{
    CFile in, out;
    if (!in.Open(src, XFILE_READ) || !out.Open(dst, XFILE_WRITE | XFILE_CREATE_DIRS))
        return FALSE;
    char piece[512];
    for (;;) {
        size_t got = std::fread(piece, 1, sizeof piece, in.handle);
        if (got != 0 && !out.Write(piece, static_cast<uint32_t>(got)))
            return FALSE;
        if (got < sizeof piece)
            return std::ferror(in.handle) ? xError_Func(XERR_READ, nullptr, 0) : TRUE;
    }
}

int32_t xRemoveReadOnly(const char* name)
{
    if (!xFileExists(name))
        return FALSE;
    return tvp::SetWritable(name) ? TRUE : FALSE;
}

int32_t xFileGetLastWriteTime(const char* name, uint32_t& low, uint32_t& high)
{
    if (!xFileExists(name))
        return FALSE;
    return tvp::FileWriteTime(name, low, high) ? TRUE : FALSE;
}

// Creates every missing directory on the path of a file. Absolute paths stay
// absolute and relative ones relative to the current directory; the current
// directory itself is never changed.
int32_t xCreateDirsForFile(const char* path)
{
    if (path == nullptr)
        return xErrorTxt_Func("xCreateDirsForFile: Parsing error!", nullptr, 0);
    std::string dir(path);
    size_t cut = dir.find_last_of("/\\");
    if (cut == std::string::npos)
        return TRUE; // a bare file name: nothing to create
    dir.resize(cut + 1);
    for (char& c : dir)
        if (c == '\\')
            c = '/';
    size_t pos = 0;
    while (pos < dir.size()) {
        size_t next = dir.find('/', pos);
        if (next == std::string::npos)
            next = dir.size();
        if (next > pos) {
            std::string part = dir.substr(0, next);
            std::string leaf = dir.substr(pos, next - pos);
            if (leaf != "." && leaf != "..") {
                bool exists = false;
                bool isDir = tvp::IsDirectory(part.c_str(), &exists);
                if (!exists) {
                    int32_t err = tvp::MkDir(part.c_str());
                    if (err != 0 && err != EEXIST)
                        return xErrorf("Unable to create dir %s. Errorcode: %ld", dir.c_str(),
                                       static_cast<long>(err));
                } else if (!isDir) {
                    return xErrorf("Unable to change dir %s.", part.c_str());
                }
            }
        }
        pos = next + 1;
    }
    return TRUE;
}

char* xGetWorkingDirectory()
{
    auto* s = static_cast<char*>(XALLOC(257));
    if (s == nullptr)
        return nullptr;
    if (!tvp::GetCwd(s, 257)) {
        XFREE(s);
        return nullptr;
    }
    return s;
}

int32_t xSetWorkingDirectory(const char* dir)
{
    if (dir != nullptr && tvp::ChDir(dir))
        return TRUE;
    return xErrorTxt_Func("xSetWorkingDirectory: Unable to set the directory", nullptr, 0);
}

// A directory the process could change into: it exists and may be searched.
int32_t xDoDirectoryExists(const char* dir)
{
    if (dir == nullptr)
        return FALSE;
    return tvp::IsDirectory(dir) && ::access(dir, X_OK) == 0 ? TRUE : FALSE;
}

int xFolderExists(const char* path)
{
    if (path == nullptr)
        return xErrorTxt_Func("xFolderExists: No path.", nullptr, 0);
    return tvp::IsDirectory(path) ? 0x10 : 0; // the directory attribute bit
}

int32_t xAddDrives(CLList* list, char first, char last)
{
    if (list == nullptr)
        return FALSE;
    tvp::DriveInfo drives[26];
    int32_t n = tvp::ListDrives(drives, 26);
    int lo = first - 'A', hi = last - 'A';
    if (lo < 0)
        lo = 0;
    for (int i = lo; i <= hi && i < n; ++i) {
        const tvp::DriveInfo& d = drives[i];
        if (d.type == tvp::DRIVE_NONE)
            continue;
        const char* label = d.label;
        if (*label == 0) {
            switch (d.type) {
            case tvp::DRIVE_REMOVABLE:
                label = "Removable Disk";
                break;
            case tvp::DRIVE_FIXED:
                label = "Fixed Disk";
                break;
            case tvp::DRIVE_REMOTE:
                label = "Remote Disk";
                break;
            case tvp::DRIVE_CDROM:
                label = "Compact Disc";
                break;
            default:
                label = "Unknown Disk";
                break;
            }
        }
        size_t len = std::strlen(d.root) + std::strlen(label) + 4;
        auto* s = static_cast<char*>(XALLOC(len));
        if (s == nullptr)
            return FALSE;
        std::snprintf(s, len, "%s (%s)", d.root, label);
        if (!list->InsertLast(s)) {
            XFREE(s);
            return FALSE;
        }
    }
    return TRUE;
}

namespace
{
struct FolderCtx {
    CLList* list;
    std::string prefix;
    int dirs, files, fullPath;
    bool failed;
};

bool AddEntry(void* ctx, const char* name, bool isDir, bool hidden)
{
    auto* c = static_cast<FolderCtx*>(ctx);
    if (std::strcmp(name, ".") == 0 || (hidden && std::strcmp(name, "..") != 0))
        return true;
    if (isDir ? !c->dirs : !c->files)
        return true;
    std::string text = c->fullPath ? c->prefix + name : std::string(name);
    auto* s = static_cast<char*>(XALLOC(text.size() + 1));
    if (s == nullptr || !c->list->InsertLast(s)) {
        if (s != nullptr)
            XFREE(s);
        c->failed = true;
        return false;
    }
    std::memcpy(s, text.c_str(), text.size() + 1);
    return true;
}
} // namespace

int32_t xAddFolderContent(CLList* list, const char* folder, const char* pattern, int dirs, int files,
                          int fullPath)
{
    if (list == nullptr || folder == nullptr)
        return FALSE;
    FolderCtx ctx{list, folder, dirs, files, fullPath, false};
    if (ctx.prefix.empty() || (ctx.prefix.back() != '/' && ctx.prefix.back() != '\\'))
        ctx.prefix += '/';
    if (!tvp::ListFolder(ctx.prefix.c_str(), pattern != nullptr ? pattern : "*", AddEntry, &ctx))
        return FALSE;
    return ctx.failed ? FALSE : TRUE;
}

int32_t xExecuteFile(const char* file, const char* params)
{
    int32_t answer = tvp::ShellOpen(file, params);
    if (answer > 32)
        return TRUE;
    static constexpr struct {
        int32_t answer;
        const char* text;
    } kTexts[] = {
        {0, "Unable to execute file (%s %s) The operating system is out of memory or resources."},
        {2, "Unable to execute file (%s %s) The specified file was not found."},
        {3, "Unable to execute file (%s %s) The specified path was not found."},
        {5, "Unable to execute file (%s %s) The operating system denied access to the specified file."},
        {11, "Unable to execute file (%s %s) The .exe file is invalid (non-Win32\xAE .exe or error in .exe "
             "image)."},
        {26, "Unable to execute file (%s %s) A sharing violation occurred."},
        {27, "Unable to execute file (%s %s) The file name association is incomplete or invalid."},
        {28, "Unable to execute file (%s %s) The DDE transaction could not be completed because the request "
             "timed "
             "out."},
        {29, "Unable to execute file (%s %s) The DDE transaction failed."},
        {30, "Unable to execute file (%s %s) The DDEtransaction  could not be completed because other DDE "
             "transactions were being processed."},
        {31,
         "Unable to execute file (%s %s) There is no application associated with the given file name "
         "extension. This error will also be returned if you attempt to print a file that is not printable."},
        {32, "Unable to execute file (%s %s) The specified dynamic-link library was not found."},
    };
    const char* text = "Unable to execute file (%s %s) Unknown error.";
    for (const auto& t : kTexts)
        if (t.answer == answer)
            text = t.text;
    const char* f = file != nullptr ? file : "";
    const char* p = params != nullptr ? params : "";
    if (glb != nullptr)
        glb->error.SetErrorf(text, f, p);
    return FALSE;
}

int32_t xShowURL(const char* url)
{
    if (url == nullptr)
        return FALSE;
    std::string target(url);
    if (target.rfind(".\\", 0) == 0 || target.rfind("./", 0) == 0) {
        char cwd[4096];
        if (!tvp::GetCwd(cwd, sizeof cwd))
            return xErrorTxt_Func("xShowURL: Failed to get current work dir.", nullptr, 0);
        target = std::string(cwd) + "/" + target.substr(2);
    }
    // The desktop's handler picks the default browser for addresses itself.
    return tvp::ShellOpen(target.c_str(), nullptr) > 32 ? TRUE : FALSE;
}

// ---------------------------------------------------------------- CRC-32

namespace
{

void BuildTable(uint32_t* table, uint32_t poly)
{
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int k = 0; k < 8; ++k)
            c = (c & 0x80000000u) != 0 ? (c << 1) ^ poly : c << 1;
        table[i] = c;
    }
}

// The table for poly, cached in the globals (one slot per function).
const uint32_t* TableFor(uint32_t poly, bool forFiles, uint32_t* local)
{
    if (glb == nullptr) {
        BuildTable(local, poly);
        return local;
    }
    uint32_t* table = forFiles ? glb->fileCrcTable : glb->crcTable;
    uint32_t& cachedPoly = forFiles ? glb->fileCrcPoly : glb->crcPoly;
    int32_t& valid = forFiles ? glb->fileCrcValid : glb->crcValid;
    if (!valid || cachedPoly != poly) {
        BuildTable(table, poly);
        cachedPoly = poly;
        valid = 1;
    }
    return table;
}

uint32_t Update(const uint32_t* table, uint32_t crc, const uint8_t* p, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        crc = (crc << 8) ^ table[(crc >> 24) ^ p[i]];
    return crc;
}

} // namespace

int32_t xCalcCrc(const void* data, uint32_t n, uint32_t* crc, uint32_t poly)
{
    if (crc == nullptr || (data == nullptr && n != 0))
        return FALSE;
    uint32_t local[256];
    const uint32_t* table = TableFor(poly, false, local);
    *crc = ~Update(table, 0xFFFFFFFFu, static_cast<const uint8_t*>(data), n);
    return TRUE;
}

int32_t xCalcFileCrc(const char* name, uint32_t* crc, uint32_t poly)
{
    if (crc == nullptr)
        return FALSE;
    CFile f;
    if (!f.Open(name, XFILE_READ))
        return FALSE;
    uint32_t local[256];
    const uint32_t* table = TableFor(poly, true, local);
    uint32_t c = 0xFFFFFFFFu;
    uint8_t buf[16384];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, f.handle)) != 0)
        c = Update(table, c, buf, got);
    *crc = ~c;
    if (glb != nullptr)
        glb->error.Clear();
    return TRUE;
}

// ---------------------------------------------------------------- scrambling

namespace
{
constexpr char kMarker[] = "XICRYPTEDFILE";
constexpr uint32_t kMarkerLen = 13;
} // namespace

void xDecrypt(void* data, uint32_t n)
{
    auto* p = static_cast<uint8_t*>(data);
    for (uint32_t i = 0; i < n; ++i)
        p[i] ^= XCRYPT_KEY;
}

int32_t xIsCrypt(const void* data, uint32_t n)
{
    if (data == nullptr || n < kMarkerLen)
        return FALSE;
    uint8_t tail[kMarkerLen];
    std::memcpy(tail, static_cast<const uint8_t*>(data) + n - kMarkerLen, kMarkerLen);
    xDecrypt(tail, kMarkerLen);
    return std::memcmp(tail, kMarker, kMarkerLen) == 0 ? TRUE : FALSE;
}

int32_t xEncrypt(void* data, uint32_t n, uint32_t size)
{
    static_assert(kMarkerLen == XCRYPT_MARKER_SIZE);
    if (data == nullptr)
        return xErrorf("xEncrypt: No data.");
    if (n > size || size - n < kMarkerLen)
        return xErrorf("xEncrypt: The buffer (%u bytes) has no room for %u bytes and the marker.",
                       static_cast<unsigned>(size), static_cast<unsigned>(n));
    // Scrambling twice would leave the loaders a file ending in the plain
    // marker instead of the original: refused.
    if (xIsCrypt(data, n))
        return xErrorf("xEncrypt: The data is already scrambled.");
    auto* p = static_cast<uint8_t*>(data);
    std::memcpy(p + n, kMarker, kMarkerLen);
    xDecrypt(p, n + kMarkerLen);
    return TRUE;
}

int32_t xIsFileCrypt(CFile* file)
{
    if (file == nullptr)
        return FALSE;
    uint8_t tail[kMarkerLen];
    if (!file->Seek(-static_cast<int32_t>(kMarkerLen), XSEEK_END) || !file->Read(tail, kMarkerLen) ||
        !file->Seek(0, XSEEK_SET))
        return FALSE;
    return xIsCrypt(tail, kMarkerLen);
}
