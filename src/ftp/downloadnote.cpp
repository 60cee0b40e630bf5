// CDownloadedNote: the per-download record the FTP client queues for the
// application. Names are owned tracked copies; getters hand out fresh copies
// so a name stays valid after the note is gone.
#include <tarvex/downloadnote.h>

#include <tarvex/error.h>
#include <tarvex/memory.h>

#include <cstring>

namespace
{

char* Copy(const char* text)
{
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(XALLOC(n));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

int32_t SetName(char*& field, const char* name, const char* invalidText, const char* memoryText)
{
    if (name == nullptr)
        return xErrorTxt_Func(invalidText, __FILE__, __LINE__);
    char* copy = Copy(name);
    if (copy == nullptr)
        return xErrorTxt_Func(memoryText, __FILE__, __LINE__);
    if (field != nullptr)
        XFREE(field);
    field = copy;
    return TRUE;
}

char* GetName(const char* field, const char* missingText, const char* memoryText)
{
    if (field == nullptr) {
        xErrorTxt_Func(missingText, __FILE__, __LINE__);
        return nullptr;
    }
    char* copy = Copy(field);
    if (copy == nullptr)
        xErrorTxt_Func(memoryText, __FILE__, __LINE__);
    return copy;
}

} // namespace

CDownloadedNote::CDownloadedNote(const CDownloadedNote& other)
    : downloadTime(other.downloadTime), fileSizeExists(other.fileSizeExists), fileSize(other.fileSize)
{
    if (other.localFileName != nullptr)
        localFileName = Copy(other.localFileName);
    if (other.remoteFileName != nullptr)
        remoteFileName = Copy(other.remoteFileName);
}

CDownloadedNote& CDownloadedNote::operator=(const CDownloadedNote& other)
{
    if (this == &other)
        return *this;
    downloadTime = other.downloadTime;
    fileSizeExists = other.fileSizeExists;
    fileSize = other.fileSize;
    if (other.localFileName != nullptr)
        SetLocalFileName(other.localFileName);
    if (other.remoteFileName != nullptr)
        SetRemoteFileName(other.remoteFileName);
    return *this;
}

CDownloadedNote::~CDownloadedNote()
{
    downloadTime = 0;
    fileSizeExists = 0;
    fileSize = 0;
    if (localFileName != nullptr)
        XFREE(localFileName);
    if (remoteFileName != nullptr)
        XFREE(remoteFileName);
    localFileName = remoteFileName = nullptr;
}

int32_t CDownloadedNote::SetLocalFileName(const char* name)
{
    return SetName(localFileName, name, "SetLocalFileName::nameIn is invalid.",
                   "SetLocalFileName::Out of memory.");
}

int32_t CDownloadedNote::SetRemoteFileName(const char* name)
{
    return SetName(remoteFileName, name, "SetRemoteFileName::nameIn is invalid.",
                   "SetRemoteFileName::Out of memory.");
}

char* CDownloadedNote::GetLocalFileName()
{
    return GetName(localFileName, "GetLocalFileName::No localFileName exists.",
                   "GetLocalFileName::Out of memory.");
}

char* CDownloadedNote::GetRemoteFileName()
{
    return GetName(remoteFileName, "GetRemoteFileName::No remoteFileName exists.",
                   "GetRemoteFileName::Out of memory.");
}
