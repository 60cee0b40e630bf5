// Files, folders and drives on Windows. File times are the system's own
// 1601-based times; drives are the drive letters.
#include "platform/platform.h"

#include "platform/win.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <direct.h>
#include <string>
#include <string_view>

namespace tvp
{

namespace
{

bool CopyOut(std::string_view s, char* buf, size_t n)
{
    if (buf == nullptr || s.size() + 1 > n)
        return false;
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    return true;
}

// The errno value of the system's last error, for the callers that expect one.
int32_t ErrnoFromSystem(DWORD code)
{
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EACCES;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_DISK_FULL:
        return ENOSPC;
    default:
        return EIO;
    }
}

// Case-blind wildcard match with "*" and "?", as the system's own folder
// searches compare names.
bool Matches(const char* pat, const char* name)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != 0) {
        if (*pat == '*') {
            star = pat++;
            resume = name;
        } else if (*pat == '?' || std::tolower(static_cast<unsigned char>(*pat)) ==
                                      std::tolower(static_cast<unsigned char>(*name))) {
            ++pat;
            ++name;
        } else if (star != nullptr) {
            pat = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pat == '*')
        ++pat;
    return *pat == 0;
}

} // namespace

bool GetCwd(char* buf, size_t n)
{
    return buf != nullptr && n > 0 && n <= 0x7FFFFFFF && _getcwd(buf, static_cast<int>(n)) != nullptr;
}

bool ChDir(const char* dir) { return dir != nullptr && _chdir(dir) == 0; }

int32_t MkDir(const char* dir)
{
    if (dir == nullptr)
        return EINVAL;
    return _mkdir(dir) == 0 ? 0 : errno;
}

bool FileWriteTime(const char* name, uint32_t& low, uint32_t& high)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (name == nullptr || !::GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        return false;
    low = data.ftLastWriteTime.dwLowDateTime;
    high = data.ftLastWriteTime.dwHighDateTime;
    return true;
}

bool IsDirectory(const char* path, bool* exists)
{
    const DWORD attr = path != nullptr ? ::GetFileAttributesA(path) : INVALID_FILE_ATTRIBUTES;
    const bool found = attr != INVALID_FILE_ATTRIBUTES;
    if (exists != nullptr)
        *exists = found;
    return found && (attr & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SetWritable(const char* name)
{
    const DWORD attr = name != nullptr ? ::GetFileAttributesA(name) : INVALID_FILE_ATTRIBUTES;
    if (attr == INVALID_FILE_ATTRIBUTES)
        return false;
    return (attr & FILE_ATTRIBUTE_READONLY) == 0 ||
           ::SetFileAttributesA(name, attr & ~FILE_ATTRIBUTE_READONLY);
}

int32_t RemoveFile(const char* name)
{
    if (name == nullptr)
        return EINVAL;
    return ::DeleteFileA(name) ? 0 : ErrnoFromSystem(::GetLastError());
}

int32_t RenameFile(const char* oldName, const char* newName)
{
    if (oldName == nullptr || newName == nullptr)
        return EINVAL;
    // Replaces an existing target, as rename does on POSIX.
    return ::MoveFileExA(oldName, newName, MOVEFILE_REPLACE_EXISTING) ? 0 : ErrnoFromSystem(::GetLastError());
}

bool TempDir(char* buf, size_t n)
{
    char path[MAX_PATH + 1];
    const DWORD len = ::GetTempPathA(sizeof path, path);
    if (len == 0 || len > MAX_PATH)
        return false;
    std::string dir(path, len);
    for (char& c : dir)
        if (c == '\\')
            c = '/';
    if (dir.back() != '/')
        dir.push_back('/');
    return CopyOut(dir, buf, n);
}

bool ListFolder(const char* folder, const char* pattern, DirVisitor visit, void* ctx)
{
    if (visit == nullptr)
        return false;
    std::string dir = (folder == nullptr || *folder == '\0') ? "." : folder;
    // "*.*" is the classic "everything", names without a dot included.
    std::string pat = (pattern == nullptr || *pattern == '\0') ? "*" : pattern;
    if (pat == "*.*")
        pat.erase(1);
    if (dir.back() != '/' && dir.back() != '\\')
        dir.push_back('\\');
    WIN32_FIND_DATAA data{};
    HANDLE h = ::FindFirstFileA((dir + "*").c_str(), &data);
    if (h == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const char* name = data.cFileName;
        if (!Matches(pat.c_str(), name))
            continue;
        const bool isDir = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool hidden = name[0] == '.' || (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        if (!visit(ctx, name, isDir, hidden))
            break;
    } while (::FindNextFileA(h, &data));
    ::FindClose(h);
    return true;
}

int32_t ListDrives(DriveInfo* out, int32_t max)
{
    if (out == nullptr || max <= 0)
        return 0;
    int32_t count = 0;
    const DWORD mask = ::GetLogicalDrives();
    for (int letter = 0; letter < 26 && count < max; ++letter) {
        if ((mask & (1u << letter)) == 0)
            continue;
        DriveInfo info{};
        std::snprintf(info.root, sizeof info.root, "%c:\\", 'A' + letter);
        switch (::GetDriveTypeA(info.root)) {
        case DRIVE_REMOVABLE:
            info.type = tvp::DRIVE_REMOVABLE;
            break;
        case DRIVE_FIXED:
            info.type = tvp::DRIVE_FIXED;
            break;
        case DRIVE_REMOTE:
            info.type = tvp::DRIVE_REMOTE;
            break;
        case DRIVE_CDROM:
            info.type = tvp::DRIVE_CDROM;
            break;
        default:
            continue;
        }
        char label[MAX_PATH + 1] = "";
        if (::GetVolumeInformationA(info.root, label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
            std::snprintf(info.label, sizeof info.label, "%s", label);
        out[count++] = info;
    }
    return count;
}

} // namespace tvp
