// KCBL container: text forms written for each value type, the reader's
// tokens and messages, round trips, navigation and the typed getters.
#include "tarvex_test.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{

using tvtest::LastError;

class Kcbl : public tvtest::TarvexTest
{
};

std::string Escape(const char* s)
{
    std::string out;
    for (; *s != 0; ++s)
        out += *s == '\n' ? std::string("\\n") : *s == '\r' ? std::string("\\r") : std::string(1, *s);
    return out;
}

// One line per item, depth first: indentation, keyword and values joined
// by '|', arrays as [a,b].
std::string Dump(CKCBL& k)
{
    std::string out;
    std::vector<std::pair<const SLListNode*, int>> stack;
    const SLListNode* n = k.mainChunk.list.first != nullptr ? k.mainChunk.list.first->next : nullptr;
    int level = 0;
    for (;;) {
        if (n == nullptr) {
            if (stack.empty())
                return out;
            n = stack.back().first->next;
            level = stack.back().second;
            stack.pop_back();
            continue;
        }
        auto* item = static_cast<const TKCBLKeyword*>(n->data);
        out += std::string(static_cast<size_t>(level) * 2, ' ') + Escape(item->keyword);
        for (int32_t i = 0; i < item->numStrings; ++i) {
            const char* v = item->strings[i];
            out += '|';
            if (static_cast<uint8_t>(v[0]) == KCBL_ARRAY_START) {
                out += '[';
                for (const char* e = v + 1; static_cast<uint8_t>(*e) != KCBL_ARRAY_END;
                     e += std::strlen(e) + 1)
                    out += (e == v + 1 ? "" : ",") + Escape(e);
                out += ']';
            } else {
                out += Escape(v);
            }
        }
        out += '\n';
        if (item->subChunk != nullptr) {
            stack.emplace_back(n, level);
            n = item->subChunk->list.first->next;
            ++level;
        } else {
            n = n->next;
        }
    }
}

std::string ExportText(CKCBL& k)
{
    int32_t len = 0;
    EXPECT_TRUE(k.ExportSize(&len));
    std::string buf(static_cast<size_t>(len) + 1, '\x7f');
    int32_t got = 0;
    EXPECT_TRUE(k.Export(buf.data(), len + 1, &got)) << LastError();
    EXPECT_EQ(got, len);
    EXPECT_EQ(buf[static_cast<size_t>(len)], 0);
    buf.resize(static_cast<size_t>(len));
    return buf;
}

// Export, import into a fresh container, compare items and the text again.
void ExpectRoundTrip(CKCBL& k)
{
    std::string text = ExportText(k);
    CKCBL back;
    back.maxLineLength = k.maxLineLength;
    ASSERT_TRUE(back.Import(text.c_str())) << LastError() << "\n" << text;
    EXPECT_EQ(Dump(back), Dump(k)) << text;
    EXPECT_EQ(ExportText(back), text);
}

TEST_F(Kcbl, EachValueTypeHasItsTextForm)
{
    int32_t longs[] = {1, 2, 3};
    uint32_t ulongs[] = {0, 4294967295u};
    int32_t bools[] = {1, 0, 7};
    float floats[] = {1.5f, 2.0f, 0.0f};
    double doubles[] = {0.5, 1.25};
    struct Case {
        const char* name;
        bool (*build)(CKCBL&);
        const char* text;
    };
    static int32_t* L = longs;
    static uint32_t* U = ulongs;
    static int32_t* B = bools;
    static float* F = floats;
    static double* D = doubles;
    const Case cases[] = {
        {"long", [](CKCBL& k) { return !!k.NewItem("A", KLONG, 5, KEND); }, "A = 5\n"},
        {"long min", [](CKCBL& k) { return !!k.NewItem("A", KLONG, INT32_MIN, KEND); }, "A = -2147483648\n"},
        {"ulong", [](CKCBL& k) { return !!k.NewItem("U", KULONG, 4294967295u, KEND); }, "U = 4294967295\n"},
        {"bool", [](CKCBL& k) { return !!k.NewItem("B", KBOOL, 3, KBOOL, 0, KEND); }, "B = TRUE, FALSE\n"},
        {"float 2.5", [](CKCBL& k) { return !!k.NewItem("F", KFLOAT, 2.5f, KEND); }, "F = 2.5\n"},
        {"float 3.0", [](CKCBL& k) { return !!k.NewItem("F", KFLOAT, 3.0f, KEND); }, "F = 3\n"},
        {"float 0", [](CKCBL& k) { return !!k.NewItem("F", KFLOAT, 0.0f, KEND); }, "F = 0\n"},
        {"float 100", [](CKCBL& k) { return !!k.NewItem("F", KFLOAT, -100.0f, KEND); }, "F = -100\n"},
        {"double", [](CKCBL& k) { return !!k.NewItem("D", KDOUBLE, 2.5, KEND); }, "D = 2.500000\n"},
        {"string", [](CKCBL& k) { return !!k.NewItem("Name", KSTRING, "plain", KEND); }, "Name = plain\n"},
        {"string space", [](CKCBL& k) { return !!k.NewItem("Name", KSTRING, "a b", KEND); },
         "Name = \"a b\"\n"},
        {"string empty", [](CKCBL& k) { return !!k.NewItem("S", KSTRING, "", KEND); }, "S = \"\"\n"},
        {"string separators", [](CKCBL& k) { return !!k.NewItem("S", KSTRING, "a,b=c{d}", KEND); },
         "S = \"a,b=c{d}\"\n"},
        {"string escapes", [](CKCBL& k) { return !!k.NewItem("S", KSTRING, "t\tn\nr\rq\"b\\", KEND); },
         "S = \"t\\tn\\nr\\rq\\\"b\\\\\"\n"},
        {"string backslash plain", [](CKCBL& k) { return !!k.NewItem("S", KSTRING, "c:\\x", KEND); },
         "S = c:\\x\n"},
        {"string high byte", [](CKCBL& k) { return !!k.NewItem("S", KSTRING, "caf\xe9", KEND); },
         "S = \"caf\xe9\"\n"},
        {"long array", [](CKCBL& k) { return !!k.NewItem("X", KLONGARRAY, 3, L, KEND); }, "X = { 1, 2, 3}\n"},
        {"empty array", [](CKCBL& k) { return !!k.NewItem("X", KLONGARRAY, 0, L, KEND); }, "X = { }\n"},
        {"ulong array", [](CKCBL& k) { return !!k.NewItem("X", KULONGARRAY, 2, U, KEND); },
         "X = { 0, 4294967295}\n"},
        {"bool array", [](CKCBL& k) { return !!k.NewItem("X", KBOOLARRAY, 3, B, KEND); },
         "X = { TRUE, FALSE, TRUE}\n"},
        {"float array", [](CKCBL& k) { return !!k.NewItem("X", KFLOATARRAY, 3, F, KEND); },
         "X = { 1.5, 2, 0}\n"},
        {"double array", [](CKCBL& k) { return !!k.NewItem("X", KDOUBLEARRAY, 2, D, KEND); },
         "X = { 0.500000, 1.250000}\n"},
        {"comment value", [](CKCBL& k) { return !!k.NewItem("K", KLONG, 1, KSTRING, "; note", KEND); },
         "K = 1\t\t; note\n"},
        {"comment first", [](CKCBL& k) { return !!k.NewItem("K", KSTRING, ";c", KEND); }, "K\t\t;c\n"},
        {"comment between",
         [](CKCBL& k) { return !!k.NewItem("K", KLONG, 1, KSTRING, ";c,", KLONG, 2, KEND); },
         "K = 1, \t\t;c,\n\t2\n"},
        {"comment keyword", [](CKCBL& k) { return !!k.NewItem("; just a note", KEND); }, "; just a note\n"},
        {"chunk",
         [](CKCBL& k) {
             return k.NewChunk(KSTRING, "W", KLONG, 2, KEND) && k.NewItem("X", KLONG, 1, KEND) &&
                    k.ExitChunk() && k.NewItem("Y", KEND);
         },
         "{ = W, 2\n    X = 1\n}\nY\n"},
        {"raw data",
         [](CKCBL& k) { return !!k.NewItem("[", KSTRING, "ASCIIDATA", KSTRING, "a, {b}\n c\n", KEND); },
         "[ = ASCIIDATA\na, {b}\n c\n]\n"},
    };
    for (const Case& c : cases) {
        CKCBL k;
        ASSERT_TRUE(c.build(k)) << c.name << ": " << LastError();
        EXPECT_EQ(ExportText(k), c.text) << c.name;
        ExpectRoundTrip(k);
    }
}

TEST_F(Kcbl, FloatAndDoublePrecision)
{
    CKCBL k;
    k.SetFloatPrecision(2);
    EXPECT_STREQ(k.floatFormat, "%.2f");
    k.SetDoublePrecision(3);
    EXPECT_STREQ(k.doubleFormat, "%.3lf");
    k.NewItem("A", KFLOAT, 2.5f, KFLOAT, 1.0f / 3.0f, KDOUBLE, 1.0 / 3.0, KEND);
    k.SetFloatPrecision(0);
    k.NewItem("B", KFLOAT, 100.0f, KFLOAT, 2.5f, KEND); // no point: nothing to trim
    k.SetFloatPrecision(40);
    EXPECT_STREQ(k.floatFormat, "%.10f");
    k.SetDoublePrecision(-1);
    EXPECT_STREQ(k.doubleFormat, "%lf");
    k.SetFloatPrecision(-5);
    EXPECT_STREQ(k.floatFormat, "%f");
    EXPECT_EQ(ExportText(k), "A = 2.5, 0.33, 0.333\nB = 100, 2\n");
    float f = 0;
    double d = 0;
    EXPECT_TRUE(k.GetItem("A", KFLOAT, &f, KFLOAT, &f, KDOUBLE, &d, KEND));
    EXPECT_FLOAT_EQ(f, 0.33f);
    EXPECT_DOUBLE_EQ(d, 0.333);
}

TEST_F(Kcbl, LongStringsSplitAtTheMaximumLineLength)
{
    CKCBL k;
    k.SetMaxLineLength(20);
    k.NewItem("S", KSTRING, "abcdefghijklmnopqrstuvwxyz", KEND);
    k.NewItem("T", KSTRING, "short", KEND);
    k.NewItem("LongKeywordBeyondTheLimit", KSTRING, "x y z", KEND); // raised to value column + 3
    EXPECT_EQ(ExportText(k), "S = \"abcdefghijklmn\"\n    \"opqrstuvwxyz\"\nT = short\n"
                             "LongKeywordBeyondTheLimit = \"x\"\n                            \" \"\n"
                             "                            \"y\"\n                            \" \"\n"
                             "                            \"z\"\n");
    ExpectRoundTrip(k);
    k.SetMaxLineLength(-3); // ignored
    EXPECT_EQ(k.maxLineLength, 20);
    k.SetMaxLineLength(0);
    EXPECT_EQ(k.maxLineLength, 1000000);
}

TEST_F(Kcbl, ReaderTokens)
{
    struct Case {
        const char* text;
        const char* items;
    } cases[] = {
        {"a = 1\r\nb = 2\r\n", "a|1\nb|2\n"},
        {"  a b = c d  ", "ab|cd\n"},   // blanks do not separate
        {"key 5", "key5\n"},            // keyword runs on into the value
        {"k = \"x\"y\"z\"", "k|xyz\n"}, // quoted text joins its neighbours
        {"k = \"a\\\\b\\n\\r\\t\\q\\\"\"", "k|a\\b\\n\\r\tq\"\n"},
        {"k = 1,\n  2", "k|1|2\n"},                  // trailing comma continues
        {"k = \"ab\"\n   \"cd\"\nm", "k|abcd\nm\n"}, // quoted pieces join
        {"k = 1 ; note  ", "k|1|; note  \n"},
        {"  ; whole line, kept", "; whole line, kept\n"},
        {"x = {1, 2,\n 3}, y", "x|[1,2,3]|y\n"},
        {"x = {1, {2}, 3}", "x|[1,2,3]\n"}, // nested braces ignored
        {"x = { }, {\"\"}", "x|[]|[]\n"},
        {"x = {\"a,b\", ; dropped\n c}", "x|[a,b,c]\n"},
        {"a,, b", "a|b\n"},
        {"= 5", "|5\n"},
        {"a = \"\"", "a|\n"},
        {"\n\n \t \n}\n]\nz", "z\n"}, // blank lines, stray closers
        {"{ = W\n a = 1\n { \n  b\n }\n}\nc", "{|W\n  a|1\n  {\n    b\nc\n"},
        {"[ = ASCIIDATA\nfree, {text} \"\n  ]\nz", "[|ASCIIDATA|free, {text} \"\\n\nz\n"},
        {"a = x{y", "a|x{y\n"},
    };
    for (const auto& c : cases) {
        CKCBL k;
        EXPECT_TRUE(k.Import(c.text)) << c.text << ": " << LastError();
        EXPECT_EQ(Dump(k), c.items) << c.text;
        ExpectRoundTrip(k);
    }
}

TEST_F(Kcbl, ReaderMessages)
{
    struct Case {
        const char* text;
        const char* message;
        const char* kept;
    } cases[] = {
        {"a = 1\nb = \"open\nc = 2", "Missing terminating \" in string", "a|1\n"},
        {"a = \"x\\", "Missing terminating \" in string", ""},
        {"a = 1 }", "Trying to end array without starting one", ""},
        {"a = 1\nb = \x01", "Binary/corrupt data detected while trying to add it to a kbcl list", "a|1\n"},
        {"a = \x80", "Binary/corrupt data detected while trying to add it to a kbcl list", ""},
        {"a = \"\xfe\"", "Binary/corrupt data detected while trying to add it to a kbcl list", ""},
        {"[ = plain\n]", "Malformed rawdata string", ""},
        {"[ = ASCIIDATA\nno end", "Malformed rawdata string", ""},
        {"[ = ASCIIDATA", "Malformed rawdata string", ""},
        {"[ = ASCIIDATA\nab\x01"
         "c\n]",
         "Binary data detected in a rawdata ascii chunk", ""},
    };
    for (const auto& c : cases) {
        CKCBL k;
        EXPECT_FALSE(k.Import(c.text)) << c.text;
        EXPECT_EQ(LastError(), c.message) << c.text;
        EXPECT_EQ(Dump(k), c.kept) << c.text;
    }
}

// Long values are scanned a block at a time: every kind of character that
// changes how a value is written or read, at every position of values
// shorter than, as long as and longer than such blocks.
TEST_F(Kcbl, SpecialCharacterAtEveryPosition)
{
    const char* const kCorrupt = "Binary/corrupt data detected while trying to add it to a kbcl list";
    struct Case {
        char c;
        const char* quoted; // how it is written inside quotes; null: the value stays plain
    } cases[] = {
        {'x', nullptr}, {'\\', nullptr}, {' ', " "},   {'"', "\\\""}, {'\n', "\\n"},   {'\r', "\\r"},
        {'\t', "\\t"},  {',', ","},      {';', ";"},   {'=', "="},    {'{', "{"},     {'}', "}"},
        {'\x7f', "\x7f"},
    };
    const size_t lengths[] = {1, 15, 16, 17, 31, 32, 33, 48, 49, 50, 80, 81, 100};
    for (size_t len : lengths) {
        for (size_t pos = 0; pos < len; ++pos) {
            SCOPED_TRACE("length " + std::to_string(len) + ", position " + std::to_string(pos));
            for (const auto& c : cases) {
                std::string v(len, 'k');
                v[pos] = c.c;
                std::string want = "V = " + v + "\n";
                if (c.quoted != nullptr) {
                    std::string q = std::string(len, 'k').replace(pos, 1, c.quoted);
                    want = "V = \"" + q + "\"\n";
                }
                if (c.c == ';' && pos == 0) // a comment value
                    want = "V\t\t" + v + "\n";
                CKCBL k;
                ASSERT_TRUE(k.NewItem("V", KSTRING, v.c_str(), KEND));
                EXPECT_EQ(ExportText(k), want) << int(c.c);
                ExpectRoundTrip(k);
            }
            // Bytes the reader refuses, bare, inside quotes and in a comment;
            // marker bytes refused when building.
            std::string v(len, 'k');
            struct Bad {
                const char* before;
                char c;
                const char* after;
            } bad[] = {{"V = ", '\x01', ""},   {"V = ", '\x80', ""},      {"V = \"", '\xfd', "\""},
                       {"V = \"", '\xff', "\""}, {"V = 1 ;", '\xfe', ""}, {";", '\xfd', ""}};
            for (const auto& b : bad) {
                std::string text = b.before + std::string(v).replace(pos, 1, 1, b.c) + b.after;
                CKCBL k;
                EXPECT_FALSE(k.Import(text.c_str())) << text;
                EXPECT_EQ(LastError(), kCorrupt) << text;
            }
            for (char m : {'\xfd', '\xfe', '\xff'}) {
                std::string s = std::string(v).replace(pos, 1, 1, m);
                CKCBL k;
                EXPECT_FALSE(k.NewItem("V", KSTRING, s.c_str(), KEND));
                EXPECT_EQ(LastError(), kCorrupt);
                EXPECT_FALSE(k.NewItem(s.c_str(), KEND));
            }
        }
    }
}

// Items beyond the space the builder and the reader start with on the stack.
TEST_F(Kcbl, LargeItemsRoundTrip)
{
    CKCBL k;
    std::string big(5000, 'b');
    big[4000] = ' ';
    k.NewItem("Big", KSTRING, big.c_str(), KEND);
    std::vector<int32_t> many(300);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = static_cast<int32_t>(i * 7919);
    k.NewItem("Many", KLONGARRAY, static_cast<int32_t>(many.size()), many.data(), KSTRING, big.c_str(), KEND);
    k.NewItem("Values", KLONG, 1, KLONG, 2, KLONG, 3, KLONG, 4, KLONG, 5, KLONG, 6, KLONG, 7, KLONG, 8, KLONG, 9,
              KLONG, 10, KEND);
    ExpectRoundTrip(k);
    std::string text = "V = 0";
    for (int i = 1; i < 200; ++i)
        text += ", " + std::to_string(i);
    CKCBL many2;
    ASSERT_TRUE(many2.Import(text.c_str()));
    EXPECT_EQ(many2.GetNumStrings(), 200);
    EXPECT_STREQ(many2.GetString(199), "199");
    ExpectRoundTrip(many2);
}

TEST_F(Kcbl, ExportQuotesWhatTheReaderWouldNotGiveBack)
{
    // Keywords and elements read from quotes, comments that would swallow
    // the next item, and a quoted keyword after a line ending in a quote.
    CKCBL k;
    ASSERT_TRUE(k.Import("\"a b\" = \"x y\"\n\n\"c=d\" = {\"1 2\", \"\"}\n\"}\"\n\";k\" = 1\n"
                         "v = \";c\", 2\nw = 1 ;c,\n"))
        << LastError();
    EXPECT_EQ(Dump(k), "a b|x y\nc=d|[1 2,]\n}\n;k|1\nv|;c|2\nw|1|;c,\n");
    EXPECT_EQ(ExportText(k), "\"a b\" = \"x y\"\n\n\"c=d\" = { \"1 2\", \"\"}\n\"}\"\n\n\";k\" = 1\n"
                             "v = \";c\", 2\nw = 1, \";c,\"\n");
    ExpectRoundTrip(k);
    // Without the blank line the reader would join the two quoted pieces.
    CKCBL j;
    j.Import("a = \"x y\"\n\"c d\" = 1");
    EXPECT_EQ(Dump(j), "a|x yc d|1\n");
}

TEST_F(Kcbl, ExportBuffersAndState)
{
    CKCBL k;
    int32_t len = 0;
    char buf[64];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_TRUE(k.Export(buf, sizeof buf, &len)); // no data yet
    EXPECT_EQ(len, 1);
    EXPECT_EQ(buf[0], 0);
    k.NewItem("A", KLONG, 5, KEND);
    EXPECT_TRUE(k.ExportSize(&len));
    EXPECT_EQ(len, 6);
    EXPECT_FALSE(k.Export(buf, 5, &len)); // the line does not fit
    EXPECT_EQ(len, -1);
    std::memset(buf, 'x', sizeof buf);
    EXPECT_TRUE(k.Export(buf, 6, &len)); // fits without the terminator
    EXPECT_EQ(std::string(buf, 7), "A = 5\nx");
    k.NewItem("B", KEND);
    k.FirstItem();
    EXPECT_TRUE(k.Export(buf, sizeof buf, &len));
    EXPECT_STREQ(k.GetKeyword(), "A"); // the reader did not move
    EXPECT_FALSE(k.Export(buf, -1, &len));

    CKCBL bad;
    bad.NewItem("[", KSTRING, "nope", KSTRING, "text", KEND);
    EXPECT_FALSE(bad.ExportSize(&len));
    EXPECT_EQ(LastError(), "Malformed rawdata string");
    EXPECT_EQ(len, -1);
}

TEST_F(Kcbl, BuildingErrors)
{
    CKCBL k;
    EXPECT_FALSE(k.NewItem("K", KSTRING, static_cast<const char*>(nullptr), KEND));
    EXPECT_EQ(LastError(), "Tried to add NULL string in keyword \"K\"");
    EXPECT_FALSE(k.NewItem("K", KLONG, 1, 1234, KEND));
    EXPECT_EQ(LastError(), "Unknown data type (Missing KEND?) in keyword \"K\"");
    EXPECT_FALSE(k.NewItem("K", KSTRING,
                           "\xfd"
                           "1",
                           KEND)); // would read as an array
    k.NewItem("K", KLONG, 1, KEND);
    EXPECT_FALSE(k.GetItem("K", KLONG, nullptr, 99, KEND) && false);
    int32_t v = 0;
    EXPECT_FALSE(k.GetItem("K", KLONG, &v, 0x10000077u, KEND));
    EXPECT_EQ(LastError(), "Unknown data type (Missing KEND?) in keyword \"K\"");
    EXPECT_EQ(Dump(k), "K|1\n");
}

TEST_F(Kcbl, FindItem)
{
    CKCBL k;
    ASSERT_TRUE(k.Import("a = 1\r\nb = 2\r\nc = x, y\r\nb = 3"));
    EXPECT_TRUE(k.FindItem("B"));
    EXPECT_EQ(std::string(k.GetString(0)), "2");
    EXPECT_TRUE(k.FindItem("b")); // the current item matches: no move
    EXPECT_EQ(std::string(k.GetString(0)), "2");
    EXPECT_TRUE(k.FindItem("C", "X", "y"));
    EXPECT_FALSE(k.FindItem("c", "x", "y", "z"));
    EXPECT_TRUE(k.FindItem("b", "3"));
    EXPECT_TRUE(k.FindItem("a")); // wraps around
    k.FindItem("c");
    k.RestartMode(0);
    EXPECT_FALSE(k.FindItem("a"));
    EXPECT_STREQ(k.GetKeyword(), "c");
    EXPECT_FALSE(k.FindItem("missing"));
    k.RestartMode(1);
    EXPECT_FALSE(k.FindItem("missing"));
    EXPECT_FALSE(k.FindItem(nullptr));
}

TEST_F(Kcbl, DepthFirstWalkAndChunks)
{
    CKCBL k;
    ASSERT_TRUE(k.Import("a\n{ = one\n b\n { = two\n }\n c\n}\nd\n{ = empty\n}\n"));
    std::string order;
    k.FirstItem();
    do {
        if (k.ItemExists())
            order += std::string(k.GetKeyword()) +
                     (k.ItemType() == 2 ? std::string(":") + k.GetString(0) : "") + " ";
    } while (k.NextItem(1) || k.ItemExists());
    EXPECT_EQ(order, "a {:one b {:two c d {:empty ");
    CKCBL copy(k), assigned;
    assigned.NewItem("gone", KEND);
    assigned = k;
    EXPECT_EQ(Dump(copy), Dump(k));
    EXPECT_EQ(Dump(assigned), Dump(k));

    k.MainChunk();
    EXPECT_TRUE(k.FindSubChunk("ONE"));
    EXPECT_FALSE(k.FindSubChunk("two")); // nested chunks are not searched
    k.FindSubChunk("one");
    EXPECT_TRUE(k.EnterChunk());
    EXPECT_EQ(k.depth, 1);
    EXPECT_STREQ(k.GetKeyword(), "b");
    EXPECT_FALSE(k.EnterChunk()); // plain item
    EXPECT_TRUE(k.ExitChunk());
    EXPECT_EQ(k.ItemType(), 2);
    EXPECT_STREQ(k.GetString(0), "one");
    EXPECT_FALSE(k.ExitChunk());
    EXPECT_TRUE(k.NextItem());
    EXPECT_STREQ(k.GetKeyword(), "d");
}

TEST_F(Kcbl, KillAndReplace)
{
    CKCBL k;
    ASSERT_TRUE(k.Import("a = 1\n{ = sub\n x = {1,2}\n { \n  y\n }\n}\nb = 2\n"));
    k.FirstItem();
    EXPECT_TRUE(k.KillItem()); // the first item: the dummy becomes current
    EXPECT_FALSE(k.ItemExists());
    EXPECT_FALSE(k.KillItem()); // the dummy cannot go
    EXPECT_TRUE(k.NextItem());
    EXPECT_EQ(k.ItemType(), 2);
    EXPECT_TRUE(k.KillItem()); // with its subtree
    EXPECT_EQ(Dump(k), "b|2\n");
    EXPECT_TRUE(k.ReplaceItem("B", KLONG, 7, KSTRING, "s", KEND));
    EXPECT_EQ(Dump(k), "B|7|s\n");
    k.NewItem("c", KEND);
    k.FirstItem();
    EXPECT_TRUE(k.ReplaceItem(nullptr, KBOOL, 1, KEND)); // keeps the current keyword and place
    EXPECT_EQ(Dump(k), "B|TRUE\nc\n");
    EXPECT_FALSE(k.ReplaceItem("B", KSTRING, static_cast<const char*>(nullptr), KEND));
    EXPECT_EQ(Dump(k), "B|TRUE\nc\n"); // a bad list leaves the item alone
    EXPECT_FALSE(k.ReplaceItem("nothere", KLONG, 1, KEND));

    CKCBL copy(k);
    k.Free();
    EXPECT_EQ(k.hasData, 0);
    EXPECT_EQ(Dump(copy), "B|TRUE\nc\n");
}

TEST_F(Kcbl, TypedGetters)
{
    CKCBL k;
    ASSERT_TRUE(k.Import("v = -12, 4000000000, 2.5, 0.125, hello, yes, {1, 2, 3}, {true, No}, ;c\n"
                         "w = 12abc, x, {1.5, y}"));
    k.FindItem("v");
    int32_t l = 0, b = 0, la[3] = {}, ba[2] = {}, n = 0;
    uint32_t u = 0;
    float f = 0, fa[3] = {};
    double d = 0;
    char s[6];
    EXPECT_TRUE(k.GetItem(nullptr, KLONG, &l, KULONG, &u, KFLOAT, &f, KDOUBLE, &d, KSTRING, 6, s, KBOOL, &b,
                          KLONGARRAY, 3, la, KBOOLARRAY, 2, ba, KEND));
    EXPECT_EQ(l, -12);
    EXPECT_EQ(u, 4000000000u);
    EXPECT_FLOAT_EQ(f, 2.5f);
    EXPECT_DOUBLE_EQ(d, 0.125);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(b, 1);
    EXPECT_EQ(la[2], 3);
    EXPECT_EQ(ba[0], 1);
    EXPECT_EQ(ba[1], 0);
    EXPECT_FALSE(
        k.GetItem("v", KLONG, &l, KULONG, &u, KFLOAT, &f, KDOUBLE, &d, KSTRING, 5, s, KEND)); // no room
    EXPECT_FALSE(k.GetItem("v", KLONG, &l, KULONG, &u, KFLOAT, &f, KDOUBLE, &d, KSTRING, 70000, s, KEND));
    EXPECT_FALSE(k.GetItem("v", KLONG, &l, KULONG, &u, KFLOAT, &f, KDOUBLE, &d, KSTRING, 6, s, KBOOL, &b,
                           KLONGARRAY, 70000, la, KEND));
    EXPECT_FALSE(k.GetLongArray(6, la, 4)); // fewer elements
    EXPECT_TRUE(k.GetLongArray(6, la, 0));
    EXPECT_FALSE(k.GetLong(6, &l)); // an array is not a number
    EXPECT_TRUE(k.GetNumArrayItems(6, &n));
    EXPECT_EQ(n, 3);
    EXPECT_FALSE(k.GetNumArrayItems(0, &n));
    EXPECT_EQ(k.GetDataType(6), 3);
    EXPECT_EQ(k.GetDataType(8), 1);
    EXPECT_EQ(k.GetDataType(0), 2);
    EXPECT_EQ(k.GetDataType(99), 2);
    EXPECT_EQ(k.GetString(99), nullptr);
    EXPECT_EQ(k.GetNumStrings(), 9);
    EXPECT_FALSE(k.GetBool(4, &b)); // "hello"

    k.FindItem("w");
    EXPECT_TRUE(k.GetLong(0, &l)); // scanf rules: one field converts
    EXPECT_EQ(l, 12);
    EXPECT_FALSE(k.GetLong(1, &l));
    EXPECT_FALSE(k.GetFloatArray(2, fa, 2));
    EXPECT_FALSE(k.GetItem("w", KLONG, &l, KLONG, &l, KLONG, &l, KLONG, &l, KEND)); // fewer values

    const char* truths[] = {"TRUE", "true", "1", "YES", "yes"};
    const char* lies[] = {"FALSE", "False", "0", "NO", "no"};
    for (const char* t : truths) {
        CKCBL q;
        q.NewItem("b", KSTRING, t, KEND);
        EXPECT_TRUE(q.GetBool(0, &b) && b == 1) << t;
    }
    for (const char* t : lies) {
        CKCBL q;
        q.NewItem("b", KSTRING, t, KEND);
        EXPECT_TRUE(q.GetBool(0, &b) && b == 0) << t;
    }
    CKCBL c;
    c.Import("; comment\n \" x\"\n\"\"");
    EXPECT_TRUE(c.IsComment());
    c.NextItem();
    EXPECT_TRUE(c.IsComment());
    c.NextItem();
    EXPECT_TRUE(c.IsComment());
    c.NextItem();
    EXPECT_EQ(c.GetDataType(0), 0); // past the end: no current item
}

TEST_F(Kcbl, SaveAndLoad)
{
    CKCBL k;
    int32_t arr[] = {4, 5};
    k.NewChunk(KSTRING, "Window", KEND);
    k.NewItem("Title", KSTRING, "My \"game\"", KEND);
    k.NewItem("Size", KLONGARRAY, 2, arr, KEND);
    k.ExitChunk();
    k.NewItem("[", KSTRING, "ASCIIDATA", KSTRING, "free text\n", KEND);
    ASSERT_TRUE(k.Save("settings.txt"));
    CKCBL back;
    ASSERT_TRUE(back.Load("settings.txt")) << LastError();
    EXPECT_EQ(Dump(back), Dump(k));
    EXPECT_FALSE(back.Load("missing.txt"));
    CKCBL empty;
    ASSERT_TRUE(empty.Save("empty.txt"));
    EXPECT_FALSE(back.Load("empty.txt")); // no size
}

} // namespace
