// CMilesSample: one sound effect. The file is read once and expanded to PCM
// (IMA ADPCM and MP3 through the back end); starting a sample that is still
// playing starts an extra instance that shares the file image, so an effect
// can overlap itself. Extra instances live in one list shared by all samples
// and are reaped there; an extra instance itself never reaps, so the list is
// never changed under a walk of it.
#include <tarvex/sound.h>
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <algorithm>

CLList CMilesSample::m_listOtherInstances;

namespace
{

const char* LastBackEndError()
{
    return CMilesApi::AIL_last_error != nullptr ? CMilesApi::AIL_last_error() : "sound system not loaded";
}

} // namespace

CMilesSample::CMilesSample(const char* file, const char* redistDir) : CMiles(redistDir, TRUE)
{
    if (file != nullptr)
        Load(const_cast<char*>(file)); // Load only reads the name
}

CMilesSample::CMilesSample(CMilesSample* source) : CMiles(nullptr, TRUE)
{
    m_bImageShared = TRUE;
    if (source == nullptr || !source->m_bSampleOK || !m_bWaveDeviceOK || m_hMilesDLL == nullptr)
        return;
    m_pFileImage = source->m_pFileImage;
    m_ulFileSize = source->m_ulFileSize;
    m_hSample = AIL_allocate_sample_handle(m_hDigDriver);
    if (m_hSample == nullptr) {
        xErrorf("CMilesSample::CMilesSample: Failed to allocate sample slot (Err: %s).", LastBackEndError());
        return;
    }
    AIL_init_sample(m_hSample);
    if (!AIL_set_sample_file(m_hSample, m_pFileImage, 0)) {
        xErrorf("CMilesSample::CMilesSample: Failed to 'AIL_set_sample_file' (Err: %s).", LastBackEndError());
        AIL_release_sample_handle(m_hSample);
        m_hSample = nullptr;
        return;
    }
    AIL_set_sample_volume(m_hSample, AIL_sample_volume(source->m_hSample));
    AIL_set_sample_pan(m_hSample, AIL_sample_pan(source->m_hSample));
    m_bSampleOK = TRUE;
}

CMilesSample::~CMilesSample()
{
    if (!m_bImageShared)
        RemoveOtherInstances(FALSE);
    FreeSample();
}

void CMilesSample::FreeSample()
{
    if (m_hSample != nullptr && m_hMilesDLL != nullptr) {
        if (m_bSampleOK)
            AIL_end_sample(m_hSample);
        AIL_release_sample_handle(m_hSample);
    }
    m_hSample = nullptr;
    m_bSampleOK = FALSE;
}

void CMilesSample::RemoveOtherInstances(int32_t onlyFinished)
{
    SLListNode* n = m_listOtherInstances.first;
    while (n != nullptr) {
        SLListNode* next = n->next;
        auto* s = static_cast<CMilesSample*>(n->data);
        if (!onlyFinished || !s->IsPlaying()) {
            // Out of the list first: nothing reached from the delete may
            // find it there.
            m_listOtherInstances.Unlink(n);
            if (s->IsPlaying())
                s->Stop();
            XDELETE(s);
        }
        n = next;
    }
}

int CMilesSample::Load(char* const file)
{
    if (!m_bWaveDeviceOK || m_hMilesDLL == nullptr)
        return xErrorf("CMilesSample::Load: Sound system not initialized.");
    if (!m_bImageShared)
        RemoveOtherInstances(TRUE);
    if (m_listOtherInstances.GetNumNodes() > 0)
        return xErrorf("CMilesSample::Load: Unable to load because my memory is shared.");
    FreeSample();
    if (!CMiles::Load(file, &m_pFileImage, &m_ulFileSize))
        return xErrorf("CMilesSample::Load: Coldn't load file to memory.");
    int32_t type = AIL_file_type(m_pFileImage, m_ulFileSize);
    void* expanded = nullptr;
    uint32_t expandedSize = 0;
    switch (type) {
    case AILFILETYPE_PCM_WAV:
        break;
    case AILFILETYPE_ADPCM_WAV: {
        SAilSoundInfo info{};
        if (!AIL_WAV_info(m_pFileImage, &info)) {
            FreeImage();
            return xErrorf("CMilesSample::Load: Failed to get sound info (File: %s).", file);
        }
        if (info.format != 0x11) {
            FreeImage();
            return xErrorf("CMilesSample::Load: Format isn't ADPCM (File: %s).", file);
        }
        if (!AIL_decompress_ADPCM(&info, &expanded, &expandedSize)) {
            FreeImage();
            return xErrorf("CMilesSample::Load: Failed to decompress ADPCM (File: %s).", file);
        }
        break;
    }
    case AILFILETYPE_MPEG_L3_AUDIO:
        if (!AIL_decompress_ASI(m_pFileImage, m_ulFileSize, ".mp3", &expanded, &expandedSize, nullptr)) {
            FreeImage();
            return xErrorf("CMilesSample::Load: Failed to decompress MP3 (File: %s).", file);
        }
        break;
    default:
        FreeImage();
        return xErrorf("CMiles::Load: Not supported filetype (File: %s, Type: %ld).", file,
                       static_cast<long>(type));
    }
    if (expanded != nullptr) {
        FreeImage();
        m_pFileImage = expanded;
        m_ulFileSize = expandedSize;
    }
    m_hSample = AIL_allocate_sample_handle(m_hDigDriver);
    if (m_hSample == nullptr) {
        FreeImage();
        return xErrorf("CMilesSample::Load: Failed to load allocate sample slot (File: %s, Err: %s).", file,
                       LastBackEndError());
    }
    AIL_init_sample(m_hSample);
    if (!AIL_set_sample_file(m_hSample, m_pFileImage, 0)) {
        xErrorf("CMilesSample::Load: Failed to set sample file (File: %s, Filetype: %ld, Err: %s).", file,
                static_cast<long>(type), LastBackEndError());
        AIL_release_sample_handle(m_hSample);
        m_hSample = nullptr;
        FreeImage();
        return FALSE;
    }
    m_bSampleOK = m_bWaveDeviceOK;
    return TRUE;
}

int CMilesSample::Start(int bLoop, int bWait)
{
    if (!m_bSampleOK || m_hMilesDLL == nullptr)
        return FALSE;
    if (!m_bImageShared)
        RemoveOtherInstances(TRUE);
    dprintf("CMilesSample::Start: m_hSample: %ld, bLoop: %ld, bWait: %ld\n",
            static_cast<long>(reinterpret_cast<intptr_t>(m_hSample)), static_cast<long>(bLoop),
            static_cast<long>(bWait));
    if (!IsPlaying()) {
        if (bLoop)
            AIL_set_sample_loop_count(m_hSample, 0);
        AIL_start_sample(m_hSample);
        // Never wait on a sample that repeats for ever, and stop waiting
        // when the user quits.
        if (bWait && !bLoop && AIL_sample_loop_count(m_hSample) != 0)
            while (IsPlaying() && !xDoUserWantToQuit())
                if (xHandler() != 0)
                    break;
        return TRUE;
    }
    CMilesSample* copy = XNEW(CMilesSample, this);
    if (copy == nullptr)
        return xErrorf("CMilesSample::Start: Failed to create new instance.");
    if (!copy->SampleOK()) {
        XDELETE(copy);
        return xErrorf("CMilesSample::Start: New instance not initialized.");
    }
    if (!m_listOtherInstances.InsertLast(copy)) {
        XDELETE(copy);
        return xErrorf("CMilesSample::Start: Failed to create new instance.");
    }
    copy->Start(bLoop, bWait);
    return TRUE;
}

int CMilesSample::Pause()
{
    if (m_hSample == nullptr || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_stop_sample(m_hSample);
    return TRUE;
}

int CMilesSample::Resume()
{
    if (m_hSample == nullptr || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_resume_sample(m_hSample);
    return TRUE;
}

int CMilesSample::Stop()
{
    if (m_hSample == nullptr || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_end_sample(m_hSample);
    return TRUE;
}

int CMilesSample::IsPlaying() { return GetStatus() == SMP_PLAYING ? TRUE : FALSE; }

int CMilesSample::SetVolume(int32_t volume)
{
    if (!m_bSampleOK || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_set_sample_volume(m_hSample, std::clamp(volume / 2, 0, 127));
    return TRUE;
}

int CMilesSample::SetPan(int32_t pan)
{
    if (!m_bSampleOK || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_set_sample_pan(m_hSample, std::clamp((pan + 128) / 2, 0, 127));
    return TRUE;
}

int CMilesSample::SetLoopCount(int32_t count)
{
    if (m_hSample == nullptr || m_hMilesDLL == nullptr)
        return FALSE;
    AIL_set_sample_loop_count(m_hSample, count < -1 ? 1 : count);
    return TRUE;
}

int32_t CMilesSample::GetStatus()
{
    if (m_hSample == nullptr || m_hMilesDLL == nullptr)
        return 0;
    return static_cast<int32_t>(AIL_sample_status(m_hSample));
}

int32_t CMilesSample::GetVolume()
{
    return m_hSample != nullptr && m_hMilesDLL != nullptr ? AIL_sample_volume(m_hSample) * 2 : 0;
}

int32_t CMilesSample::GetPan()
{
    return m_hSample != nullptr && m_hMilesDLL != nullptr ? AIL_sample_pan(m_hSample) * 2 - 128 : 0;
}

int32_t CMilesSample::GetLoopCount()
{
    return m_hSample != nullptr && m_hMilesDLL != nullptr ? AIL_sample_loop_count(m_hSample) : 0;
}
