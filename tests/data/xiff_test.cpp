// CXIFF: the written byte layout, nested chunks read back through the
// bounds window, the level limit, and damaged files.
#include "tarvex_test.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const char* name)
{
    uint32_t size = 0;
    if (!xFileSize(name, &size))
        return {};
    Bytes b(size);
    if (size != 0)
        xReadFile(name, b.data(), size);
    return b;
}

void WriteAll(const char* name, const Bytes& b)
{
    xWriteFile(name, b.data(), static_cast<uint32_t>(b.size()));
}

Bytes Le(uint32_t v)
{
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}
Bytes Be(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Name(const char* s)
{
    return Bytes(s, s + std::strlen(s) + 1);
}

using XiffTest = tvtest::TarvexTest;

TEST_F(XiffTest, WrittenLayoutFollowsTheOpenMode)
{
    struct Case {
        int32_t order;
        Bytes (*len)(uint32_t);
    };
    for (Case c : {Case{0, Le}, Case{XFILE_LITTLE_ENDIAN, Le}, Case{XFILE_BIG_ENDIAN, Be}}) {
        CXIFF x;
        ASSERT_TRUE(x.Open("a.xiff", XFILE_WRITE | c.order));
        ASSERT_TRUE(x.AddChunk("A", 0));
        ASSERT_TRUE(x.Write("abc", 3));
        ASSERT_TRUE(x.EndChunk());
        x.Close();
        Bytes expect = Cat({Name("XIFF"), c.len(9), Name("A"), c.len(3), {'a', 'b', 'c'}});
        EXPECT_EQ(ReadAll("a.xiff"), expect);
        EXPECT_EQ(expect.size(), 18u);
    }
}

TEST_F(XiffTest, NestedChunksReadBackThroughTheWindow)
{
    {
        CXIFF x;
        ASSERT_TRUE(x.Open("n.xiff", XFILE_WRITE | XFILE_BIG_ENDIAN));
        x.AddChunk("BC", 0);
        x.Write("bc-data", 7);
        x.EndChunk();
        x.AddChunk("OUTER", 0);
        x.AddChunk("INNER", 0);
        x.WriteLong(0x01020304);
        x.EndChunk();
        x.AddChunk("B", 0);
        x.Write("bee", 3);
        // B, OUTER and XIFF are finished by Close.
    }
    CXIFF x;
    ASSERT_TRUE(x.Open("n.xiff", XFILE_READ | XFILE_BIG_ENDIAN)) << tvtest::LastError();
    EXPECT_EQ(x.depth, 1);
    uint32_t length = 0;
    // "B" must not match the stored "BC" at the top level, and B is nested.
    EXPECT_FALSE(x.FindChunk("B", &length, FALSE));
    ASSERT_TRUE(x.FindChunk("BC", &length, FALSE));
    EXPECT_EQ(length, 7u);
    ASSERT_TRUE(x.FindChunk("OUTER", &length, FALSE));
    ASSERT_TRUE(x.EnterChunk());
    uint32_t size = 0;
    ASSERT_TRUE(x.GetSize(&size));
    EXPECT_EQ(size, length);
    ASSERT_TRUE(x.FindChunk("B", &length, FALSE));
    EXPECT_EQ(length, 3u);
    ASSERT_TRUE(x.EnterChunk());
    char buf[4] = {};
    ASSERT_TRUE(x.Read(buf, 3));
    EXPECT_STREQ(buf, "bee");
    ASSERT_TRUE(x.ExitChunk());
    ASSERT_TRUE(x.FindChunk("INNER", nullptr, FALSE));
    ASSERT_TRUE(x.EnterChunk());
    int32_t v = 0;
    ASSERT_TRUE(x.ReadLong(&v));
    EXPECT_EQ(v, 0x01020304);
    // Walk the top level with First/NextChunk: BC, OUTER, then the end.
    ASSERT_TRUE(x.ExitChunk());
    ASSERT_TRUE(x.ExitChunk());
    ASSERT_TRUE(x.FirstChunk());
    EXPECT_TRUE(x.NextChunk());
    EXPECT_TRUE(x.NextChunk());
    EXPECT_FALSE(x.NextChunk());
    // Searching on from the current position finds nothing behind it.
    ASSERT_TRUE(x.FindChunk("OUTER", nullptr, FALSE));
    ASSERT_TRUE(x.NextChunk());
    EXPECT_FALSE(x.FindChunk("BC", nullptr, TRUE));
    EXPECT_TRUE(x.ExitChunk());
    EXPECT_EQ(x.depth, 0);
    EXPECT_FALSE(x.ExitChunk());
}

TEST_F(XiffTest, SixteenthLevelIsRefused)
{
    {
        CXIFF x;
        ASSERT_TRUE(x.Open("deep.xiff", XFILE_WRITE));
        for (int i = 2; i <= 15; ++i)
            ASSERT_TRUE(x.AddChunk("L", 0)) << i;
        EXPECT_FALSE(x.AddChunk("L", 0));
        EXPECT_EQ(tvtest::LastError(), "You are at the max depth for this XIFF file");
        EXPECT_EQ(x.depth, 15);
    }
    // A file nested one level deeper than the table, built by hand.
    Bytes file = Cat({Name("L"), Le(0)});
    for (int i = 0; i < 15; ++i)
        file = Cat({Name(i == 14 ? "XIFF" : "L"), Le(static_cast<uint32_t>(file.size())), file});
    CXIFF x;
    WriteAll("deep2.xiff", file);
    ASSERT_TRUE(x.Open("deep2.xiff", XFILE_READ)) << tvtest::LastError();
    int entered = 1;
    while (x.EnterChunk())
        ++entered;
    EXPECT_EQ(entered, 15);
    EXPECT_EQ(tvtest::LastError(), "You are at the max depth for this XIFF file");
}

TEST_F(XiffTest, OpenRefusesOtherFiles)
{
    for (const Bytes& content : {Bytes{}, Bytes{'X', 'I', 'F', 'F'}, Cat({Name("XIF"), Le(0)}),
                                 Cat({Name("XIFF"), Le(100), Name("A")})}) {
        WriteAll("other.bin", content);
        CXIFF x;
        EXPECT_FALSE(x.Open("other.bin", XFILE_READ));
        EXPECT_EQ(tvtest::LastError(), "\"other.bin\" isnt a XIFF file");
        EXPECT_FALSE(x.IsOpen());
    }
    CXIFF x;
    EXPECT_FALSE(x.Open("missing.xiff", XFILE_READ));
}

TEST_F(XiffTest, AppendGrowsTheTopChunk)
{
    {
        CXIFF x;
        ASSERT_TRUE(x.Open("app.xiff", XFILE_APPEND)); // new file: starts "XIFF"
        x.AddChunk("ONE", 0);
        x.Write("1", 1);
    }
    {
        CXIFF x;
        ASSERT_TRUE(x.Open("app.xiff", XFILE_APPEND)) << tvtest::LastError();
        x.AddChunk("TWO", 0);
        x.Write("22", 2);
    }
    EXPECT_EQ(ReadAll("app.xiff"),
              Cat({Name("XIFF"), Le(19), Name("ONE"), Le(1), {'1'}, Name("TWO"), Le(2), {'2', '2'}}));
    CXIFF x;
    ASSERT_TRUE(x.Open("app.xiff", XFILE_READ));
    uint32_t length = 0;
    EXPECT_TRUE(x.FindChunk("TWO", &length, FALSE));
    EXPECT_EQ(length, 2u);
}

TEST_F(XiffTest, DamagedLengthsEndTheSearch)
{
    // Lengths that run past the enclosing chunk or the file, or would wrap a
    // 32-bit seek backwards: searches end, nothing is entered.
    for (uint32_t bad : {0xFFFFFFF7u, 0x7FFFFFFFu, 1000u}) {
        Bytes file = Cat({Name("XIFF"), Le(0), Name("A"), Le(bad), Name("B"), Le(0)});
        std::memcpy(file.data() + 5, Le(static_cast<uint32_t>(file.size() - 9)).data(), 4);
        WriteAll("bad.xiff", file);
        CXIFF x;
        ASSERT_TRUE(x.Open("bad.xiff", XFILE_READ));
        EXPECT_FALSE(x.FindChunk("B", nullptr, FALSE));
        EXPECT_TRUE(x.FirstChunk());
        EXPECT_FALSE(x.EnterChunk());
        EXPECT_FALSE(x.NextChunk());
    }
    // A chunk inside a chunk may not reach past its parent.
    Bytes file = Cat({Name("XIFF"), Le(0), Name("P"), Le(8), Name("C"), Le(10), {1, 2}, Name("D"), Le(0)});
    std::memcpy(file.data() + 5, Le(static_cast<uint32_t>(file.size() - 9)).data(), 4);
    WriteAll("nest.xiff", file);
    CXIFF x;
    ASSERT_TRUE(x.Open("nest.xiff", XFILE_READ));
    ASSERT_TRUE(x.FindChunk("D", nullptr, FALSE));
    ASSERT_TRUE(x.FindChunk("P", nullptr, FALSE));
    ASSERT_TRUE(x.EnterChunk());
    EXPECT_FALSE(x.FindChunk("D", nullptr, FALSE));
    EXPECT_FALSE(x.EnterChunk());
}

} // namespace
