// Slide shows described in resource data: the show's item in the "Data"
// section names its slide list and effect list, which are read into the
// show. It lives with the resource data because the slide show itself only
// knows bitmaps; the reading needs the resource's named bitmaps.
#include <tarvex/error.h>
#include <tarvex/resdata.h>
#include <tarvex/slideshow.h>

#include <cstdio>

namespace
{
constexpr int32_t kKeywordSize = 256;

// Copies a value of the current item (the item changes as the lists are found).
bool CopyValue(CResData* res, int32_t i, char (&out)[kKeywordSize])
{
    const char* v = res->GetString(i);
    if (v == nullptr)
        return false;
    std::snprintf(out, sizeof out, "%s", v);
    return true;
}

// Finds an item of the data chunk from its start.
bool FindDataItem(CResData* res, const char* keyword)
{
    res->FirstItem();
    return res->FindItem(keyword) != 0;
}
} // namespace

int32_t CSlideShow::Create(CBitmap* to, CResData* res, const char* name, int32_t x, int32_t y)
{
    return ReadData(to, res, name, x, y, true);
}

int32_t CSlideShow::CreateEmpty(CBitmap* to, CResData* res, const char* name, int32_t x, int32_t y)
{
    return ReadData(to, res, name, x, y, false);
}

int32_t CSlideShow::ReadData(CBitmap* to, CResData* res, const char* name, int32_t x, int32_t y,
                             bool withSlides)
{
    CreateEmpty(to, x, y, 0);
    if (res == nullptr || name == nullptr)
        return xErrorf("CSlideShow::Create(): Unable to find slide show data");
    if (!res->EnterDataChunk())
        return xErrorf("Unable to enter KCBL data chunk");
    // Every way out leaves the data chunk again.
    const auto finish = [&](int32_t result) {
        if (!res->ExitChunk() && result)
            return xErrorf("Unable to exit KCBL data chunk");
        return result;
    };
    if (!FindDataItem(res, name))
        return finish(xErrorf("CSlideShow::Create(): Unable to find slide show data"));
    int32_t suspend = 0;
    if (!res->GetBool(0, &suspend))
        return finish(xErrorf("CSlideShow::Create(): Unable to get slideshow mode."));
    char slideKey[kKeywordSize];
    char effectKey[kKeywordSize];
    if (!CopyValue(res, 1, slideKey))
        return finish(xErrorf("CSlideShow::Create(): Unable to get slideshow settings"));
    const bool hasEffects = CopyValue(res, 2, effectKey);

    if (hasEffects) {
        if (!FindDataItem(res, effectKey))
            return finish(xErrorf("CSlideShow::Create(): Unable to find slideshow effect settings"));
        for (int32_t g = 0;; ++g) {
            // Groups go on while the next one's bitmap name resolves.
            const char* bmpName = res->GetString(4 * g);
            CBitmap* bmp = bmpName != nullptr ? res->GetBm(bmpName) : nullptr;
            if (bmp == nullptr) {
                if (g == 0)
                    return finish(xErrorf("CSlideShow::Create(): Unable to get effect map data"));
                break;
            }
            TEFFECTDATA e{bmp, 0, 0, 0};
            if (!res->GetLong(4 * g + 1, &e.kind) || !res->GetLong(4 * g + 2, &e.steps) ||
                !res->GetULong(4 * g + 3, &e.stepTime))
                return finish(xErrorf("CSlideShow::Create(): Unable to get effect data"));
            if (AddEffect(e) < 0)
                return finish(xErrorf("CSlideShow::Create(): Unable to create EffectData object."));
        }
    }

    if (withSlides) {
        if (!FindDataItem(res, slideKey))
            return finish(xErrorf("CSlideShow::Create(): Unable to find slideshow settings"));
        for (int32_t g = 0;; ++g) {
            uint32_t value1 = 0, value2 = 0, minTime = 0, maxTime = 0;
            int32_t effect = -1;
            // Groups go on while the next one starts with an unsigned number.
            if (!res->GetULong(6 * g, &value1))
                break;
            if (!res->GetULong(6 * g + 1, &value2))
                return finish(xErrorf("CSlideShow::Create(): Unable to get slideshow settings"));
            const char* bmpName = res->GetString(6 * g + 2);
            CBitmap* bmp = bmpName != nullptr ? res->GetBm(bmpName) : nullptr;
            if (bmp == nullptr)
                return finish(xErrorf("CSlideShow::Init(): Unable to get slide show picture data"));
            if (!res->GetULong(6 * g + 3, &minTime) || !res->GetULong(6 * g + 4, &maxTime))
                return finish(xErrorf("CSlideShow::Create(): Unable to get slide show delay data"));
            if (!res->GetLong(6 * g + 5, &effect))
                return finish(xErrorf("CSlideShow::Create(): Unable to get slide show effect index"));
            if (!AddEntry(value1, value2, minTime, maxTime, bmp, effect))
                return finish(xErrorf("CSlideShow::Create(): Unable to create data object."));
        }
    }
    suspended = suspend != 0 ? 1 : 0;
    return finish(TRUE);
}
