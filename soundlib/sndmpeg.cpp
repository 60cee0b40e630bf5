// MPEG audio (MP3) through libmpg123: the decoder set-up shared with the
// streams (sndstream.cpp, which decode as they play), whole images decoded
// to 16-bit PCM for samples, and AIL_decompress_ASI, which turns an MP3 image into
// a WAV image. Decoding stops at ten minutes of audio so that a hostile file
// cannot claim unbounded memory.
#include "sndinternal.h"

#include <mpg123.h>

namespace tvsnd
{

mpg123_handle* NewMpegDecoder(std::string& why)
{
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (mh == nullptr) {
        why = std::string("MP3 decoder: ") + mpg123_plain_strerror(err);
        return nullptr;
    }
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open_feed(mh) != MPG123_OK) {
        why = std::string("MP3 decoder: ") + mpg123_strerror(mh);
        mpg123_delete(mh);
        return nullptr;
    }
    return mh;
}

bool DecodeMpeg(const uint8_t* data, size_t size, Pcm& out, std::string& why)
{
    out = Pcm{};
    mpg123_handle* mh = NewMpegDecoder(why);
    if (mh == nullptr)
        return false;
    bool ok = mpg123_feed(mh, data, size) == MPG123_OK;
    std::vector<unsigned char> chunk(16384);
    size_t limit = 0;
    while (ok) {
        size_t got = 0;
        int rc = mpg123_read(mh, chunk.data(), chunk.size(), &got);
        if (rc == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(mh, &rate, &channels, &encoding);
            if (out.rate != 0 && (out.rate != rate || out.channels != channels)) {
                why = "MP3 file changes its format midway";
                ok = false;
                break;
            }
            out.rate = static_cast<int32_t>(rate);
            out.channels = channels;
            limit = static_cast<size_t>(rate) * static_cast<size_t>(channels) * 600;
        }
        if (got != 0)
            out.samples.insert(out.samples.end(), reinterpret_cast<int16_t*>(chunk.data()),
                               reinterpret_cast<int16_t*>(chunk.data() + got));
        if (limit != 0 && out.samples.size() > limit) {
            why = "MP3 file longer than ten minutes";
            ok = false;
        } else if (rc == MPG123_NEED_MORE || rc == MPG123_DONE)
            break;
        else if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            why = std::string("damaged MP3 file: ") + mpg123_strerror(mh);
            ok = false;
        }
    }
    mpg123_delete(mh);
    if (ok && (out.channels < 1 || out.channels > 2 || out.samples.empty())) {
        why = "MP3 file without audio frames";
        ok = false;
    }
    return ok;
}

} // namespace tvsnd

using namespace tvsnd;

int32_t AIL_decompress_ASI(const void* data, uint32_t size, const char* hint, void** wav, uint32_t* wavSize,
                           void* callback)
{
    (void)hint, (void)callback;
    if (wav == nullptr || wavSize == nullptr)
        return Fail("missing argument"), 0;
    *wav = nullptr;
    *wavSize = 0;
    size_t room = BlockRoom(data);
    if (room == 0 || size > room)
        return Fail("MP3 image is not a block of this sound system"), 0;
    Pcm pcm;
    std::string why;
    if (!DecodeMpeg(static_cast<const uint8_t*>(data), size, pcm, why))
        return Fail(why), 0;
    std::vector<uint8_t> out = WriteWav(pcm);
    *wav = CopyBlock(out.data(), out.size());
    if (*wav == nullptr)
        return Fail("out of memory"), 0;
    *wavSize = static_cast<uint32_t>(out.size());
    return 1;
}
