// Resource data: scripts and their look-ups, the errors each section
// records, bitmaps cut from generated sheets, animations, colours, flags and
// hotkeys, the default look and its loans, and packed files (good and
// damaged). Pictures are made by the tests themselves.
#include "tarvex_test.h"

#include <tarvex/pictype.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace
{

const std::string kFont = std::string(TARVEX_SOURCE_DIR) + "/data/fonts/dejavusans16.xbf";

// A pixel colour that tells the position it came from.
TRGBA At(int32_t x, int32_t y) { return TRGBA(static_cast<uint8_t>(x * 3), static_cast<uint8_t>(y * 5), 77); }

// The colour channels of a pixel (24-bit pixels carry no alpha).
std::string Rgb(const CBitmap* b, int32_t x, int32_t y)
{
    TRGBA c(0, 0, 0, 0);
    if (!b->GetPixel(x, y, &c))
        return "outside";
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}
std::string Rgb(TRGBA c)
{
    return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

void WriteFile(const char* name, const std::string& bytes)
{
    std::ofstream(name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class ResDataTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        bmpType = XNEW(CBMPPic);
        // sheet.bmp: 64x32, 24-bit, every pixel tells its position.
        CBitmap sheet;
        ASSERT_TRUE(sheet.CreateRGB(64, 32, 24, 8, 8, 8, 16, 8, 0, 1));
        for (int32_t y = 0; y < 32; ++y)
            for (int32_t x = 0; x < 64; ++x) {
                TRGBA c = At(x, y);
                sheet.PutPixel(x, y, &c);
            }
        ASSERT_TRUE(sheet.Save("sheet.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
        // pal.bmp: 8x8, 8-bit with a palette whose entry 1 is (10, 20, 30).
        CPalette pal;
        TRGBA e(10, 20, 30, 0);
        pal.SetIndex(&e, 1);
        CBitmap indexed;
        ASSERT_TRUE(indexed.CreateIndex(8, 8, 8, &pal, 0));
        ASSERT_TRUE(indexed.Save("pal.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
    }
    void TearDown() override
    {
        res.Free();
        XDELETE(bmpType);
        TarvexTest::TearDown();
    }

    // The error list as "section: text" lines.
    std::string Errors()
    {
        std::string out;
        for (res.errors.First(); res.errors.Exists(); res.errors.Next()) {
            auto* e = static_cast<TResError*>(res.errors.Get());
            out += std::string(e->section) + ": " + e->text + "\n";
        }
        return out;
    }

    CBMPPic* bmpType = nullptr;
    CResData res;
};

std::string Script(const std::string& body) { return "; script\n" + body; }

TEST_F(ResDataTest, DefinesStringsValuesLookUps)
{
    ASSERT_TRUE(
        res.Import(Script("{ = Defines\n    IDW_MAIN = 100\n    IDS_HELLO = 7\n    idw_main = 5\n}\n"
                          "{ = Strings\n    IDS_HELLO = 7, \"Hello, world\"\n    IDS_EMPTY = 8, \"\"\n}\n"
                          "{ = Values\n    VAL_SPEED = 3, -42\n}\n")
                       .c_str()));
    EXPECT_EQ(Errors(), "");
    int32_t id = -1;
    struct {
        const char* name;
        int32_t found, id;
    } ids[] = {{"IDW_MAIN", 1, 100}, {"idw_MAIN", 1, 100}, {"XCNTRL_CLOSE", 1, 1002},
               {"IDS_NONE", 1, 0},   {"IDG_NONE", 1, 0},   {"IDW_OTHER", 0, -1}};
    for (const auto& c : ids) {
        id = -1;
        EXPECT_EQ(res.GetResId(c.name, &id), c.found) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
    }
    EXPECT_STREQ(res.GetResName(100), "IDW_MAIN"); // the first of equal ids
    EXPECT_STREQ(res.GetResName(5), "idw_main");
    EXPECT_EQ(res.GetResName(12345), nullptr);
    EXPECT_STREQ(res.GetResString(7), "Hello, world");
    EXPECT_STREQ(res.GetResString(8), "");
    EXPECT_STREQ(res.GetResString(9, "fallback"), "fallback");
    EXPECT_EQ(res.GetResValue(3), -42);
    EXPECT_EQ(res.GetResValue(4), 0);
    EXPECT_STREQ(tvtest::LastError().c_str(), "No value associated with this is");
}

TEST_F(ResDataTest, PredefinedIdsOnlyWithADefinesSection)
{
    ASSERT_TRUE(res.Import(Script("{ = Values\n    V = 1, 2\n}\n").c_str()));
    int32_t id = 0;
    EXPECT_FALSE(res.GetResId("XCNTRL_CLOSE", &id));
}

TEST_F(ResDataTest, ScriptMarkerInCapitalsLoadsAsScript)
{
    WriteFile("caps.res", "; SCRIPT\n{ = Defines\n    A = 1\n}\n");
    ASSERT_TRUE(res.Load("caps.res")) << tvtest::LastError();
    int32_t id = 0;
    EXPECT_TRUE(res.GetResId("A", &id));
    EXPECT_EQ(id, 1);
}

// Each script fails in one section; the others still load.
TEST_F(ResDataTest, ErrorsAreRecordedPerSectionAndSetUpGoesOn)
{
    const std::string longName(32, 'N');
    struct {
        std::string body;
        std::string errors;
    } cases[] = {
        {"{ = Defines\n " + longName + " = 1\n}\n", "Defines: Define name to big : \"" + longName + "\"\n"},
        {"{ = Defines\n A = x\n B = 2\n}\n", "Defines: Unable to get define id for \"A\"\n"},
        {"{ = Strings\n S = 1\n}\n", "Strings: Unable to get id/string for \"S\"\n"},
        {"{ = Values\n V = 1\n}\n", "Values: Unable to get id/value for \"V\"\n"},
        {"{ = Palette\n P\n}\n", "Palette: Unable to get string for \"P\"\n"},
        {"{ = Palette\n P = sheet.bmp\n}\n", "Palette: The picture \"sheet.bmp\" has no palette\n"},
        {"{ = Bitmaps\n B = sheet.bmp, 0, 0, 4\n}\n",
         "Bitmaps: Failed to read in the x,y,w,h data fields for bitmap \"B\"\n"},
        {"{ = Bitmaps\n B = sheet.bmp, 0, 0, 0, 4\n}\n", "Bitmaps: Invalid size 0x4 for bitmap \"B\"\n"},
        {"{ = Bitmaps\n B = sheet.bmp, 0, 0, 4, -2\n}\n", "Bitmaps: Invalid size 4x-2 for bitmap \"B\"\n"},
        {"{ = Bitmaps\n B = sheet.bmp, 61, 0, 4, 4\n}\n",
         "Bitmaps: The rectangle of bitmap \"B\" lies outside its 64x32 picture\n"},
        {"{ = Bitmaps\n B = sheet.bmp, -1, 0, 4, 4\n}\n",
         "Bitmaps: The rectangle of bitmap \"B\" lies outside its 64x32 picture\n"},
        {"{ = Bitmaps\n B = sheet.bmp, 2147483647, 0, 2147483647, 4\n}\n",
         "Bitmaps: The rectangle of bitmap \"B\" lies outside its 64x32 picture\n"},
        {"{ = Bitmaps\n    { = sheet.bmp\n        C = 0, 28, 8, 8\n    }\n}\n",
         "Bitmaps: The rectangle of bitmap \"C\" lies outside its 64x32 picture\n"},
        {"{ = Bitmaps\n    { = sheet.bmp\n        C = 0, 0, 8\n    }\n}\n",
         "Bitmaps: Failed to read in the x,y,w,h data fields for bitmap\n"},
        {"{ = Animations\n A = sheet.bmp, 0, 0, 0, 8, 8, 2, 2, 0\n}\n",
         "Animations: The frame delay of animation \"A\" is below 1 ms\n"},
        {"{ = Animations\n A = sheet.bmp, 50, 0, 0, 8, 8, 9, 1, 0\n}\n",
         "Animations: Failed to create the \"A\" animation [xCreateCntrlAnim: The frame grid does not fit "
         "the "
         "picture.]\n"},
        {"{ = Animations\n A = sheet.bmp, 50, 0, 0, 1073741824, 8, 4, 1, 0\n}\n",
         "Animations: Failed to create the \"A\" animation [xCreateCntrlAnim: The frame grid does not fit "
         "the "
         "picture.]\n"},
        {"{ = Animations\n A = sheet.bmp, 50, 0, 0, 8, 8, 0, 1, 0\n}\n",
         "Animations: Invalid frame size or grid for animation \"A\"\n"},
        {"{ = Animations\n A = sheet.bmp, 50\n}\n",
         "Animations: Failed to read in the frame delay,x,y,w,h,col,row,transFlag data fields for animation "
         "\"A\"\n"},
        {"{ = Colors\n C = \"1 2 3\"\n}\n",
         "Colors: Unable to read the color \"1 2 3\": four numbers 0-255 are needed\n"},
        {"{ = Colors\n C = \"1 2 3 256\"\n}\n",
         "Colors: Unable to read the color \"1 2 3 256\": four numbers 0-255 are needed\n"},
        {"{ = Colors\n C = \"1 -2 3 4\"\n}\n",
         "Colors: Unable to read the color \"1 -2 3 4\": four numbers 0-255 are needed\n"},
        {"{ = Colors\n C = nosuch\n}\n", "Colors: Unable to find the specified color (\"nosuch\")\n"},
        {"{ = Colors\n C = \"grey 1\"\n}\n", "Colors: Unable to find the specified color (\"grey\")\n"},
        {"{ = Colors\n C = \"grey -1\"\n}\n", "Colors: Unable to find the specified color (\"grey -1\")\n"},
        {"{ = Defaults\n Font = nofont\n}\n",
         "Defaults: Unable to get the default font [The \"nofont\" font hasn't been preloaded in the res "
         "file]\n"},
        {"{ = Defaults\n Close = a, b, c\n}\n",
         "Defaults: Unable to get the default close bitmaps [Unable to find the \"a\" bitmap in the res "
         "file]\n"},
        {"{ = Defaults\n Button = grey, grey, grey, grey\n}\n",
         "Defaults: Unable to find the specified color (\"grey\")\n"},
        {"{ = Fonts\n F = missing.xbf\n}\n", "Fonts: Unable to load the font \"F\" from \"missing.xbf\""},
    };
    for (const auto& c : cases) {
        std::string script = Script(c.body + "{ = Values\n    AFTER = 1, 11\n}\n");
        ASSERT_TRUE(res.Import(script.c_str())) << c.body;
        std::string got = Errors();
        EXPECT_EQ(got.substr(0, c.errors.size()), c.errors) << c.body;
        EXPECT_EQ(res.GetResValue(1), 11) << "set-up stopped after: " << c.body;
    }
}

TEST_F(ResDataTest, AFailingItemEndsItsSectionOnly)
{
    ASSERT_TRUE(res.Import(Script("{ = Defines\n A = 1\n B = x\n C = 3\n}\n").c_str()));
    int32_t id = 0;
    EXPECT_TRUE(res.GetResId("A", &id));
    EXPECT_FALSE(res.GetResId("C", &id));
}

TEST_F(ResDataTest, BitmapsWholeCroppedAndCutFromSheets)
{
    ASSERT_TRUE(res.Import(Script("{ = Bitmaps\n"
                                  "    WHOLE = sheet.bmp, 5, 5, -1, -1\n"
                                  "    HALF = sheet.bmp, 9, 9, -1, 3\n"
                                  "    CROP = sheet.bmp, 10, 4, 6, 5\n"
                                  "    { = sheet.bmp\n"
                                  "        ; a comment line\n"
                                  "        CUT1 = 0, 0, 8, 8\n"
                                  "        CUT2 = 56, 24, 8, 8\n"
                                  "    }\n"
                                  "    INDEXED = pal.bmp, 1, 1, 2, 2\n"
                                  "}\n")
                               .c_str()));
    EXPECT_EQ(Errors(), "");
    struct {
        const char* name;
        int32_t w, h, x0, y0;
    } cases[] = {{"WHOLE", 64, 32, 0, 0},
                 {"half", 64, 32, 0, 0},
                 {"CROP", 6, 5, 10, 4},
                 {"CUT1", 8, 8, 0, 0},
                 {"cut2", 8, 8, 56, 24}};
    for (const auto& c : cases) {
        CBitmap* b = res.GetBm(c.name);
        ASSERT_NE(b, nullptr) << c.name;
        EXPECT_EQ(b->width, c.w) << c.name;
        EXPECT_EQ(b->height, c.h) << c.name;
        EXPECT_EQ(Rgb(b, c.w - 1, c.h - 1), Rgb(At(c.x0 + c.w - 1, c.y0 + c.h - 1))) << c.name;
        EXPECT_EQ(Rgb(b, 0, 0), Rgb(At(c.x0, c.y0))) << c.name;
    }
    CBitmap* ix = res.GetBm("INDEXED");
    ASSERT_NE(ix, nullptr);
    EXPECT_EQ(ix->bits, 24); // crops are 24-bit whatever the file
    EXPECT_EQ(res.GetBm("nosuch"), nullptr);
    EXPECT_STREQ(tvtest::LastError().c_str(), "Unable to find the \"nosuch\" bitmap in the res file");
}

TEST_F(ResDataTest, AnimationFramesByRowsWithTheirDelay)
{
    ASSERT_TRUE(res.Import(
        Script(
            "{ = Animations\n    SPIN = sheet.bmp, 40, 30, 30, 16, 8, 3, 2, 1\n    ONE = sheet.bmp, 1, 0, 0, "
            "64, 32, 1, 1, 0\n}\n")
            .c_str()));
    EXPECT_EQ(Errors(), "");
    TCntrlAnim* a = res.GetAnim("spin");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->interval, 40u);
    EXPECT_EQ(a->transparent, 1);
    ASSERT_EQ(a->frames.GetNumNodes(), 6);
    // Frames run by rows from the top-left corner (the x, y values are not used).
    for (int32_t i = 0; i < 6; ++i) {
        auto* f = static_cast<CBitmap*>(a->frames.Get(static_cast<uint32_t>(i)));
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(Rgb(f, 1, 2), Rgb(At((i % 3) * 16 + 1, (i / 3) * 8 + 2))) << "frame " << i;
    }
    EXPECT_NE(res.GetAnim("ONE"), nullptr);
}

TEST_F(ResDataTest, FlagsAndHotkeysByName)
{
    struct {
        const char* text;
        int32_t ok;
        int32_t flags;
    } flags[] = {{"CNTRL_TABSTOP|CNTRL_EXTRUDED", 1, 0x8001},
                 {"cntrl_tabstop", 1, 0x8000},
                 {"CNTRL_TAB", 0, 0},
                 {"CNTRL_TABSTOPX", 0, 0},
                 {"0", 1, 0},
                 {"XWIN_TITLEBAR | XWIN_DRAG\tXWIN_ALWAYSLAST", 1, 0x10021},
                 {"XGUI_DISABLED|ANIM_PINGPONG", 1, 4},
                 {"", 0, 0},
                 {"|", 0, 0},
                 {"CNTRL_TABSTOP|nope", 0, 0}};
    for (const auto& c : flags) {
        int32_t v = -1;
        EXPECT_EQ(res.ParseFlags(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.flags) << c.text;
        } else {
            EXPECT_STREQ(tvtest::LastError().c_str(), "Unknown flag") << c.text;
        }
    }
    struct {
        const char* text;
        int32_t ok;
        int16_t key;
    } keys[] = {{"XKEY_ENTER", 1, 13},  {"xkey_f1", 1, 299},   {"XKEY_F24", 1, 322}, {"XKEY_F25", 0, 0},
                {"XKEY_F01", 0, 0},     {"XKEY_A", 1, 65},     {"XKEY_z", 1, 90},    {"XKEY_7", 1, 55},
                {"XKEY_NP3", 1, 288},   {"NULL", 1, 0},        {"XKEY_AB", 0, 0},    {"XKEY_", 0, 0},
                {"XKEY_TILDE", 1, 115}, {"XKEY_RWIN", 1, 277}, {"F1", 0, 0}};
    for (const auto& c : keys) {
        int16_t k = -1;
        EXPECT_EQ(res.ParseHotkey(c.text, &k), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(k, c.key) << c.text;
        }
    }
}

TEST_F(ResDataTest, ColoursAndColourSets)
{
    ASSERT_TRUE(
        res.Import(Script("{ = Colors\n"
                          "    PANEL = \"255, 0, 0, 0\", \"0 0 255 9\", grey\n"
                          "    panel = \"1 1 1 1\"\n"
                          "    REF = \"PANEL 1\", \" , white\"\n"
                          "    EIGHT = red, green, blue, white, black, grey, \"7,7,7,7\", \"8 8 8 8\"\n"
                          "    SEVEN = red, green, blue, white, black, grey, red\n"
                          "}\n")
                       .c_str()));
    EXPECT_EQ(Errors(), "");
    struct {
        const char* name;
        int32_t entry;
        int32_t ok;
        TRGBA c;
    } cases[] = {{"PANEL", 0, 1, TRGBA(255, 0, 0, 0)},
                 {"panel", 1, 1, TRGBA(0, 0, 255, 9)},
                 {"PANEL", 2, 1, TRGBA(128, 128, 128, 0)},
                 {"REF", 0, 1, TRGBA(0, 0, 255, 9)},
                 {"REF", 1, 1, TRGBA(255, 255, 255, 0)},
                 {"PANEL", 3, 0, {}},
                 {"PANEL", -1, 0, {}},
                 {"GREY", 0, 1, TRGBA(128, 128, 128, 0)},
                 {"black", 0, 1, TRGBA(1, 1, 1, 0)},
                 {"nosuch", 0, 0, {}}};
    for (const auto& c : cases) {
        TRGBA got(9, 9, 9, 9);
        EXPECT_EQ(res.GetCol(c.name, &got, c.entry), c.ok) << c.name << " " << c.entry;
        if (c.ok) {
            EXPECT_EQ(got, c.c) << c.name << " " << c.entry;
        }
    }
    TCntrlColor* set = res.GetCntrlColor("eight");
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(set->colors[6], TRGBA(7, 7, 7, 7));
    EXPECT_EQ(set->colors[7], TRGBA(8, 8, 8, 8));
    EXPECT_EQ(res.GetCntrlColor("EIGHT"), set); // built once
    EXPECT_EQ(res.GetCntrlColor("SEVEN"), nullptr);
}

TEST_F(ResDataTest, FontsAndTheDefaultLookWithItsLoans)
{
    ASSERT_TRUE(res.Import(Script("{ = Fonts\n    BODY = \"" + kFont +
                                  "\"\n}\n"
                                  "{ = Bitmaps\n"
                                  "    { = sheet.bmp\n"
                                  "        B0 = 0, 0, 4, 4\n        B1 = 4, 0, 4, 4\n"
                                  "        B2 = 8, 0, 4, 4\n        B3 = 12, 0, 4, 4\n"
                                  "    }\n"
                                  "}\n"
                                  "{ = Colors\n    SET = red, green, blue, white, black, grey, red, red\n}\n"
                                  "{ = Defaults\n"
                                  "    Font = body\n    Caret = B0\n    Check = B1\n"
                                  "    Close = B0, B1, B2, B3\n    ArrowDown = B3, B2, B1, B0\n"
                                  "    Titlebar = SET, SET, SET, SET\n    Static = SET, SET, SET, SET\n"
                                  "}\n")
                               .c_str()));
    EXPECT_EQ(Errors(), "");
    CFont* font = res.GetFont("BODY");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(res.defaults.font, font);
    EXPECT_EQ(res.defaults.caret, res.GetBm("B0"));
    EXPECT_EQ(res.defaults.close[3], res.GetBm("B3"));
    EXPECT_EQ(res.defaults.arrowDown[0], res.GetBm("B3"));
    EXPECT_EQ(res.defaults.drop[0], nullptr);
    EXPECT_EQ(res.defaults.titlebar[0], res.GetCntrlColor("SET"));
    EXPECT_EQ(res.defaults.statics[3], res.GetCntrlColor("SET"));

    struct Borrower {
        const TResDefaults* held = nullptr;
        int32_t ended = 0;
    } root, other;
    auto end = [](void* b, const TResDefaults*) {
        auto* who = static_cast<Borrower*>(b);
        who->held = nullptr;
        ++who->ended;
    };
    root.held = res.LendDefaults(&root, end);
    other.held = res.LendDefaults(&other, end);
    ASSERT_NE(root.held, nullptr);
    res.EndLoan(&other); // let go by itself: not called back
    res.Free();
    EXPECT_EQ(root.held, nullptr);
    EXPECT_EQ(root.ended, 1);
    EXPECT_EQ(other.ended, 0);
    EXPECT_EQ(res.LendDefaults(&root, end), nullptr); // nothing to lend now
}

TEST_F(ResDataTest, WindowsFontsDefaultsAndDataStayInTheContainer)
{
    ASSERT_TRUE(res.Import(Script("{ = Defines\n    IDW_MAIN = 1\n}\n"
                                  "{ = Window, IDW_MAIN\n    Flags = XWIN_TITLEBAR\n}\n"
                                  "{ = Colors\n    C = red\n}\n"
                                  "{ = Data\n    Level = 3\n}\n")
                               .c_str()));
    res.MainChunk();
    EXPECT_FALSE(res.FindItem("{", "Defines"));
    EXPECT_FALSE(res.FindItem("{", "Colors"));
    EXPECT_TRUE(res.FindItem("{", "Window", "IDW_MAIN"));
    ASSERT_TRUE(res.EnterDataChunk());
    int32_t level = 0;
    ASSERT_TRUE(res.FindItem("Level"));
    EXPECT_TRUE(res.GetLong(0, &level));
    EXPECT_EQ(level, 3);
    res.ExitDataChunk();
    ASSERT_TRUE(res.FindItem("{", "Window", "IDW_MAIN"));
    ASSERT_TRUE(res.EnterChunk());
    int32_t flags = 0;
    ASSERT_TRUE(res.FindItem("Flags"));
    EXPECT_TRUE(res.GetResFlags(0, &flags));
    EXPECT_EQ(flags, XWIN_TITLEBAR);
}

TEST_F(ResDataTest, PackedFilesRoundTripAndDamagedOnesFail)
{
    const std::string text = "; script\n{ = Strings\n    IDS_A = 1, \"packed text\"\n}\n";
    uint32_t size = 0;
    char* packed = xPackRes(text.data(), static_cast<uint32_t>(text.size()), &size);
    ASSERT_NE(packed, nullptr);
    const std::string good(packed, size);
    XFREE(packed);
    WriteFile("good.res", good);
    ASSERT_TRUE(res.Load("good.res")) << tvtest::LastError();
    EXPECT_STREQ(res.GetResString(1), "packed text");

    // A stream with a zero byte inside: pack text that holds one by hand.
    CLzss lz;
    std::string zeroText = "A = 1\n";
    zeroText += '\0';
    zeroText += "B = 2\n";
    uint32_t zn = static_cast<uint32_t>(zeroText.size());
    char* zp = lz.CompressBuffer(zeroText.data(), &zn);
    ASSERT_NE(zp, nullptr);
    std::string zero = "PRES" + std::string(8, '\0') + std::string(zp, zn);
    XFREE(zp);
    zero[4] = static_cast<char>(zn);

    auto withLength = [](std::string s, uint32_t n) {
        for (int b = 0; b < 4; ++b)
            s[4 + b] = static_cast<char>(n >> (8 * b));
        return s;
    };
    const uint32_t n = static_cast<uint32_t>(good.size() - 12);
    struct {
        const char* what;
        std::string bytes;
        const char* error;
    } cases[] = {
        {"one byte longer", good + "x",
         "CResData::Load: (PRES RES) Unable to read file, the packed filesize is not correct."},
        {"length too small", withLength(good, n - 1),
         "CResData::Load: (PRES RES) Unable to read file, the packed filesize is not correct."},
        {"length wraps", withLength(good, 0xFFFFFFF4u),
         "CResData::Load: (PRES RES) Unable to read file, the packed filesize is not correct."},
        {"cut before its end", withLength(good.substr(0, good.size() - 3), n - 3),
         "CResData::Load: (PRES RES) Unable to unpack data."},
        {"garbage stream", withLength("PRES" + std::string(8, 'x') + std::string(40, '\xff'), 40),
         "CResData::Load: (PRES RES) Unable to unpack data."},
        {"zero byte inside", zero, "CResData::Load: (PRES RES) Unable to unpack data."},
        {"header only", "PRES" + std::string(8, '\0'),
         "CResData::Load: The file specified is not a valid res file."},
        {"wrong magic", "PRAS" + good.substr(4),
         "CResData::Load: The file specified is not a valid res file."},
        {"script marker only", "; script", "CResData::Load: The file specified is not a valid res file."},
        {"empty", "", "CResData::Load: The file specified is not a valid res file."},
    };
    for (const auto& c : cases) {
        WriteFile("bad.res", c.bytes);
        EXPECT_FALSE(res.Load("bad.res")) << c.what;
        EXPECT_STREQ(tvtest::LastError().c_str(), c.error) << c.what;
        EXPECT_EQ(res.GetResString(1), nullptr) << c.what;
    }
    EXPECT_FALSE(res.Load("missing.res"));
    EXPECT_STREQ(tvtest::LastError().c_str(), "CResData::Load: Res file do not exist.");
}

TEST_F(ResDataTest, PaletteFromAnIndexedPictureReachesTheScreenHook)
{
    static CPalette* seen = nullptr;
    SResScreenHooks hooks{[](CPalette* p) {
                              seen = p;
                              return TRUE;
                          },
                          nullptr};
    xSetResScreenHooks(&hooks);
    ASSERT_TRUE(res.Import(Script("{ = Palette\n    P = ./pal.bmp\n}\n").c_str()));
    xSetResScreenHooks(nullptr);
    EXPECT_EQ(Errors(), "");
    ASSERT_NE(res.palette, nullptr);
    EXPECT_EQ(seen, res.palette);
    EXPECT_STREQ(res.palette->name, "pal");
    EXPECT_EQ(res.palette->colors[1].r, 10);
    EXPECT_EQ(res.palette->colors[1].g, 20);
    EXPECT_EQ(res.palette->colors[1].b, 30);
}

TEST_F(ResDataTest, ScreenConversionFailureKeepsTheBitmap)
{
    SResScreenHooks hooks{nullptr,
                          [](CBitmap*, int32_t) { return xErrorTxt_Func("no screen", __FILE__, __LINE__); }};
    xSetResScreenHooks(&hooks);
    ASSERT_TRUE(res.Import(
        Script("{ = Bitmaps\n    B = sheet.bmp, 0, 0, 2, 2\n    C = sheet.bmp, 0, 0, 2, 2\n}\n").c_str()));
    xSetResScreenHooks(nullptr);
    EXPECT_NE(res.GetBm("B"), nullptr);
    EXPECT_NE(res.GetBm("C"), nullptr);
    EXPECT_EQ(Errors(), "Bitmaps: Can't convert bitmap to screen mode [no screen]\n"
                        "Bitmaps: Can't convert bitmap to screen mode [no screen]\n");
}

} // namespace
