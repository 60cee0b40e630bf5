// Slide shows read from the "Data" section of resource data: slides with
// their values, pictures, times and effects, the suspended flag, and the
// message of each kind of missing or broken entry.
#include "tarvex_test.h"

#include <tarvex/resdata.h>
#include <tarvex/slideshow.h>

#include <string>

namespace
{

class SlideShowDataTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        bmpType = XNEW(CBMPPic);
        CBitmap pic;
        ASSERT_TRUE(pic.CreateRGB(8, 6, 24, 8, 8, 8, 16, 8, 0, 1));
        ASSERT_TRUE(pic.Save("pic.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
        ASSERT_TRUE(
            res.Import("; script\n"
                       "{ = Bitmaps\n"
                       "    ONE = pic.bmp, 0, 0, 4, 3\n"
                       "    TWO = pic.bmp, 4, 0, 4, 3\n"
                       "    THREE = pic.bmp, 0, 3, 4, 3\n"
                       "}\n"
                       "{ = Data\n"
                       "    SHOW = false, SLIDES, EFFECTS\n"
                       "    EFFECTS = TWO, 1, 4, 20, ONE, 0, 1, 0\n"
                       "    SLIDES = 1, 2, ONE, 100, 200, 0, 3, 4, TWO, 50, 50, 1, 5, 6, THREE, 0, 0, -1\n"
                       "    HELD = true, SLIDES\n"
                       "    NOMODE = maybe, SLIDES\n"
                       "    NOLIST = false\n"
                       "    NOEFFECTS = false, SLIDES, MISSING\n"
                       "    BADEFFECTMAP = false, SLIDES, BADMAP\n"
                       "    BADMAP = NOSUCH, 1, 2, 3\n"
                       "    BADEFFECT = false, SLIDES, HALFEFFECT\n"
                       "    HALFEFFECT = ONE, 1, x, 3\n"
                       "    NOSLIDES = false, MISSING\n"
                       "    BADPIC = false, PICLIST\n"
                       "    PICLIST = 1, 2, NOSUCH, 1, 1, 0\n"
                       "    BADDELAY = false, DELAYLIST\n"
                       "    DELAYLIST = 1, 2, ONE, soon, 1, 0\n"
                       "    BADINDEX = false, INDEXLIST\n"
                       "    INDEXLIST = 1, 2, ONE, 1, 1, first\n"
                       "}\n"))
            << tvtest::LastError();
    }
    void TearDown() override
    {
        show.CreateEmpty(nullptr, 0, 0, 0); // slides and effects go before the leak check
        target.Free();
        res.Free();
        XDELETE(bmpType);
        TarvexTest::TearDown();
    }
    CBMPPic* bmpType = nullptr;
    CResData res;
    CBitmap target;
    CSlideShow show;
};

TEST_F(SlideShowDataTest, SlidesAndEffectsComeFromTheDataItem)
{
    ASSERT_TRUE(target.CreateRGB(4, 3, 24, 8, 8, 8, 16, 8, 0, 0));
    ASSERT_EQ(show.Create(&target, &res, "SHOW", 0, 0), TRUE) << tvtest::LastError();
    ASSERT_EQ(show.GetNumOfSlides(), 3);
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
    EXPECT_EQ(show.GetEntryBitmap(0), res.GetBm("ONE"));
    EXPECT_EQ(show.GetEntryBitmap(1), res.GetBm("TWO"));
    EXPECT_EQ(show.GetEntryBitmap(2), res.GetBm("THREE"));
    EXPECT_EQ(show.Start(), TRUE);
    EXPECT_EQ(show.GetState(), XSLIDE_SHOWING);
    // The first slide stays between its shortest and longest time.
    EXPECT_GE(show.GetDwellTime(), 100u);
    EXPECT_LE(show.GetDwellTime(), 200u);
    EXPECT_EQ(show.Next(), TRUE);
    EXPECT_EQ(show.GetDwellTime(), 50u);
    // The data chunk was left: the container's main chunk is current again.
    EXPECT_EQ(res.depth, 0);

    // The same item held: the show does not start on its own.
    ASSERT_EQ(show.Create(&target, &res, "HELD", 0, 0), TRUE);
    EXPECT_EQ(show.GetNumOfSlides(), 3);
    show.Start();
    EXPECT_EQ(show.GetState(), XSLIDE_STOPPED);

    // CreateEmpty reads the item and its effects but no slides.
    ASSERT_EQ(show.CreateEmpty(&target, &res, "SHOW", 0, 0), TRUE);
    EXPECT_EQ(show.GetNumOfSlides(), 0);
    EXPECT_EQ(show.Next(), FALSE);
}

TEST_F(SlideShowDataTest, EachBrokenEntryHasItsMessage)
{
    struct Case {
        const char* name;
        const char* message;
    } cases[] = {
        {"NOSUCHSHOW", "CSlideShow::Create(): Unable to find slide show data"},
        {"NOMODE", "CSlideShow::Create(): Unable to get slideshow mode."},
        {"NOLIST", "CSlideShow::Create(): Unable to get slideshow settings"},
        {"NOEFFECTS", "CSlideShow::Create(): Unable to find slideshow effect settings"},
        {"BADEFFECTMAP", "CSlideShow::Create(): Unable to get effect map data"},
        {"BADEFFECT", "CSlideShow::Create(): Unable to get effect data"},
        {"NOSLIDES", "CSlideShow::Create(): Unable to find slideshow settings"},
        {"BADPIC", "CSlideShow::Init(): Unable to get slide show picture data"},
        {"BADDELAY", "CSlideShow::Create(): Unable to get slide show delay data"},
        {"BADINDEX", "CSlideShow::Create(): Unable to get slide show effect index"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show.Create(&target, &res, c.name, 0, 0), FALSE) << c.name;
        EXPECT_EQ(tvtest::LastError(), c.message) << c.name;
        EXPECT_EQ(res.depth, 0) << c.name << ": the data chunk is left";
    }
    EXPECT_EQ(show.Create(&target, nullptr, "SHOW", 0, 0), FALSE);
    CResData empty;
    EXPECT_EQ(show.Create(&target, &empty, "SHOW", 0, 0), FALSE);
    EXPECT_EQ(tvtest::LastError(), "Unable to enter KCBL data chunk");
}

} // namespace
