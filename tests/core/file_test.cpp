// CFile, CBitFile, file utilities, CRC-32 and the scrambled-file test.
#include "tarvex_test.h"

#include <platform/platform.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <vector>

using tvtest::LastError;

class FileTest : public tvtest::TarvexTest
{
};

namespace
{
void WriteBytes(const char* name, const std::vector<uint8_t>& bytes)
{
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}
} // namespace

TEST_F(FileTest, TypedReadsFollowTheOpenOrder)
{
    WriteBytes("n.bin", {0x00, 0x00, 0x01, 0x00, 0x01, 0x02});
    CFile f;
    ASSERT_EQ(f.Open("n.bin", XFILE_READ | XFILE_BIG_ENDIAN), TRUE);
    int32_t l = 0;
    int16_t w = 0;
    EXPECT_EQ(f.ReadLong(&l), TRUE);
    EXPECT_EQ(l, 256);
    EXPECT_EQ(f.ReadWord(&w), TRUE);
    EXPECT_EQ(w, 0x0102);
    EXPECT_EQ(f.ReadWord(&w), FALSE);
    EXPECT_EQ(glb->error.GetErrCode(), XERR_EOF);
    int8_t b;
    EXPECT_EQ(f.ReadByte(&b), FALSE);

    ASSERT_EQ(f.Open("n.bin", XFILE_READ | XFILE_LITTLE_ENDIAN), TRUE);
    EXPECT_EQ(f.ReadLong(&l), TRUE);
    EXPECT_EQ(l, 0x00010000);

    // Writes mirror the reads.
    CFile out;
    ASSERT_EQ(out.Open("w.bin", XFILE_WRITE | XFILE_BIG_ENDIAN), TRUE);
    out.WriteLong(0x01020304);
    out.WriteFloat(1.0f);
    out.WriteDouble(2.0);
    out.Close();
    CFile in;
    ASSERT_EQ(in.Open("w.bin", XFILE_READ | XFILE_BIG_ENDIAN), TRUE);
    uint8_t first[4];
    in.Read(first, 4);
    EXPECT_EQ(first[0], 1);
    EXPECT_EQ(first[3], 4);
    float fl;
    double d;
    EXPECT_TRUE(in.ReadFloat(&fl) && in.ReadDouble(&d));
    EXPECT_EQ(fl, 1.0f);
    EXPECT_EQ(d, 2.0);
}

TEST_F(FileTest, BoundsWindow)
{
    std::vector<uint8_t> data(300);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    WriteBytes("b.bin", data);
    CFile f;
    ASSERT_EQ(f.Open("b.bin", XFILE_READ), TRUE);
    f.SetFileBounds(100, 50);
    uint32_t pos = 0, size = 0;
    f.Seek(0, XSEEK_SET);
    f.GetPos(&pos, XSEEK_RAW);
    EXPECT_EQ(pos, 100u);
    f.Seek(0, XSEEK_END);
    f.GetPos(&pos, XSEEK_RAW);
    EXPECT_EQ(pos, 150u);
    f.Seek(10, XSEEK_SET);
    EXPECT_EQ(f.GetSize(&size), TRUE);
    EXPECT_EQ(size, 50u);
    f.GetPos(&pos, 0);
    EXPECT_EQ(pos, 10u); // GetSize went back
    int8_t b;
    f.ReadByte(&b);
    EXPECT_EQ(b, 110);
    f.Seek(5, XSEEK_SET | XSEEK_RAW);
    f.ReadByte(&b);
    EXPECT_EQ(b, 5);
}

TEST_F(FileTest, OpenFailuresAndDirectoryCreation)
{
    CFile f;
    EXPECT_EQ(f.Open("missing/none.txt", XFILE_READ), FALSE);
    EXPECT_EQ(LastError(), "Unable to open file \"missing/none.txt\" with read access");
    EXPECT_EQ(f.Open("missing/none.txt", XFILE_WRITE), FALSE);
    EXPECT_EQ(LastError(), "Unable to open file \"missing/none.txt\" with write access");
    EXPECT_EQ(f.Open("deep/er/new.txt", XFILE_WRITE | XFILE_CREATE_DIRS), TRUE);
    EXPECT_EQ(f.Print("%s=%d\n", "x", 5), TRUE);
    f.Close();
    f.Close();
    char line[16];
    ASSERT_EQ(f.Open("deep/er/new.txt", XFILE_READ), TRUE);
    EXPECT_EQ(f.ReadString(line, sizeof line), 4);
    EXPECT_STREQ(line, "x=5\n");
    EXPECT_EQ(f.ReadString(line, sizeof line), 0);

    // An absolute path gets its directories where it says.
    char* cwd = xGetWorkingDirectory();
    std::string abs = std::string(cwd) + "/abs/one/f.txt";
    XFREE(cwd);
    EXPECT_EQ(xCreateDirsForFile(abs.c_str()), TRUE);
    EXPECT_EQ(xDoDirectoryExists("abs/one"), TRUE);
    EXPECT_EQ(xDoDirectoryExists("abs/two"), FALSE);
    EXPECT_NE(xFolderExists("abs"), 0);
    EXPECT_EQ(xFolderExists("abs/none"), 0);
    EXPECT_EQ(xFolderExists(nullptr), 0);
    EXPECT_EQ(LastError(), "xFolderExists: No path.");

    // Too long a line for Print is replaced.
    std::string big(3000, 'z');
    ASSERT_EQ(f.Open("p.txt", XFILE_WRITE), TRUE);
    f.Print("%s", big.c_str());
    f.Close();
    std::ifstream in("p.txt");
    std::string got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(got, "**** STRING TO LONG ****\n");
}

TEST_F(FileTest, BitFile)
{
    {
        CBitFile f;
        ASSERT_EQ(f.Open("bits.bin", XFILE_WRITE), TRUE);
        f.WriteBits(5, 3);
        f.FlushBits();
        f.WriteBits(0x1FF, 9);
        f.FlushBits();
    }
    std::ifstream in("bits.bin", std::ios::binary);
    std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(static_cast<uint8_t>(s[0]), 0xA0);
    EXPECT_EQ(static_cast<uint8_t>(s[1]), 0xFF);
    EXPECT_EQ(static_cast<uint8_t>(s[2]), 0x80);

    CBitFile r;
    ASSERT_EQ(r.Open("bits.bin", XFILE_READ), TRUE);
    EXPECT_EQ(r.ReadBits(3), 5);
    EXPECT_EQ(r.ReadBits(5), 0);
    EXPECT_EQ(r.ReadBits(9), 0x1FF);
    EXPECT_EQ(r.ReadBits(0), 0);
}

TEST_F(FileTest, Utilities)
{
    const char text[] = "hello file";
    EXPECT_EQ(xWriteFile("u.txt", text, 10), TRUE);
    EXPECT_EQ(xFileExists("u.txt"), TRUE);
    EXPECT_EQ(xFileExists("."), FALSE); // a folder is not a file
    uint32_t size = 0;
    EXPECT_EQ(xFileSize("u.txt", &size), TRUE);
    EXPECT_EQ(size, 10u);
    char buf[11] = {};
    EXPECT_EQ(xReadFile("u.txt", buf, 10), TRUE);
    EXPECT_STREQ(buf, text);
    EXPECT_EQ(xReadFile("u.txt", buf, 11), FALSE);

    std::string big(2000, 'q');
    xWriteFile("big.txt", big.data(), 2000);
    EXPECT_EQ(xCopyFile("sub/copy.txt", "big.txt"), TRUE);
    EXPECT_EQ(xFileSize("sub/copy.txt", &size), TRUE);
    EXPECT_EQ(size, 2000u);

    EXPECT_EQ(xFileRename("v.txt", "u.txt"), TRUE);
    EXPECT_EQ(xFileExists("u.txt"), FALSE);
    EXPECT_EQ(xFileRename("w.txt", "u.txt"), FALSE);
    EXPECT_EQ(glb->error.GetErrCode(), XERR_NOT_FOUND);

    chmod("v.txt", 0444);
    EXPECT_EQ(xRemoveReadOnly("v.txt"), TRUE);
    struct stat st {
    };
    stat("v.txt", &st);
    EXPECT_TRUE((st.st_mode & S_IWUSR) != 0);
    EXPECT_EQ(xFileDelete("v.txt"), TRUE);
    EXPECT_EQ(xFileDelete("v.txt"), FALSE);
    EXPECT_EQ(glb->error.GetErrCode(), XERR_DELETE);

    uint32_t lo = 0, hi = 0;
    EXPECT_EQ(xFileGetLastWriteTime("big.txt", lo, hi), TRUE);
    uint64_t t = (static_cast<uint64_t>(hi) << 32) | lo;
    EXPECT_GT(t, 116444736000000000ull); // after 1970 in 100 ns units since 1601
    EXPECT_EQ(xFileGetLastWriteTime("none", lo, hi), FALSE);
}

TEST_F(FileTest, FolderContentAndDrives)
{
    xCreateDirsForFile("list/inner/x");
    xWriteFile("list/a.txt", "a", 1);
    xWriteFile("list/b.dat", "b", 1);
    xWriteFile("list/.hidden", "h", 1);
    CLList files;
    EXPECT_EQ(xAddFolderContent(&files, "list", "*", 0, 1, 0), TRUE);
    std::vector<std::string> names;
    for (files.First(); files.Exists(); files.Next())
        names.emplace_back(static_cast<char*>(files.Get()));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.dat"}));
    files.KillAllData();

    CLList txt;
    xAddFolderContent(&txt, "list/", "*.txt", 1, 1, 1);
    ASSERT_EQ(txt.GetNumNodes(), 1);
    EXPECT_STREQ(static_cast<char*>(txt.Get(0)), "list/a.txt");
    txt.KillAllData();

    CLList dirs;
    xAddFolderContent(&dirs, "list", "*", 1, 0, 0);
    bool inner = false;
    for (dirs.First(); dirs.Exists(); dirs.Next())
        inner |= std::strcmp(static_cast<char*>(dirs.Get()), "inner") == 0;
    EXPECT_TRUE(inner);
    dirs.KillAllData();

    CLList drives;
    EXPECT_EQ(xAddDrives(&drives, 'A', 'Z'), TRUE);
    ASSERT_GE(drives.GetNumNodes(), 1);
    // The first drive is the system's root: "/" on Linux, "C:\\" on Windows.
    tvp::DriveInfo root{};
    ASSERT_GE(tvp::ListDrives(&root, 1), 1);
    EXPECT_EQ(std::string(static_cast<char*>(drives.Get(0))), std::string(root.root) + " (Fixed Disk)");
    drives.KillAllData();
}

TEST_F(FileTest, Crc32)
{
    uint32_t crc = 1;
    EXPECT_EQ(xCalcCrc("abc", 3, &crc, 0x04C11DB7), TRUE);
    EXPECT_EQ(crc, 0x648CBB73u);
    EXPECT_EQ(xCalcCrc("123456789", 9, &crc, 0x04C11DB7), TRUE);
    EXPECT_EQ(crc, 0xFC891918u); // the published check value
    EXPECT_EQ(xCalcCrc("", 0, &crc, 0x04C11DB7), TRUE);
    EXPECT_EQ(crc, 0u);
    // Another polynomial rebuilds the table, the first still gives its value.
    uint32_t other = 0;
    xCalcCrc("abc", 3, &other, 0x1EDC6F41);
    EXPECT_NE(other, 0x648CBB73u);
    xCalcCrc("abc", 3, &crc, 0x04C11DB7);
    EXPECT_EQ(crc, 0x648CBB73u);

    xWriteFile("c.txt", "123456789", 9);
    EXPECT_EQ(xCalcFileCrc("c.txt", &crc, 0x04C11DB7), TRUE);
    EXPECT_EQ(crc, 0xFC891918u);
    EXPECT_EQ(glb->error.GetErrCode(), 0);
    xWriteFile("e.txt", "", 0);
    EXPECT_EQ(xCalcFileCrc("e.txt", &crc, 0x04C11DB7), TRUE);
    EXPECT_EQ(crc, 0u);
    EXPECT_EQ(xCalcFileCrc("none.txt", &crc, 0x04C11DB7), FALSE);
}

TEST_F(FileTest, Scrambling)
{
    std::string body = "payload";
    std::string marked = body + "XICRYPTEDFILE";
    std::vector<uint8_t> data(marked.begin(), marked.end());
    xDecrypt(data.data(), static_cast<uint32_t>(data.size())); // scrambling is its own inverse
    EXPECT_EQ(xIsCrypt(data.data(), static_cast<uint32_t>(data.size())), TRUE);
    EXPECT_EQ(xIsCrypt(data.data(), 12), FALSE);
    EXPECT_EQ(xIsCrypt(nullptr, 20), FALSE);
    EXPECT_EQ(xIsCrypt(marked.data(), static_cast<uint32_t>(marked.size())), FALSE);

    WriteBytes("s.bin", data);
    CFile f;
    ASSERT_EQ(f.Open("s.bin", XFILE_READ), TRUE);
    EXPECT_EQ(xIsFileCrypt(&f), TRUE);
    uint32_t pos = 1;
    f.GetPos(&pos, 0);
    EXPECT_EQ(pos, 0u);
    xDecrypt(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(std::string(data.begin(), data.end()), marked);
}

TEST_F(FileTest, EncryptIsTheInverseOfDecryptAndRefusesWhatItCannotDo)
{
    const std::string body = "payload";
    std::vector<uint8_t> buf(body.begin(), body.end());
    buf.resize(body.size() + XCRYPT_MARKER_SIZE);
    const auto n = static_cast<uint32_t>(body.size()), size = static_cast<uint32_t>(buf.size());
    ASSERT_EQ(xEncrypt(buf.data(), n, size), TRUE);
    EXPECT_EQ(xIsCrypt(buf.data(), size), TRUE);
    std::vector<uint8_t> scrambled = buf;

    // Scrambling twice (with room to spare) is refused and leaves the data as it was.
    buf.resize(size + XCRYPT_MARKER_SIZE, 0);
    EXPECT_EQ(xEncrypt(buf.data(), size, static_cast<uint32_t>(buf.size())), FALSE);
    EXPECT_NE(std::string(glb->error.GetError()).find("already scrambled"), std::string::npos);
    EXPECT_TRUE(std::equal(scrambled.begin(), scrambled.end(), buf.begin()));

    xDecrypt(scrambled.data(), size);
    EXPECT_EQ(std::string(scrambled.begin(), scrambled.begin() + n), body);
    EXPECT_EQ(std::string(scrambled.begin() + n, scrambled.end()), "XICRYPTEDFILE");

    // Too small a buffer (also where n + the marker would wrap) and null data.
    std::vector<uint8_t> small(body.begin(), body.end());
    small.resize(body.size() + XCRYPT_MARKER_SIZE - 1);
    const std::vector<uint8_t> before = small;
    struct {
        void* data;
        uint32_t n, size;
    } refused[] = {{small.data(), n, static_cast<uint32_t>(small.size())},
                   {small.data(), 0xFFFFFFF9u, 0xFFFFFFFFu},
                   {small.data(), 20, 10},
                   {nullptr, 0, 100}};
    for (auto r : refused)
        EXPECT_EQ(xEncrypt(r.data, r.n, r.size), FALSE) << r.n << " " << r.size;
    EXPECT_EQ(small, before);

    // Empty data scrambles to the marker alone.
    uint8_t only[XCRYPT_MARKER_SIZE];
    ASSERT_EQ(xEncrypt(only, 0, sizeof only), TRUE);
    EXPECT_EQ(xIsCrypt(only, sizeof only), TRUE);
}
