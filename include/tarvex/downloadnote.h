// CDownloadedNote: the record the FTP client keeps for every finished
// download (which remote file went to which local file, how long it took,
// how big it was), so the application learns about finished files by
// polling the client from its frame loop.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

class TARVEX_API CDownloadedNote
{
  public:
    uint32_t downloadTime = 0;      // ms from the start of the data transfer to its end
    int32_t fileSizeExists = 0;     // the server announced the size
    uint32_t fileSize = 0;          // announced size in bytes (0 when unknown)
    char* localFileName = nullptr;  // owned
    char* remoteFileName = nullptr; // owned

    CDownloadedNote() = default;
    // Copies hold their own copies of the names.
    CDownloadedNote(const CDownloadedNote& other);
    CDownloadedNote& operator=(const CDownloadedNote& other);
    ~CDownloadedNote();

    void SetDownloadTime(uint32_t ms) { downloadTime = ms; }
    uint32_t GetDownloadTime() const { return downloadTime; }
    void SetFileSizeExists(int32_t exists) { fileSizeExists = exists; }
    int32_t GetFileSizeExists() const { return fileSizeExists; }
    void SetFileSize(uint32_t size) { fileSize = size; }
    uint32_t GetFileSize() const { return fileSize; }

    // Store a copy of name (the old one is released); NULL is refused.
    int32_t SetLocalFileName(const char* name);
    int32_t SetRemoteFileName(const char* name);
    // A new tracked copy that the caller releases with XFREE; NULL when unset.
    char* GetLocalFileName();
    char* GetRemoteFileName();
};
