// Files, folders and drives on the POSIX side.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each test works in a fresh folder of its own, so repeated runs start clean.
class PlatformFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int serial = 0;
        ASSERT_NE(getcwd(home, sizeof home), nullptr);
        const std::string dir = std::string("files-") + std::to_string(getpid()) + "-" + std::to_string(++serial);
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override { ASSERT_EQ(chdir(home), 0); }
    char home[4096] = {};
};

uint64_t FileTime(const char* name)
{
    uint32_t lo = 0, hi = 0;
    EXPECT_TRUE(tvp::FileWriteTime(name, lo, hi));
    return (static_cast<uint64_t>(hi) << 32) | lo;
}

void Touch(const char* name)
{
    std::ofstream(name) << "x";
}

TEST_F(PlatformFiles, WriteTimeCountsFrom1601)
{
    Touch("now.txt");
    const uint64_t now = (static_cast<uint64_t>(time(nullptr)) + 11644473600ull) * 10000000ull;
    const uint64_t ft = FileTime("now.txt");
    const uint64_t diff = ft > now ? ft - now : now - ft;
    EXPECT_LT(diff, 60ull * 10000000ull) << "a fresh file is about now";

    struct Case {
        time_t sec;
        long nsec;
        uint64_t expected;
    };
    const Case cases[] = {
        {0, 0, 116444736000000000ull},
        {1, 999999999, 116444736000000000ull + 19999999ull},
        {1700000000, 123456789, 116444736000000000ull + 17000000000000000ull + 1234567ull},
    };
    for (const Case& c : cases) {
        const timespec times[2] = {{c.sec, c.nsec}, {c.sec, c.nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, "now.txt", times, 0), 0);
        EXPECT_EQ(FileTime("now.txt"), c.expected) << c.sec;
    }
    uint32_t lo = 0, hi = 0;
    EXPECT_FALSE(tvp::FileWriteTime("missing.txt", lo, hi));
}

TEST_F(PlatformFiles, DirectoriesAndFileOperations)
{
    EXPECT_EQ(tvp::MkDir("sub"), 0);
    EXPECT_EQ(tvp::MkDir("sub"), EEXIST);
    EXPECT_EQ(tvp::MkDir("no/such/parent"), ENOENT);
    bool exists = false;
    EXPECT_TRUE(tvp::IsDirectory("sub", &exists));
    EXPECT_TRUE(exists);
    Touch("plain.txt");
    EXPECT_FALSE(tvp::IsDirectory("plain.txt", &exists));
    EXPECT_TRUE(exists);
    EXPECT_FALSE(tvp::IsDirectory("missing", &exists));
    EXPECT_FALSE(exists);

    char here[4096];
    ASSERT_TRUE(tvp::GetCwd(here, sizeof here));
    char tiny[2];
    EXPECT_FALSE(tvp::GetCwd(tiny, sizeof tiny));
    ASSERT_TRUE(tvp::ChDir("sub"));
    char inside[4096];
    ASSERT_TRUE(tvp::GetCwd(inside, sizeof inside));
    EXPECT_EQ(std::string(inside), std::string(here) + "/sub");
    ASSERT_TRUE(tvp::ChDir(".."));
    EXPECT_FALSE(tvp::ChDir("missing"));

    ASSERT_EQ(chmod("plain.txt", 0444), 0);
    EXPECT_TRUE(tvp::SetWritable("plain.txt"));
    struct stat st{};
    ASSERT_EQ(stat("plain.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_FALSE(tvp::SetWritable("missing"));

    EXPECT_EQ(tvp::RenameFile("plain.txt", "moved.txt"), 0);
    EXPECT_EQ(tvp::RenameFile("plain.txt", "moved.txt"), ENOENT);
    EXPECT_EQ(tvp::RemoveFile("moved.txt"), 0);
    EXPECT_EQ(tvp::RemoveFile("moved.txt"), ENOENT);

    char tmp[512];
    ASSERT_TRUE(tvp::TempDir(tmp, sizeof tmp));
    ASSERT_GT(std::strlen(tmp), 0u);
    EXPECT_EQ(tmp[std::strlen(tmp) - 1], '/');
    EXPECT_TRUE(tvp::IsDirectory(tmp));
    EXPECT_FALSE(tvp::TempDir(tmp, 1));
}

struct Entry {
    std::string name;
    bool isDir;
    bool hidden;
    bool operator<(const Entry& o) const { return name < o.name; }
    bool operator==(const Entry& o) const = default;
};

bool Collect(void* ctx, const char* name, bool isDir, bool hidden)
{
    static_cast<std::set<Entry>*>(ctx)->insert({name, isDir, hidden});
    return true;
}

TEST_F(PlatformFiles, ListFolderMatchesPatterns)
{
    ASSERT_EQ(tvp::MkDir("list"), 0);
    for (const char* f : {"list/a.txt", "list/B.TXT", "list/c.bin", "list/.hidden.txt", "list/noext"})
        Touch(f);
    ASSERT_EQ(tvp::MkDir("list/d.txt"), 0);
    ASSERT_EQ(symlink("d.txt", "list/link.txt"), 0);

    struct Case {
        const char* pattern;
        std::set<Entry> expected;
    };
    const Case cases[] = {
        {"*.txt",
         {{"a.txt", false, false},
          {"B.TXT", false, false},
          {".hidden.txt", false, true},
          {"d.txt", true, false},
          {"link.txt", true, false}}},
        {"?.bin", {{"c.bin", false, false}}},
        {"*.none", {}},
        {"*",
         {{".", true, true},
          {"..", true, true},
          {"a.txt", false, false},
          {"B.TXT", false, false},
          {"c.bin", false, false},
          {".hidden.txt", false, true},
          {"noext", false, false},
          {"d.txt", true, false},
          {"link.txt", true, false}}},
    };
    for (const Case& c : cases) {
        std::set<Entry> got;
        ASSERT_TRUE(tvp::ListFolder("list", c.pattern, Collect, &got));
        EXPECT_TRUE(got == c.expected) << c.pattern << ": " << got.size() << " entries";
    }
    std::set<Entry> all, everything;
    ASSERT_TRUE(tvp::ListFolder("list/", "*.*", Collect, &everything));
    ASSERT_TRUE(tvp::ListFolder("list", "*", Collect, &all));
    EXPECT_TRUE(all == everything) << "*.* lists names without a dot too";

    int visits = 0;
    auto stopAtFirst = [](void* ctx, const char*, bool, bool) {
        ++*static_cast<int*>(ctx);
        return false;
    };
    ASSERT_TRUE(tvp::ListFolder("list", "*", stopAtFirst, &visits));
    EXPECT_EQ(visits, 1);
    EXPECT_FALSE(tvp::ListFolder("missing", "*", Collect, &all));
}

TEST_F(PlatformFiles, DrivesStartWithTheRoot)
{
    tvp::DriveInfo drives[32];
    const int32_t n = tvp::ListDrives(drives, 32);
    ASSERT_GE(n, 1);
    EXPECT_STREQ(drives[0].root, "/");
    EXPECT_STREQ(drives[0].label, "");
    EXPECT_EQ(drives[0].type, tvp::DRIVE_FIXED);
    std::set<std::string> roots;
    for (int32_t i = 0; i < n; ++i) {
        const std::string root = drives[i].root;
        ASSERT_FALSE(root.empty());
        EXPECT_EQ(root.back(), '/') << root;
        EXPECT_TRUE(roots.insert(root).second) << "duplicate " << root;
        EXPECT_TRUE(drives[i].type == tvp::DRIVE_FIXED || drives[i].type == tvp::DRIVE_REMOVABLE ||
                    drives[i].type == tvp::DRIVE_REMOTE || drives[i].type == tvp::DRIVE_CDROM);
    }
    EXPECT_EQ(tvp::ListDrives(drives, 1), 1);
    EXPECT_EQ(tvp::ListDrives(drives, 0), 0);
}

} // namespace
