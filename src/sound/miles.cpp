// CMiles: the sound object base. The first object started brings up the back
// end and the one output device all sounds share, falling back through lower
// rates and then 8 bits until the device accepts a format; the last one shuts
// it down. Beside that: reading whole sound files (scrambled or plain) into
// the back end's memory.
#include <tarvex/sound.h>
#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/memory.h>

#include "platform/platform.h"

#include <cstring>

uint32_t CMiles::m_ulObjectCounter = 0;
HDIGDRIVER CMiles::m_hDigDriver = nullptr;
int32_t CMiles::m_bWaveDeviceOK = FALSE;
const uint32_t CMiles::m_ulRates[4] = {44100, 32000, 22050, 11025};
const uint32_t CMiles::m_ulRatesCount = 4;
uint32_t CMiles::m_ulRatesIndex = 0;
uint8_t CMiles::m_uChannels = 2;
uint8_t CMiles::m_uBits = 16;

namespace
{

constexpr uint32_t kMarkerLength = 13; // the scrambled form's closing marker
const char* const kStars = "****************************************\n";

const char* LastBackEndError()
{
    return CMilesApi::AIL_last_error != nullptr ? CMilesApi::AIL_last_error() : "sound system not loaded";
}

} // namespace

CMiles::CMiles(const char* redistDir, int32_t useDirectSound)
{
    if (m_ulObjectCounter++ != 0)
        return;
    if (!LoadMilesDLL())
        return;
    if (!DirectSoundOK())
        useDirectSound = FALSE;
    dprintf("CMiles::CMiles: Starting sound system.\n");
    char* cwd = nullptr;
    const char* redist = redistDir;
    if (redist == nullptr) {
        cwd = xGetWorkingDirectory();
        if (cwd == nullptr)
            xErrorf("CMiles::CMiles: Failed to get current work dir.");
        redist = cwd != nullptr ? cwd : "";
    }
    dprintf("CMiles::CMiles: Setting redist directory (%s).\n", redist);
    AIL_set_redist_directory(redist);
    if (cwd != nullptr)
        XFREE(cwd);
    dprintf("CMiles::CMiles: Starting Miles.\n");
    AIL_startup();
    dprintf("CMiles::CMiles: Setting mixer channel count.\n");
    AIL_set_preference(DIG_MIXER_CHANNELS, 100);
    if (!useDirectSound)
        AIL_set_preference(DIG_USE_WAVEOUT, 1);
    OpenOutput(useDirectSound);
}

void CMiles::OpenOutput(int32_t)
{
    bool accepted = false;
    char description[8 + AIL_CONFIG_TEXT_SIZE];
    while (m_ulRatesIndex < m_ulRatesCount) {
        dprintf("CMiles::CMiles: Changing minimum chain element size.\n");
        AIL_set_preference(DIG_MIN_CHAIN_ELEMENT_SIZE, AIL_get_preference(DIG_USE_WAVEOUT) ? 0x3000 : 0x400);
        SAilWaveFormat format{};
        format.formatTag = 1;
        format.channels = m_uChannels;
        format.samplesPerSec = GetRate();
        format.blockAlign = static_cast<uint16_t>(m_uBits / 8 * m_uChannels);
        format.avgBytesPerSec = format.blockAlign * format.samplesPerSec;
        format.bitsPerSample = m_uBits;
        dprintf("CMiles::CMiles: Calling AIL_waveOutOpen.\n");
        if (AIL_waveOutOpen(&m_hDigDriver, nullptr, 0, &format) == 0) {
            int32_t rate = 0, kind = 0;
            std::strcpy(description, "Device: ");
            description[8] = 0;
            AIL_digital_configuration(m_hDigDriver, &rate, &kind, description + 8);
            dprintf("CMiles::CMiles: Wave out successfully opened (%s).\n", description);
            if (AIL_get_preference(DIG_USE_WAVEOUT) || std::strstr(description, "Emulated") == nullptr) {
                accepted = true;
                break;
            }
            dprintf("CMiles::CMiles: DirectX emulated, switching to software.\n");
            AIL_waveOutClose(m_hDigDriver);
            m_hDigDriver = nullptr;
            AIL_set_preference(DIG_USE_WAVEOUT, 1);
            continue;
        }
        m_hDigDriver = nullptr;
        dprintf("CMiles::CMiles: Failed to open wave out - ");
        if (!AIL_get_preference(DIG_USE_WAVEOUT)) {
            dprintf("switching to software.\n");
            AIL_set_preference(DIG_USE_WAVEOUT, 1);
            continue;
        }
        if (m_ulRatesIndex + 1 < m_ulRatesCount) {
            ++m_ulRatesIndex;
            dprintf("lower rate (Rate: %ld, Bits: %ld).\n", static_cast<long>(GetRate()),
                    static_cast<long>(m_uBits));
        } else if (m_uBits == 16) {
            m_uBits = 8;
            dprintf("lower bit count (Rate: %ld, Bits: %ld).\n", static_cast<long>(GetRate()),
                    static_cast<long>(m_uBits));
        } else {
            // Out of formats; the index stays on the last rate so that
            // GetRate keeps naming a real one.
            dprintf("no format left.\n");
            break;
        }
    }
    m_bWaveDeviceOK = accepted ? TRUE : FALSE;
    if (!accepted) {
        m_hDigDriver = nullptr;
        xErrorf("CMiles::CMiles: Call to 'AIL_waveOutOpen' failed (Err: %s).", LastBackEndError());
        return;
    }
    dprintf("%s", kStars);
    dprintf("Miles Sound system initiated!\n");
    dprintf("Dll version: %s.\n", TVSND_MODULE_NAME);
    dprintf("%s\n", description);
    dprintf("Channels: %ld\n", static_cast<long>(m_uChannels));
    dprintf("Rate: %ld\n", static_cast<long>(GetRate()));
    dprintf("Bits: %ld\n", static_cast<long>(m_uBits));
    static constexpr struct {
        uint32_t number;
        const char* text;
    } kPrefs[] = {{DIG_MIX_FRAGMENT_SIZE, "Size of mix fragments: %ld\n"},
                  {DIG_MAX_MIX_FRAGMENTS, "Max mix fragments: %ld\n"},
                  {DIG_CURRENT_MIX_FRAGMENTS, "Current mix fragments: %ld\n"},
                  {DIG_USE_WAVEOUT, "Using wave out: %ld\n"},
                  {DIG_USE_LOCK_PROTECTION, "Lock protection: %ld\n"},
                  {DIG_USE_MUTEX_PROTECTION, "Mutex protection: %ld\n"},
                  {DIG_OUTPUT_BUFFER_SIZE, "Output buffer size: %ld\n"},
                  {DIG_DECODE_BUFFER_SIZE, "Decode buffer size: %ld\n"},
                  {DIG_MIN_CHAIN_ELEMENT_SIZE, "Min chain element size: %ld\n"}};
    for (const auto& p : kPrefs)
        dprintf(p.text, static_cast<long>(AIL_get_preference(p.number)));
    dprintf("%s", kStars);
}

CMiles::~CMiles()
{
    FreeImage();
    if (m_ulObjectCounter == 0 || --m_ulObjectCounter != 0)
        return;
    dprintf("CMiles::~CMiles: Shutting down sound system.\n");
    if (m_hDigDriver != nullptr && AIL_waveOutClose != nullptr)
        AIL_waveOutClose(m_hDigDriver);
    m_hDigDriver = nullptr;
    m_bWaveDeviceOK = FALSE;
    if (AIL_shutdown != nullptr)
        AIL_shutdown();
    UnloadMilesDLL();
}

void CMiles::FreeImage()
{
    if (!m_bImageShared && m_pFileImage != nullptr && AIL_mem_free_lock != nullptr)
        AIL_mem_free_lock(m_pFileImage);
    m_pFileImage = nullptr;
    m_ulFileSize = 0;
}

const char* CMiles::GetLastError()
{
    if (!m_bWaveDeviceOK || AIL_last_error == nullptr)
        return nullptr;
    return AIL_last_error();
}

int32_t CMiles::DirectSoundOK()
{
    int32_t why = 0;
    bool ok = tvp::AudioProbe(&why);
    if (!ok)
        dprintf(why == 1 ? "CMiles::DirectSoundOK: Failed to load direct sound."
                         : "CMiles::DirectSoundOK: Failed to create DirectSound object.\n");
    dprintf(ok ? "CMiles::DirectSoundOK: Direct Sound will be used.\n"
               : "CMiles::DirectSoundOK: ERROR! Direct Sound will NOT be used.\n");
    return ok ? TRUE : FALSE;
}

int32_t CMiles::Load(char* const file, void** image, uint32_t* size) const
{
    if (m_bImageShared)
        return xErrorf("CMiles::Load: May not load because file image is shared.");
    if (file == nullptr)
        return xErrorf("CMiles::Load: Missing file name.");
    if (image == nullptr)
        return xErrorf("CMiles::Load: Missing file image handle.");
    if (size == nullptr)
        return xErrorf("CMiles::Load: Missing file size pointer.");
    if (!xFileExists(file))
        return xErrorf("CMiles::Load: File doesn't exist (File: %s).", file);
    if (*image != nullptr && AIL_mem_free_lock != nullptr)
        AIL_mem_free_lock(*image);
    *image = nullptr;
    *size = 0;
    if (m_hMilesDLL == nullptr)
        return xErrorf("CMiles::Load: Failed to load file (File: %s, Err: %s).", file, LastBackEndError());
    *image = AIL_file_read(file, nullptr);
    if (*image == nullptr)
        return xErrorf("CMiles::Load: Failed to load file (File: %s, Err: %s).", file, LastBackEndError());
    int32_t n = AIL_file_size(file);
    if (n == -1) {
        AIL_mem_free_lock(*image);
        *image = nullptr;
        return xErrorf("CMiles::Load: Failed to get file size (File: %s, Err: %s).", file,
                       LastBackEndError());
    }
    *size = static_cast<uint32_t>(n);
    if (!Decrypt(image, size)) {
        AIL_mem_free_lock(*image);
        *image = nullptr;
        *size = 0;
        return xErrorf("CMiles::Load: Failed to decrypt.");
    }
    return TRUE;
}

int32_t CMiles::Decrypt(void** image, uint32_t* size) const
{
    if (image == nullptr || *image == nullptr)
        return xErrorf("CMiles::Decrypt: Missing file image handle/pointer.");
    if (size == nullptr)
        return xErrorf("CMiles::Decrypt: Missing file size pointer.");
    if (xIsCrypt(*image, *size)) {
        xDecrypt(*image, *size);
        // The closing marker is not part of the sound.
        *size -= kMarkerLength;
    }
    return TRUE;
}
