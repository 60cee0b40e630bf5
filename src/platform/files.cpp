// Files, folders and drives. The library thinks in file times counted from
// 1601 and in drives; this maps both onto POSIX paths and the mount table.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <memory>
#include <mntent.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tvp {

namespace {

// Seconds from 1601-01-01 to 1970-01-01, both UTC.
constexpr uint64_t kEpochDelta1601 = 11644473600ull;

bool CopyOut(std::string_view s, char* buf, size_t n)
{
    if (buf == nullptr || s.size() + 1 > n)
        return false;
    std::memcpy(buf, s.data(), s.size());
    buf[s.size()] = '\0';
    return true;
}

bool StartsWithDir(std::string_view path, std::string_view dir)
{
    return path.size() > dir.size() && path.substr(0, dir.size()) == dir && path[dir.size()] == '/';
}

} // namespace

bool GetCwd(char* buf, size_t n)
{
    return buf != nullptr && n > 0 && getcwd(buf, n) != nullptr;
}

bool ChDir(const char* dir) { return dir != nullptr && chdir(dir) == 0; }

int32_t MkDir(const char* dir)
{
    if (dir == nullptr)
        return EINVAL;
    return mkdir(dir, 0777) == 0 ? 0 : errno;
}

bool FileWriteTime(const char* name, uint32_t& low, uint32_t& high)
{
    struct stat st{};
    if (name == nullptr || stat(name, &st) != 0)
        return false;
    const uint64_t ft = (static_cast<uint64_t>(st.st_mtim.tv_sec) + kEpochDelta1601) * 10000000ull +
                        static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100u;
    low = static_cast<uint32_t>(ft);
    high = static_cast<uint32_t>(ft >> 32);
    return true;
}

bool IsDirectory(const char* path, bool* exists)
{
    struct stat st{};
    const bool found = path != nullptr && stat(path, &st) == 0;
    if (exists != nullptr)
        *exists = found;
    return found && S_ISDIR(st.st_mode);
}

bool SetWritable(const char* name)
{
    struct stat st{};
    if (name == nullptr || stat(name, &st) != 0)
        return false;
    return chmod(name, (st.st_mode & 07777) | S_IWUSR) == 0;
}

int32_t RemoveFile(const char* name)
{
    if (name == nullptr)
        return EINVAL;
    return unlink(name) == 0 ? 0 : errno;
}

int32_t RenameFile(const char* oldName, const char* newName)
{
    if (oldName == nullptr || newName == nullptr)
        return EINVAL;
    return rename(oldName, newName) == 0 ? 0 : errno;
}

bool TempDir(char* buf, size_t n)
{
    const char* env = std::getenv("TMPDIR");
    std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
    if (dir.back() != '/')
        dir.push_back('/');
    return CopyOut(dir, buf, n);
}

bool ListFolder(const char* folder, const char* pattern, DirVisitor visit, void* ctx)
{
    if (visit == nullptr)
        return false;
    const std::string dir = (folder == nullptr || *folder == '\0') ? "." : folder;
    // "*.*" is the classic "everything", names without a dot included.
    std::string pat = (pattern == nullptr || *pattern == '\0') ? "*" : pattern;
    if (pat == "*.*")
        pat.erase(1); // keep the leading "*"
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d)
        return false;
    const std::string prefix = dir.back() == '/' ? dir : dir + "/";
    // Bounded by the folder's size: readdir ends once every entry was seen.
    while (const dirent* e = readdir(d.get())) {
        const char* name = e->d_name;
        // Names compare without regard to case, as the library's callers expect.
        if (fnmatch(pat.c_str(), name, FNM_CASEFOLD) != 0)
            continue;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st{};
            isDir = stat((prefix + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (!visit(ctx, name, isDir, name[0] == '.'))
            break;
    }
    return true;
}

// Drive mapping. Linux has no drive letters, so the library's drive list is:
//   drive 0     "/"  the root filesystem, DRIVE_FIXED, no label;
//   then, in /proc/self/mounts order,
//   - network filesystems (nfs, nfs4, cifs, smb3, sshfs, fuse.sshfs, 9p)
//     wherever mounted: DRIVE_REMOTE;
//   - anything mounted at or below /media, /run/media or /mnt: DRIVE_CDROM
//     for optical filesystems (iso9660, udf), else DRIVE_REMOVABLE, labelled
//     from /dev/disk/by-label when the device has a label.
// Other mounts (system, pseudo and internal disks) are not drives. Each mount
// point appears once; roots end in "/".
namespace {

bool IsRemoteFs(std::string_view type)
{
    static constexpr std::string_view kRemote[] = {"nfs",   "nfs4",       "cifs", "smb3",
                                                   "sshfs", "fuse.sshfs", "9p"};
    for (auto t : kRemote)
        if (type == t)
            return true;
    return false;
}

bool IsMediaMount(std::string_view dir)
{
    static constexpr std::string_view kMediaRoots[] = {"/media", "/run/media", "/mnt"};
    for (auto r : kMediaRoots)
        if (dir == r || StartsWithDir(dir, r))
            return true;
    return false;
}

// The udev label links name labels with \xNN escapes for unsafe bytes.
std::string UnescapeLabel(std::string_view s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            const char hex[3] = {s[i + 2], s[i + 3], '\0'};
            char* end = nullptr;
            const long v = std::strtol(hex, &end, 16);
            if (end == hex + 2) {
                out.push_back(static_cast<char>(v));
                i += 3;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

std::string LabelOfDevice(const char* device)
{
    char real[PATH_MAX];
    if (device == nullptr || device[0] != '/' || realpath(device, real) == nullptr)
        return {};
    const std::string dir = "/dev/disk/by-label/";
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d)
        return {};
    while (const dirent* e = readdir(d.get())) {
        char target[PATH_MAX];
        if (e->d_name[0] != '.' && realpath((dir + e->d_name).c_str(), target) != nullptr &&
            std::strcmp(target, real) == 0)
            return UnescapeLabel(e->d_name);
    }
    return {};
}

} // namespace

int32_t ListDrives(DriveInfo* out, int32_t max)
{
    if (out == nullptr || max <= 0)
        return 0;
    int32_t count = 0;
    auto add = [&](std::string root, const std::string& label, int32_t type) {
        if (root.back() != '/')
            root.push_back('/');
        for (int32_t i = 0; i < count; ++i)
            if (root == out[i].root)
                return;
        DriveInfo info{};
        if (!CopyOut(root, info.root, sizeof info.root))
            return;
        // A label too long for the record is cut rather than losing the drive.
        std::snprintf(info.label, sizeof info.label, "%s", label.c_str());
        info.type = type;
        out[count++] = info;
    };
    add("/", "", DRIVE_FIXED);

    std::unique_ptr<FILE, int (*)(FILE*)> mounts(setmntent("/proc/self/mounts", "r"), endmntent);
    if (!mounts)
        return count;
    mntent ent{};
    char line[4096];
    while (count < max && getmntent_r(mounts.get(), &ent, line, sizeof line) != nullptr) {
        const std::string_view dir = ent.mnt_dir, type = ent.mnt_type;
        if (IsRemoteFs(type)) {
            add(std::string(dir), "", DRIVE_REMOTE);
        } else if (IsMediaMount(dir)) {
            const bool optical = type == "iso9660" || type == "udf";
            add(std::string(dir), LabelOfDevice(ent.mnt_fsname), optical ? DRIVE_CDROM : DRIVE_REMOVABLE);
        }
    }
    return count;
}

} // namespace tvp
