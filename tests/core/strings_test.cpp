// String helpers, path strings and byte order.
#include "tarvex_test.h"

#include <cstring>

class StringsTest : public tvtest::TarvexTest
{
};

TEST_F(StringsTest, PathStrings)
{
    using Fn = char* (*)(const char*);
    struct {
        Fn fn;
        const char* name;
        const char* in;
        const char* want; // null: null result
    } cases[] = {
        {String_FileNameExtension, "ext", "c:/x/name.txt", "txt"},
        {String_FileNameExtension, "ext", "c:/x/name", ""},
        {String_FileNameExtension, "ext", "c:/x.d/name", ""},
        {String_FileNameExtension, "ext", "c:/x/name.", nullptr},
        {String_FileNameExtension, "ext", "a\\b.tar.gz", "gz"},
        {String_FileNamePath, "path", "c:/x/name.txt", "c:/x"},
        {String_FileNamePath, "path", "name.txt", ""},
        {String_FileNamePath, "path", "a\\b\\c", "a\\b"},
        {String_FileName, "name", "dir/file.txt more", "file.txt"},
        {String_FileName, "name", "dir/", nullptr},
        {String_FileNameFirstName, "first", "dir/file.tar.gz", "file"},
        {String_FileNameFirstName, "first", "dir\\my file.txt", "my"},
        {String_FileNameFirstName, "first", "dir/", nullptr},
        {String_FullNameWithoutExtension, "full", "data/pics/x.bmp", "data/pics/x"},
        {String_FullNameWithoutExtension, "full", "x.bmp", "x"},
    };
    for (const auto& c : cases) {
        char* r = c.fn(c.in);
        if (c.want == nullptr)
            EXPECT_EQ(r, nullptr) << c.name << " " << c.in;
        else {
            ASSERT_NE(r, nullptr) << c.name << " " << c.in;
            EXPECT_STREQ(r, c.want) << c.name << " " << c.in;
        }
        String_Free(r);
    }
}

TEST_F(StringsTest, PathJoins)
{
    struct {
        char* (*fn)(const char*, const char*);
        const char* a;
        const char* b;
        const char* want;
    } cases[] = {
        {String_SubDir, "dir", "sub", "dir/sub"},
        {String_SubDir, "dir/", "sub", "dir/sub"},
        {String_SubDir, "", "/sub", "/sub"},
        {String_SubDir, "dir", "\\sub", "dir/sub"},
        {String_SubDir, "dir", " sub", "dir/sub"},
        {String_MergeDirectoryAndFile, "dir", "f.txt", "dir/f.txt"},
        {String_MergeDirectoryAndFile, "dir\\", "f.txt", "dir\\f.txt"},
        {String_MergeDirectoryAndFile, "  ", "f.txt", "  f.txt"},
        {String_MergeDirectoryAndFile, "", "f.txt", "f.txt"},
    };
    for (const auto& c : cases) {
        char* r = c.fn(c.a, c.b);
        ASSERT_NE(r, nullptr);
        EXPECT_STREQ(r, c.want) << c.a << " + " << c.b;
        String_Free(r);
    }
}

TEST_F(StringsTest, ParentDir)
{
    struct {
        const char* in;
        int32_t mode;
        const char* want;
    } cases[] = {
        {"c:/a/b", 0, "c:/a"},  {"c:/a/b/", 0, "c:/a"}, {"c:/a/b/ ", 0, "c:/a"},
        {"c:/a/b/", 1, "c:/a"}, {"a\\b\\c", 0, "a\\b"}, {"name", 0, nullptr},
    };
    for (const auto& c : cases) {
        char* r = String_ParentDir(c.in, c.mode);
        if (c.want == nullptr)
            EXPECT_EQ(r, nullptr) << c.in;
        else
            EXPECT_STREQ(r, c.want) << c.in;
        String_Free(r);
    }
}

TEST(Strings, SetsAndHelpers)
{
    char s[32] = "a\"b\"c";
    EXPECT_EQ(xStrCntSet(s, "\""), 2u);
    EXPECT_EQ(xStrCntSet(nullptr, "\""), 0u);

    char src[] = "say \"hi";
    char dst[32];
    EXPECT_EQ(xStuffSet(src, dst, sizeof dst, "\""), dst);
    EXPECT_STREQ(dst, "say \"\"hi");
    EXPECT_EQ(xStuffSet(src, dst, 9, "\""), src); // 7 + 2 + 1 > 9
    char plain[] = "none";
    EXPECT_EQ(xStuffSet(plain, dst, sizeof dst, "\""), plain);

    EXPECT_STREQ(xStrRemoveSet(s, "\""), "abc");
    EXPECT_EQ(xStrcmp("a", "b"), -1);
    EXPECT_EQ(xStrcmp("\xff", "a"), 1);
    EXPECT_EQ(xStrcmp("same", "same"), 0);
    EXPECT_EQ(xStricmp("ABC", "abc"), 0);

    char line[64] = "";
    xStrcatVariableTRUEFALSE(line, "on=", 1);
    xStrcatVariableTRUEFALSE(line, " off=", 0);
    xStrcatVariableTRUEFALSE(line, " n=", -5);
    xStrcatVariableSTRING(line, " s=", "x");
    EXPECT_STREQ(line, "on=TRUE off=FALSE n=-5 s=x");
}

TEST(Strings, ByteOrder)
{
    const uint8_t bytes[4] = {1, 2, 3, 4};
    uint32_t v;
    std::memcpy(&v, bytes, 4);
    uint32_t std = XULONG_FromProcToStd(v);
    uint8_t out[4];
    std::memcpy(out, &std, 4);
    const uint8_t want[4] = {4, 3, 2, 1};
    EXPECT_EQ(std::memcmp(out, want, 4), 0);
    EXPECT_EQ(XULONG_FromStdToProc(std), v);
    EXPECT_EQ(XUWORD_FromProcToStd(0x1234), 0x3412);
    EXPECT_EQ(XFLOAT_FromStdToProc(XFLOAT_FromProcToStd(1.5f)), 1.5f);
    EXPECT_EQ(XDOUBLE_FromStdToProc(XDOUBLE_FromProcToStd(-2.25)), -2.25);
    EXPECT_EQ(xProcessorByteOrder(), 2);
}
