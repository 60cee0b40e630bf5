// The picture-type list (registration, lookup by extension, descriptions),
// the types' life with xInit/xExit, the JPEG type through CBitmap::Load and
// the failures recorded on the library's error object.
#include "tarvex_test.h"

#include "gfx/jpegdec.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

using tvtest::LastError;

namespace
{

class PicTypeTest : public tvtest::TarvexTest
{
};

TEST_F(PicTypeTest, RegistrationAndLookup)
{
    ASSERT_NE(glb->picTypes, nullptr);
    CPicTypeList* list = glb->picTypes;
    EXPECT_EQ(list->NumTypes(), 0);
    {
        CJPGPic jpg;
        CBMPPic bmp;
        EXPECT_EQ(list->NumTypes(), 2);
        struct Case {
            const char* name;
            CPicType* type;
        } cases[] = {
            {"photo.JPG", &jpg}, {"dir.v2/photo.jpg", &jpg}, {"a.b.BmP", &bmp},
            {"noext", nullptr},  {"x.png", nullptr},         {"x.", nullptr},
            {"jpg", nullptr},    {"x.jpeg", nullptr},
        };
        for (const auto& c : cases)
            EXPECT_EQ(list->GetType(c.name), c.type) << c.name;
        EXPECT_EQ(list->GetType(nullptr), nullptr);
        EXPECT_FALSE(jpg.IsType("x.jpg", nullptr));

        // Registration order, descriptions at the cursor.
        std::string seen;
        for (list->First(); list->Exists(); list->Next()) {
            const char *ext = nullptr, *desc = nullptr;
            ASSERT_NE(list->GetDesc(&ext, &desc), nullptr);
            seen += std::string(ext) + "=" + desc + ";";
        }
        EXPECT_EQ(seen, "jpg=JPEG;bmp=Windows Bitmap;");
        EXPECT_EQ(list->GetDesc(nullptr, nullptr), nullptr); // past the end
        EXPECT_STREQ(bmp.GetError(), "BMP - No error");
        EXPECT_EQ(bmp.SetError("x", 7), 7);
        EXPECT_STREQ(bmp.GetError(), "x");
    }
    // Destroyed types leave the list.
    EXPECT_EQ(list->NumTypes(), 0);
    EXPECT_EQ(list->GetType("a.bmp"), nullptr);
}

class PicTypeInitTest : public tvtest::TarvexTest
{
  protected:
    PicTypeInitTest() : TarvexTest(true) {}
};

// The fixture checks the empty leak list after xExit/xFreeGlobals.
TEST_F(PicTypeInitTest, InitCreatesBothTypes)
{
    ASSERT_NE(sglb->jpgPic, nullptr);
    ASSERT_NE(sglb->bmpPic, nullptr);
    EXPECT_EQ(glb->picTypes->NumTypes(), 2);
    EXPECT_EQ(glb->picTypes->GetType("a.jpg"), static_cast<CPicType*>(sglb->jpgPic));
    EXPECT_EQ(glb->picTypes->GetType("a.bmp"), static_cast<CPicType*>(sglb->bmpPic));
}

TEST_F(PicTypeTest, JpegThroughBitmapLoad)
{
    CJPGPic jpg;
    CBitmap bm;
    EXPECT_FALSE(bm.Load("missing.jpg", 0));
    EXPECT_EQ(LastError(), "JPG - Unable to open \"missing.jpg\"");
    EXPECT_FALSE(bm.Save("out.jpg", nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(LastError(), "JPG - Save function not yet implemented");
    std::ofstream("bad.jpg") << "not a jpeg at all";
    EXPECT_FALSE(bm.Load("bad.jpg", 0));
    EXPECT_EQ(LastError(), JPGERR_NOT_JPEG);
    EXPECT_EQ(bm.data, nullptr);

    if (std::system("command -v convert >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ImageMagick convert not installed";
    ASSERT_EQ(
        std::system("convert -size 19x13 -seed 4 plasma: -sampling-factor 2x2 -quality 85 p.jpg 2>/dev/null"),
        0);
    ASSERT_TRUE(bm.Load("p.jpg", 0)) << LastError();
    EXPECT_EQ(bm.bits, 24);
    EXPECT_EQ(bm.bounds.right, 18);
    EXPECT_EQ(bm.bounds.bottom, 12);

    CJpegDecoder dec;
    CFile f;
    ASSERT_TRUE(f.Open("p.jpg", XFILE_READ | XFILE_BIG_ENDIAN));
    ASSERT_TRUE(dec.ReadHeader(&f, FALSE));
    ASSERT_EQ(dec.Width(), bm.width);
    ASSERT_EQ(dec.Height(), bm.height);
    std::string px(static_cast<size_t>(bm.pitch) * bm.height, '\0');
    SJpegImage out{dec.Width(), dec.Height(), reinterpret_cast<uint8_t*>(px.data()), bm.pitch};
    ASSERT_TRUE(dec.Decode(out));
    f.Close();
    EXPECT_EQ(std::memcmp(px.data(), bm.data, px.size()), 0);

    // A file refused at its header leaves the bitmap as it was; one that
    // fails while decoding leaves it empty (no half picture).
    EXPECT_FALSE(bm.Load("bad.jpg", 0));
    EXPECT_EQ(bm.width, 19);
    ASSERT_NE(bm.data, nullptr);
    std::ifstream in("p.jpg", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream("cut.jpg", std::ios::binary) << bytes.substr(0, bytes.size() - 60);
    EXPECT_FALSE(bm.Load("cut.jpg", 0));
    EXPECT_EQ(bm.data, nullptr);
}

} // namespace
