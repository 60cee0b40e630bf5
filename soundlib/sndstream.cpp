// Streams decode their file a block at a time while they play, so that a
// long piece holds only its decoder's state and a few blocks in memory
// however long it lasts: MP3 goes through libmpg123's feed interface (the
// file is read 16 KB at a time and fed to the decoder), PCM WAV is read from
// its data chunk; both pass through an SDL audio stream that converts them
// to stereo at the device's rate. Other WAV forms (ADPCM, 24-bit) are short
// effects in practice and are decoded whole. The mixer calls Read with the
// device lock held.
#include "sndinternal.h"

#include <algorithm>
#include <cstdio>

namespace tvsnd
{

namespace
{

constexpr size_t kFeedBytes = 16384; // read from the file at a time
constexpr size_t kHeadBytes = 65536; // read to tell what the file holds

class FileSource : public StreamSource
{
  public:
    explicit FileSource(FILE* f) : m_file(f) {}
    ~FileSource() override
    {
        if (m_mpeg != nullptr)
            mpg123_delete(m_mpeg);
        if (m_convert != nullptr)
            SDL_FreeAudioStream(m_convert);
        std::fclose(m_file);
    }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Finds the first audio frame of an MP3 file and its format.
    bool OpenMpeg(int32_t rate, std::string& why)
    {
        m_mpeg = NewMpegDecoder(why);
        if (m_mpeg == nullptr)
            return false;
        m_buffer.resize(kFeedBytes);
        for (;;) {
            size_t got = 0;
            int rc = mpg123_read(m_mpeg, m_buffer.data(), m_buffer.size(), &got);
            if (rc == MPG123_NEW_FORMAT) {
                long r = 0;
                int channels = 0, encoding = 0;
                mpg123_getformat(m_mpeg, &r, &channels, &encoding);
                m_rate = static_cast<int32_t>(r);
                m_channels = channels;
                return Convert(AUDIO_S16SYS, rate, why);
            }
            if (rc == MPG123_NEED_MORE && Feed())
                continue;
            why = rc == MPG123_NEED_MORE || rc == MPG123_DONE ? "MP3 file without audio frames"
                                                               : std::string("damaged MP3 file: ") +
                                                                     mpg123_strerror(m_mpeg);
            return false;
        }
    }

    // PCM data of a WAV file: where it lies and its format.
    bool OpenWav(const SAilSoundInfo& info, size_t declared, int32_t rate, std::string& why)
    {
        SDL_AudioFormat format = info.format == 3 ? AUDIO_F32LSB
                                 : info.bits == 8 ? AUDIO_U8
                                 : info.bits == 16 ? AUDIO_S16LSB
                                                   : AUDIO_S32LSB;
        m_rate = static_cast<int32_t>(info.rate);
        m_channels = info.channels;
        m_dataOffset = info.dataOffset;
        std::fseek(m_file, 0, SEEK_END);
        long end = std::ftell(m_file);
        size_t frame = static_cast<size_t>(info.channels) * info.bits / 8;
        size_t room = end > static_cast<long>(m_dataOffset) ? static_cast<size_t>(end) - m_dataOffset : 0;
        m_dataSize = std::min(declared, room) / frame * frame;
        m_buffer.resize(kFeedBytes / frame * frame);
        return Convert(format, rate, why) && Rewind();
    }

    size_t Read(int16_t* out, size_t frames) override
    {
        auto want = static_cast<int>(frames * 4);
        while (!m_drained && SDL_AudioStreamAvailable(m_convert) < want)
            m_mpeg != nullptr ? DecodeMpeg() : ReadPcm();
        int got = SDL_AudioStreamGet(m_convert, out, want);
        return got > 0 ? static_cast<size_t>(got) / 4 : 0;
    }

    bool Rewind() override
    {
        SDL_AudioStreamClear(m_convert);
        m_drained = false;
        if (m_mpeg != nullptr) {
            mpg123_close(m_mpeg);
            return mpg123_open_feed(m_mpeg) == MPG123_OK && std::fseek(m_file, 0, SEEK_SET) == 0;
        }
        m_left = m_dataSize;
        return std::fseek(m_file, static_cast<long>(m_dataOffset), SEEK_SET) == 0;
    }

  private:
    bool Convert(SDL_AudioFormat format, int32_t rate, std::string& why)
    {
        if (m_channels < 1 || m_channels > 2 || m_rate <= 0) {
            why = "stream of an unsupported channel count or rate";
            return false;
        }
        m_convert = SDL_NewAudioStream(format, static_cast<Uint8>(m_channels), m_rate, AUDIO_S16SYS, 2, rate);
        if (m_convert == nullptr)
            why = SDL_GetError();
        return m_convert != nullptr;
    }

    // Feeds the next bytes of the file to the decoder; false at its end.
    bool Feed()
    {
        unsigned char bytes[kFeedBytes];
        size_t n = std::fread(bytes, 1, sizeof bytes, m_file);
        return n != 0 && mpg123_feed(m_mpeg, bytes, n) == MPG123_OK;
    }

    void Drain()
    {
        SDL_AudioStreamFlush(m_convert);
        m_drained = true;
    }

    void DecodeMpeg()
    {
        size_t got = 0;
        int rc = mpg123_read(m_mpeg, m_buffer.data(), m_buffer.size(), &got);
        if (got != 0)
            SDL_AudioStreamPut(m_convert, m_buffer.data(), static_cast<int>(got));
        if (rc == MPG123_NEW_FORMAT) { // after a rewind the same format again; another one ends the piece
            long r = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(m_mpeg, &r, &channels, &encoding);
            if (r != m_rate || channels != m_channels)
                Drain();
        } else if (rc == MPG123_NEED_MORE) {
            if (!Feed())
                Drain();
        } else if (rc != MPG123_OK) { // the end, or damage: the piece ends there
            Drain();
        }
    }

    void ReadPcm()
    {
        size_t n = std::fread(m_buffer.data(), 1, std::min(m_buffer.size(), m_left), m_file);
        if (n != 0)
            SDL_AudioStreamPut(m_convert, m_buffer.data(), static_cast<int>(n));
        m_left -= n;
        if (n == 0 || m_left == 0)
            Drain();
    }

    FILE* m_file;
    mpg123_handle* m_mpeg = nullptr;
    SDL_AudioStream* m_convert = nullptr;
    std::vector<unsigned char> m_buffer;
    int32_t m_rate = 0;
    int m_channels = 0;
    size_t m_dataOffset = 0, m_dataSize = 0, m_left = 0;
    bool m_drained = false;
};

// A stream decoded whole when it is opened.
class PcmSource : public StreamSource
{
  public:
    explicit PcmSource(Pcm pcm) : m_pcm(std::move(pcm)) {}
    size_t Read(int16_t* out, size_t frames) override
    {
        size_t n = std::min(frames, m_pcm.Frames() - m_pos);
        std::copy_n(m_pcm.samples.data() + 2 * m_pos, 2 * n, out);
        m_pos += n;
        return n;
    }
    bool Rewind() override
    {
        m_pos = 0;
        return true;
    }

  private:
    Pcm m_pcm;
    size_t m_pos = 0;
};

bool Streamable(const SAilSoundInfo& info)
{
    bool pcm = info.format == 1 && (info.bits == 8 || info.bits == 16 || info.bits == 32);
    bool floats = info.format == 3 && info.bits == 32;
    return (pcm || floats) && (info.channels == 1 || info.channels == 2);
}

} // namespace

std::unique_ptr<StreamSource> OpenStreamSource(const char* name, int32_t rate, std::string& why)
{
    FILE* f = name != nullptr ? std::fopen(name, "rb") : nullptr;
    if (f == nullptr) {
        why = std::string("cannot open file ") + (name != nullptr ? name : "(null)");
        return nullptr;
    }
    auto file = std::make_unique<FileSource>(f);
    std::vector<uint8_t> head(kHeadBytes);
    head.resize(std::fread(head.data(), 1, head.size(), f));
    int32_t type = SniffFileType(head.data(), head.size());
    std::fseek(f, 0, SEEK_SET);
    if (type >= AILFILETYPE_MPEG_L1_AUDIO && type <= AILFILETYPE_MPEG_L3_AUDIO)
        return file->OpenMpeg(rate, why) ? std::move(file) : nullptr;
    if (type < AILFILETYPE_PCM_WAV || type > AILFILETYPE_OTHER_WAV) {
        why = "stream file is neither MPEG audio nor WAV";
        return nullptr;
    }
    SAilSoundInfo info{};
    if (!ReadWavInfo(head.data(), head.size(), info, why))
        return nullptr;
    if (Streamable(info))
        return file->OpenWav(info, Le32(head.data() + info.dataOffset - 4), rate, why) ? std::move(file) : nullptr;
    // Decoded whole: the file, then its PCM at the device's rate.
    std::fseek(f, 0, SEEK_END);
    long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    std::vector<uint8_t> bytes(size > 0 ? static_cast<size_t>(size) : 0);
    if (std::fread(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        why = std::string("cannot read file ") + name;
        return nullptr;
    }
    Pcm pcm, converted;
    if (!DecodeWav(bytes.data(), bytes.size(), pcm, why) || !ConvertPcm(pcm, rate, 2, converted, why))
        return nullptr;
    if (converted.channels == 1) { // the mixer reads stereo blocks
        std::vector<int16_t> stereo(2 * converted.samples.size());
        for (size_t i = 0; i < converted.samples.size(); ++i)
            stereo[2 * i] = stereo[2 * i + 1] = converted.samples[i];
        converted.samples = std::move(stereo);
        converted.channels = 2;
    }
    return std::make_unique<PcmSource>(std::move(converted));
}

bool MixStream(TvSndStream& s, int32_t* acc, int32_t frames)
{
    const size_t block = s.block.size() / 2;
    for (int32_t done = 0; done < frames;) {
        size_t n = s.source->Read(s.block.data(), std::min(block, static_cast<size_t>(frames - done)));
        if (n != 0) {
            MixFrames(s.voice, s.block.data(), static_cast<int32_t>(n), acc + 2 * done);
            done += static_cast<int32_t>(n);
            s.yielded = true;
            continue;
        }
        // The end of a pass; one that gave nothing is not repeated.
        Voice& v = s.voice;
        ++v.loopsDone;
        bool again = (v.loopCount == 0 || v.loopsDone < v.loopCount) && s.yielded && s.source->Rewind();
        s.yielded = false;
        if (!again) {
            v.status = SMP_DONE;
            s.source->Rewind();
            return true;
        }
    }
    return false;
}

} // namespace tvsnd
