// XIFF: nested chunk files. A chunk is a zero-terminated name, a 32-bit data
// length (byte order from the open mode) and the data, which may hold further
// chunks; a file is one top chunk "XIFF". While a chunk is entered, the file's
// bounds window is that chunk's data, so ordinary CFile reads, seeks and size
// queries work inside it as if it were a file of its own.
#pragma once

#include <tarvex/export.h>

#include <tarvex/file.h>

enum : int32_t {
    XIFF_MAX_LEVELS = 16, // level 0 is the whole file
};

struct TARVEX_API SXIFFLevel {
    uint32_t start;  // absolute file offset of the data
    uint32_t length; // data length (0 = up to the end of the enclosing level)
    uint32_t spare;
};

class TARVEX_API CXIFF : public CFile
{
  public:
    SXIFFLevel* levels = nullptr; // XIFF_MAX_LEVELS entries while open
    int32_t depth = 0;            // current level, 0 = the whole file
    int32_t openChunks = 0;       // started with AddChunk, not yet ended

    CXIFF() = default;
    CXIFF(const CXIFF& other);
    CXIFF& operator=(const CXIFF& other);
    ~CXIFF() override;

    int32_t Open(const char* name, int32_t mode) override;
    // Ends every open chunk, then closes the file.
    void Close() override;

    // Writes name and length at the current position and makes the chunk's
    // data the current level; EndChunk later fills in the real length.
    int32_t AddChunk(const char* name, int32_t length);
    int32_t EndChunk();
    // Searches the current level (from its start, or from the current
    // position) for the chunk name and leaves the position at that chunk.
    int32_t FindChunk(const char* name, uint32_t* length, int32_t fromCurrent);
    int32_t EnterChunk();
    int32_t ExitChunk();
    int32_t FirstChunk();
    // Skips the chunk at the current position.
    int32_t NextChunk();

  private:
    void ApplyBounds();
    bool LevelEnd(int32_t level, uint64_t* end);
    bool ReadHeader(const char* match, bool* matched, uint32_t* length, uint64_t* dataStart, uint64_t end);
};
