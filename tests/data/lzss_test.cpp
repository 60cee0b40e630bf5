// CLzss: exact stream layout, byte-for-byte agreement of the encoder with a
// slow, plain model of the tree search, round trips of the file and memory
// forms, and the bounded expansion on damaged streams.
#include "tarvex_test.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------ the plain model
// Written for clarity only: modulo arithmetic everywhere, int links, one bit
// at a time. The fast encoder must produce the same bytes.
class ModelEncoder {
public:
    Bytes Compress(const Bytes& in)
    {
        size_t next = 0;
        auto getc = [&]() -> int { return next < in.size() ? in[next++] : -1; };
        int current = 1;
        int i = 0;
        for (; i < kLook; ++i) {
            int c = getc();
            if (c < 0)
                break;
            window[current + i] = static_cast<uint8_t>(c);
        }
        int lookAhead = i;
        InitTree(current);
        int matchLength = 0;
        int matchPosition = 0;
        while (lookAhead > 0) {
            if (matchLength > lookAhead)
                matchLength = lookAhead;
            int replace;
            if (matchLength <= 1) {
                Bits(1, 1);
                Bits(window[current], 8);
                replace = 1;
            } else {
                Bits(0, 1);
                Bits(matchPosition, 12);
                Bits(matchLength - 2, 4);
                replace = matchLength;
            }
            for (i = 0; i < replace; ++i) {
                DeleteString(Mod(current + kLook));
                int c = getc();
                if (c < 0)
                    --lookAhead;
                else
                    window[Mod(current + kLook)] = static_cast<uint8_t>(c);
                current = Mod(current + 1);
                if (lookAhead != 0)
                    matchLength = AddString(current, &matchPosition);
            }
        }
        Bits(0, 1);
        Bits(0, 12);
        if (bitCount != 0)
            out.push_back(static_cast<uint8_t>(bitBuffer << (8 - bitCount)));
        return out;
    }

private:
    static constexpr int kWindow = 4096;
    static constexpr int kLook = 17;
    static constexpr int kRoot = 4096;
    struct Node {
        int parent = 0, smaller = 0, larger = 0;
    };
    uint8_t window[kWindow] = {};
    Node tree[kWindow + 1];
    Bytes out;
    int bitBuffer = 0;
    int bitCount = 0;

    static int Mod(int a) { return a % kWindow; }
    void Bits(int value, int n)
    {
        for (int b = n - 1; b >= 0; --b) {
            bitBuffer = (bitBuffer << 1) | ((value >> b) & 1);
            if (++bitCount == 8) {
                out.push_back(static_cast<uint8_t>(bitBuffer));
                bitBuffer = 0;
                bitCount = 0;
            }
        }
    }
    void InitTree(int r)
    {
        tree[kRoot].larger = r;
        tree[r].parent = kRoot;
        tree[r].larger = 0;
        tree[r].smaller = 0;
    }
    void ContractNode(int oldNode, int newNode)
    {
        tree[newNode].parent = tree[oldNode].parent;
        if (tree[tree[oldNode].parent].larger == oldNode)
            tree[tree[oldNode].parent].larger = newNode;
        else
            tree[tree[oldNode].parent].smaller = newNode;
        tree[oldNode].parent = 0;
    }
    void ReplaceNode(int oldNode, int newNode)
    {
        int parent = tree[oldNode].parent;
        if (tree[parent].smaller == oldNode)
            tree[parent].smaller = newNode;
        else
            tree[parent].larger = newNode;
        tree[newNode] = tree[oldNode];
        tree[tree[newNode].smaller].parent = newNode;
        tree[tree[newNode].larger].parent = newNode;
        tree[oldNode].parent = 0;
    }
    int FindNextNode(int node)
    {
        int next = tree[node].smaller;
        while (tree[next].larger != 0)
            next = tree[next].larger;
        return next;
    }
    void DeleteString(int p)
    {
        if (tree[p].parent == 0)
            return;
        if (tree[p].larger == 0) {
            ContractNode(p, tree[p].smaller);
        } else if (tree[p].smaller == 0) {
            ContractNode(p, tree[p].larger);
        } else {
            int replacement = FindNextNode(p);
            DeleteString(replacement);
            ReplaceNode(p, replacement);
        }
    }
    int AddString(int newNode, int* matchPosition)
    {
        if (newNode == 0)
            return 0;
        int test = tree[kRoot].larger;
        int matchLength = 0;
        for (;;) {
            int i;
            int delta = 0;
            for (i = 0; i < kLook; ++i) {
                delta = window[Mod(newNode + i)] - window[Mod(test + i)];
                if (delta != 0)
                    break;
            }
            if (i >= matchLength) {
                matchLength = i;
                *matchPosition = test;
                if (matchLength >= kLook) {
                    ReplaceNode(test, newNode);
                    return matchLength;
                }
            }
            int* child = delta >= 0 ? &tree[test].larger : &tree[test].smaller;
            if (*child == 0) {
                *child = newNode;
                tree[newNode].parent = test;
                tree[newNode].larger = 0;
                tree[newNode].smaller = 0;
                return matchLength;
            }
            test = *child;
        }
    }
};

Bytes Model(const Bytes& in)
{
    auto enc = std::make_unique<ModelEncoder>();
    return enc->Compress(in);
}

// ------------------------------------------------------------ inputs

struct Lcg {
    uint32_t s;
    uint32_t Next()
    {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
};

Bytes Text(size_t n, uint32_t seed = 1)
{
    static const char* words[] = {"the ",        "window ", "chunk ",     "of ",   "a ",
                                  "compressed ", "stream ", "and ",       "tree ", "node\n",
                                  "match ",      "LENGTH ", "position, ", "17 ",   "to ",
                                  "literal ",    "bits. ",  "reference ", "is ",   "file "};
    Lcg r{seed};
    std::string s;
    while (s.size() < n)
        s += words[r.Next() % 20];
    return Bytes(s.begin(), s.begin() + static_cast<ptrdiff_t>(n));
}

Bytes Random(size_t n, uint32_t seed = 7)
{
    Lcg r{seed};
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(r.Next());
    return b;
}

// Records of small numbers, repeated fields and noise, like game data.
Bytes Mixed(size_t n, uint32_t seed = 3)
{
    Lcg r{seed};
    Bytes b;
    while (b.size() < n) {
        uint32_t kind = r.Next() % 4;
        if (kind == 0) {
            for (int i = 0; i < 16; ++i)
                b.push_back(static_cast<uint8_t>(r.Next()));
        } else if (kind == 1) {
            uint32_t v = r.Next() % 300;
            for (int i = 0; i < 4; ++i)
                b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        } else if (kind == 2) {
            b.insert(b.end(), {'R', 'E', 'C', 0, 1, 0, 0, 0});
        } else {
            b.insert(b.end(), r.Next() % 40, static_cast<uint8_t>(r.Next() % 4));
        }
    }
    b.resize(n);
    return b;
}

Bytes Repeat(size_t n, uint8_t v)
{
    return Bytes(n, v);
}

Bytes Cycle(size_t n, size_t period)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = static_cast<uint8_t>('a' + (i % period) % 26);
    return b;
}

class LzssTest : public tvtest::TarvexTest {
protected:
    Bytes Pack(const Bytes& in)
    {
        uint32_t size = static_cast<uint32_t>(in.size());
        uint32_t counted = size;
        lz.CompressBuf(reinterpret_cast<const char*>(in.data()), &counted, 0);
        char* block =
            lz.CompressBuf(reinterpret_cast<const char*>(in.data()), &size, static_cast<int32_t>(counted));
        EXPECT_EQ(size, counted);
        Bytes out(block, block + size);
        XFREE(block);
        return out;
    }
    // Bounded expansion into an exact-size buffer.
    Bytes Unpack(const Bytes& packed, size_t expected)
    {
        Bytes out(expected);
        uint32_t size = static_cast<uint32_t>(expected);
        char dummy;
        int32_t ok = lz.ExpandBuffer(reinterpret_cast<const char*>(packed.data()),
                                     static_cast<uint32_t>(packed.size()),
                                     expected != 0 ? reinterpret_cast<char*>(out.data()) : &dummy, &size);
        EXPECT_TRUE(ok || expected == 0) << tvtest::LastError();
        EXPECT_EQ(size, expected);
        return out;
    }
    CLzss lz;
};

// ------------------------------------------------------------ stream layout

TEST_F(LzssTest, ShortestStreams)
{
    EXPECT_EQ(Pack({}), (Bytes{0x00, 0x00}));
    for (int b : {0x00, 0x41, 0xFF, 0x80, 0x01}) {
        Bytes expect{static_cast<uint8_t>(0x80 | (b >> 1)), static_cast<uint8_t>((b & 1) << 7), 0x00};
        EXPECT_EQ(Pack({static_cast<uint8_t>(b)}), expect) << b;
    }
    // Empty input in the counting pass, and CompressBuffer's refusal of it.
    uint32_t size = 0;
    EXPECT_EQ(lz.CompressBuf("", &size, 0), nullptr);
    EXPECT_EQ(size, 2u);
    size = 0;
    EXPECT_EQ(lz.CompressBuffer("x", &size), nullptr);
}

TEST_F(LzssTest, RunOfIdenticalBytesIsOneLiteralThenReferences)
{
    // 100 bytes: literal at position 1, then references to position 1 of
    // length 17 (the run overlaps itself), the last one shorter.
    Bytes in = Repeat(100, 'z');
    Bytes packed = Pack(in);
    EXPECT_EQ(packed, Model(in));
    // 9 bits literal + 6 references of 17 bits (99 = 5 * 17 + 14) + 13 end bits.
    EXPECT_EQ(packed.size(), (9u + 6 * 17 + 13 + 7) / 8);
    EXPECT_EQ(Unpack(packed, in.size()), in);
    // The first reference: flag 0, position 1, length 17 - 2 = 15.
    uint32_t bits = (uint32_t{packed[1]} << 16) | (uint32_t{packed[2]} << 8) | packed[3];
    EXPECT_EQ((bits >> 6) & 0x1FFFF, (1u << 4) | 15u);
}

// ------------------------------------------------------------ agreement with the model

TEST_F(LzssTest, EncoderMatchesModelByteForByte)
{
    struct Case {
        const char* name;
        Bytes data;
    };
    std::vector<Case> cases;
    for (size_t n : {2, 3, 16, 17, 18, 34, 35, 100})
        cases.push_back({"run", Repeat(n, 0)});
    for (size_t n : {1, 5, 17, 18, 4078, 4079, 4095, 4096, 4097, 4113, 4114, 8191, 8192, 8193, 65535, 65536,
                     65537, 131072 + 3, 300000})
        cases.push_back({"text", Text(n, static_cast<uint32_t>(n))});
    for (size_t n : {17, 4095, 4096, 4097, 20000, 65537})
        cases.push_back({"random", Random(n, static_cast<uint32_t>(n))});
    for (size_t n : {4096, 70000, 250000})
        cases.push_back({"mixed", Mixed(n, static_cast<uint32_t>(n))});
    for (size_t period : {1, 2, 3, 16, 17, 18, 100, 4095, 4096, 4097})
        cases.push_back({"cycle", Cycle(20000, period)});
    // Long zero runs take the search through position 0 repeatedly.
    Bytes runs = Text(30000, 9);
    for (size_t i = 0; i < runs.size(); i += 997)
        std::memset(runs.data() + i, 0, std::min<size_t>(40, runs.size() - i));
    cases.push_back({"text with zero runs", runs});

    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.data.size()));
        Bytes packed = Pack(c.data);
        ASSERT_EQ(packed, Model(c.data));
        ASSERT_EQ(Unpack(packed, c.data.size()), c.data);
    }
}

TEST_F(LzssTest, SameObjectGivesSameOutputAgain)
{
    // A second compression must not depend on what the first left behind.
    Bytes a = Text(5000, 4);
    Bytes b = Random(10);
    Bytes first = Pack(b);
    Pack(a);
    EXPECT_EQ(Pack(b), first);
    EXPECT_EQ(first, Model(b));
}

// ------------------------------------------------------------ memory forms

TEST_F(LzssTest, LargeRoundTrips)
{
    for (const Bytes& in :
         {Text(3 << 20, 11), Random(2 << 20, 12), Repeat(4 << 20, 0xAB), Mixed(3 << 20, 13)}) {
        uint32_t size = static_cast<uint32_t>(in.size());
        char* packed = lz.CompressBuffer(reinterpret_cast<const char*>(in.data()), &size);
        ASSERT_NE(packed, nullptr);
        uint32_t counted = static_cast<uint32_t>(in.size());
        lz.CompressBuf(reinterpret_cast<const char*>(in.data()), &counted, 0);
        EXPECT_EQ(size, counted);
        Bytes out(in.size());
        uint32_t outSize = static_cast<uint32_t>(out.size());
        EXPECT_TRUE(lz.ExpandBuffer(packed, reinterpret_cast<char*>(out.data()), &outSize));
        EXPECT_EQ(outSize, in.size());
        EXPECT_TRUE(out == in);
        XFREE(packed);
    }
}

TEST_F(LzssTest, ExpandReportsFullSizeWhenCapacityIsShort)
{
    Bytes in = Text(10000);
    Bytes packed = Pack(in);
    for (bool bounded : {false, true}) {
        // Capacity 0 only counts.
        uint32_t size = 0;
        EXPECT_FALSE(bounded ? lz.ExpandBuffer(reinterpret_cast<const char*>(packed.data()),
                                               static_cast<uint32_t>(packed.size()), nullptr, &size)
                             : lz.ExpandBuffer(reinterpret_cast<const char*>(packed.data()), nullptr, &size));
        EXPECT_EQ(size, in.size());
        // Too small: nothing past the capacity is touched.
        Bytes out(100);
        size = 100;
        char* dst = reinterpret_cast<char*>(out.data());
        EXPECT_FALSE(bounded ? lz.ExpandBuffer(reinterpret_cast<const char*>(packed.data()),
                                               static_cast<uint32_t>(packed.size()), dst, &size)
                             : lz.ExpandBuffer(reinterpret_cast<const char*>(packed.data()), dst, &size));
        EXPECT_EQ(size, in.size());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
    }
    // A compression capacity that is too small stores what fits and counts the rest.
    uint32_t size = static_cast<uint32_t>(in.size());
    char* block = lz.CompressBuf(reinterpret_cast<const char*>(in.data()), &size, 50);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(size, packed.size());
    EXPECT_EQ(std::memcmp(block, packed.data(), 50), 0);
    XFREE(block);
}

TEST_F(LzssTest, BoundedExpansionFailsCleanlyOnDamagedStreams)
{
    Bytes in = Mixed(3000, 5);
    Bytes packed = Pack(in);
    // Every truncation fails without touching bytes outside either buffer.
    for (size_t cut = 0; cut < packed.size(); ++cut) {
        Bytes part(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(cut));
        Bytes out(in.size());
        uint32_t size = static_cast<uint32_t>(out.size());
        EXPECT_FALSE(lz.ExpandBuffer(reinterpret_cast<const char*>(part.data()), static_cast<uint32_t>(cut),
                                     reinterpret_cast<char*>(out.data()), &size))
            << cut;
        EXPECT_EQ(size, 0u);
    }
    EXPECT_NE(tvtest::LastError().find("CLzss::ExpandBuffer"), std::string::npos);
    // Flipped bits: any result is fine as long as it stays in bounds.
    Lcg r{99};
    for (int round = 0; round < 200; ++round) {
        Bytes bad = packed;
        bad[r.Next() % bad.size()] ^= static_cast<uint8_t>(1u << (r.Next() % 8));
        Bytes out(in.size());
        uint32_t size = static_cast<uint32_t>(out.size());
        lz.ExpandBuffer(reinterpret_cast<const char*>(bad.data()), static_cast<uint32_t>(bad.size()),
                        reinterpret_cast<char*>(out.data()), &size);
    }
    // Bytes after the end item are ignored.
    Bytes padded = packed;
    padded.insert(padded.end(), {1, 2, 3});
    EXPECT_EQ(Unpack(padded, in.size()), in);
}

// ------------------------------------------------------------ file forms

namespace {
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
} // namespace

TEST_F(LzssTest, FileFormsMatchMemoryForms)
{
    for (const Bytes& in :
         {Bytes{}, Bytes{'q'}, Text(65536 * 2 + 5, 21), Mixed(200000, 22), Repeat(70000, 1)}) {
        SCOPED_TRACE(in.size());
        ASSERT_TRUE(xWriteFile("plain.bin", in.data(), static_cast<uint32_t>(in.size())));
        ASSERT_TRUE(lz.Compress("plain.bin", "out/packed.lz")) << tvtest::LastError();
        Bytes packed = ReadAll("out/packed.lz");
        EXPECT_EQ(packed, Pack(in));
        ASSERT_TRUE(lz.Expand("out/packed.lz", "again.bin")) << tvtest::LastError();
        EXPECT_TRUE(ReadAll("again.bin") == in);
    }
    EXPECT_FALSE(lz.Compress("missing.bin", "x.lz"));
    EXPECT_FALSE(lz.Expand("missing.lz", "x.bin"));
}

TEST_F(LzssTest, FileExpansionStopsAtEndOfFile)
{
    Bytes in = Text(5000, 8);
    Bytes packed = Pack(in);
    // Truncated: fails (what was decoded is written) instead of inventing data.
    ASSERT_TRUE(xWriteFile("cut.lz", packed.data(), static_cast<uint32_t>(packed.size() - 2)));
    EXPECT_FALSE(lz.Expand("cut.lz", "cut.bin"));
    EXPECT_NE(tvtest::LastError().find("CLzss::ExpandFile"), std::string::npos);
    // Two streams back to back in one file: each ExpandFile takes exactly one.
    Bytes second = Pack(Random(300, 2));
    Bytes both = packed;
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(xWriteFile("two.lz", both.data(), static_cast<uint32_t>(both.size())));
    CBitFile src;
    CFile dst;
    ASSERT_TRUE(src.Open("two.lz", XFILE_READ));
    ASSERT_TRUE(dst.Open("two.bin", XFILE_WRITE));
    EXPECT_TRUE(lz.ExpandFile(&src, &dst));
    uint32_t pos = 0;
    src.GetPos(&pos, 0);
    EXPECT_EQ(pos, packed.size());
    src.FlushBitbuf();
    EXPECT_TRUE(lz.ExpandFile(&src, &dst));
    dst.Close();
    src.Close();
    Bytes expect = in;
    Bytes r = Random(300, 2);
    expect.insert(expect.end(), r.begin(), r.end());
    EXPECT_TRUE(ReadAll("two.bin") == expect);
}

// ------------------------------------------------------------ progress

namespace {
std::vector<std::array<int32_t, 3>> g_calls;
void Progress(int32_t done, int32_t total, int32_t starting)
{
    g_calls.push_back({done, total, starting});
}
} // namespace

TEST_F(LzssTest, ProgressCallsOpenAndCloseEachCompression)
{
    EXPECT_TRUE(lz.SetCallback(Progress, 0));
    g_calls.clear();
    Bytes in = Text(300000, 5);
    Bytes packed = Pack(in); // counting pass and the real pass
    ASSERT_GE(g_calls.size(), 4u);
    EXPECT_EQ(g_calls.front(), (std::array<int32_t, 3>{0, 300000, 1}));
    EXPECT_EQ(g_calls.back(), (std::array<int32_t, 3>{300000, 300000, 0}));
    for (size_t i = 1; i < g_calls.size(); ++i) {
        if (g_calls[i][2] == 0 && g_calls[i - 1][2] == 0) {
            EXPECT_GE(g_calls[i][0], g_calls[i - 1][0]);
        }
    }
    // Expansion makes no progress calls; a long interval leaves only the two.
    g_calls.clear();
    Unpack(packed, in.size());
    EXPECT_TRUE(g_calls.empty());
    lz.SetCallback(Progress, 1000000);
    uint32_t size = static_cast<uint32_t>(in.size());
    lz.CompressBuf(reinterpret_cast<const char*>(in.data()), &size, 0);
    EXPECT_EQ(g_calls.size(), 2u);
}

} // namespace
