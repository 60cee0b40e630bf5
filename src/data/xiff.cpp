// CXIFF: nested chunk files on top of CFile. Writing leaves a placeholder
// length that EndChunk fills in once the data is complete; reading walks the
// chunks of the current level. Reads and skips are checked against the end
// of the level (files come from outside), so a damaged length can neither
// send a search outside its chunk nor make it run backwards for ever.
#include <tarvex/xiff.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstring>

namespace {
constexpr const char* kMaxDepth = "You are at the max depth for this XIFF file";
constexpr uint64_t kMaxOffset = 0x7FFFFFFF; // file offsets go through 32-bit seeks
} // namespace

CXIFF::CXIFF(const CXIFF& other) : CFile(other), depth(other.depth), openChunks(other.openChunks)
{
    if (other.levels != nullptr) {
        levels = static_cast<SXIFFLevel*>(XALLOC(sizeof(SXIFFLevel) * XIFF_MAX_LEVELS));
        if (levels != nullptr)
            std::memcpy(levels, other.levels, sizeof(SXIFFLevel) * XIFF_MAX_LEVELS);
    }
}

CXIFF& CXIFF::operator=(const CXIFF& other)
{
    if (this == &other)
        return *this;
    CFile::operator=(other);
    if (other.levels != nullptr && levels == nullptr)
        levels = static_cast<SXIFFLevel*>(XALLOC(sizeof(SXIFFLevel) * XIFF_MAX_LEVELS));
    if (other.levels != nullptr && levels != nullptr)
        std::memcpy(levels, other.levels, sizeof(SXIFFLevel) * XIFF_MAX_LEVELS);
    if (other.levels == nullptr && levels != nullptr) {
        XFREE(levels);
        levels = nullptr;
    }
    depth = other.depth;
    openChunks = other.openChunks;
    return *this;
}

CXIFF::~CXIFF()
{
    Close();
}

int32_t CXIFF::Open(const char* name, int32_t mode)
{
    Close();
    // Appending goes through read-and-write access: in append access every
    // write lands at the end, and EndChunk could not fill in a length.
    bool append = (mode & XFILE_APPEND) != 0;
    bool existing = false;
    int32_t fileMode = mode;
    if (append) {
        uint32_t size = 0;
        existing = name != nullptr && xFileExists(name) && xFileSize(name, &size) && size != 0;
        fileMode = (mode & ~XFILE_APPEND) | (existing ? XFILE_READWRITE : XFILE_WRITE);
    }
    if (!CFile::Open(name, fileMode))
        return FALSE;
    levels = static_cast<SXIFFLevel*>(XALLOC(sizeof(SXIFFLevel) * XIFF_MAX_LEVELS));
    if (levels == nullptr) {
        CFile::Close();
        return FALSE;
    }
    std::memset(levels, 0, sizeof(SXIFFLevel) * XIFF_MAX_LEVELS);
    depth = 0;
    openChunks = 0;

    bool reading = (mode & (XFILE_READ | XFILE_READWRITE)) != 0 || existing;
    if (reading) {
        if (!FindChunk("XIFF", nullptr, FALSE) || !EnterChunk()) {
            Close();
            return xErrorf("\"%s\" isnt a XIFF file", name);
        }
        if (existing) {
            // Reopen the top chunk up to the end of the file, so chunks added
            // now become part of it and Close writes its new length.
            levels[depth].length = 0;
            ApplyBounds();
            openChunks = 1;
            if (!Seek(0, XSEEK_END)) {
                Close();
                return FALSE;
            }
        }
        return TRUE;
    }
    if ((mode & (XFILE_WRITE | XFILE_APPEND)) != 0 && !AddChunk("XIFF", 0)) {
        Close();
        return FALSE;
    }
    return TRUE;
}

void CXIFF::Close()
{
    if (levels != nullptr) {
        while (openChunks > 0 && EndChunk()) {
        }
        XFREE(levels);
        levels = nullptr;
    }
    depth = 0;
    openChunks = 0;
    CFile::Close();
}

void CXIFF::ApplyBounds()
{
    SetFileBounds(levels[depth].start, levels[depth].length);
}

// Absolute end of a level's data: its length, or when that is 0 (a chunk
// still being written) the end of the enclosing level, the file at level 0.
bool CXIFF::LevelEnd(int32_t level, uint64_t* end)
{
    for (; level > 0; --level)
        if (levels[level].length != 0) {
            *end = uint64_t{levels[level].start} + levels[level].length;
            return true;
        }
    uint32_t here = 0;
    uint32_t size = 0;
    if (!GetPos(&here, XSEEK_RAW) || !Seek(0, XSEEK_END | XSEEK_RAW) || !GetPos(&size, XSEEK_RAW) ||
        !Seek(static_cast<int32_t>(here), XSEEK_SET | XSEEK_RAW))
        return false;
    *end = size;
    return true;
}

// Reads the chunk header at the current position: the name (compared with
// match when given) and the length. False at the end of the level, or when
// the header or the data would run past it.
bool CXIFF::ReadHeader(const char* match, bool* matched, uint32_t* length, uint64_t* dataStart, uint64_t end)
{
    uint32_t here = 0;
    if (!GetPos(&here, XSEEK_RAW))
        return false;
    // A header that cannot be used leaves the position where it was.
    auto fail = [&] {
        Seek(static_cast<int32_t>(here), XSEEK_SET | XSEEK_RAW);
        return false;
    };
    uint64_t pos = here;
    bool same = true;
    size_t i = 0;
    for (;;) {
        if (pos >= end)
            return fail();
        int8_t c = 0;
        if (!ReadByte(&c))
            return fail();
        ++pos;
        if (match != nullptr && same) {
            if (static_cast<char>(c) != match[i])
                same = false;
            else
                ++i;
        }
        if (c == 0)
            break;
    }
    int32_t value = 0;
    if (pos + 4 > end || !ReadLong(&value))
        return fail();
    pos += 4;
    *length = static_cast<uint32_t>(value);
    *dataStart = pos;
    if (matched != nullptr)
        *matched = match != nullptr && same;
    if (pos + *length > end || pos + *length > kMaxOffset) {
        xErrorTxt_Func("CXIFF: Chunk data runs past the end of its enclosing chunk", __FILE__, __LINE__);
        return fail();
    }
    return true;
}

int32_t CXIFF::AddChunk(const char* name, int32_t length)
{
    if (levels == nullptr || name == nullptr)
        return xErrorTxt_Func("CXIFF::AddChunk: File not open or no name", __FILE__, __LINE__);
    if (depth >= XIFF_MAX_LEVELS - 1)
        return xErrorTxt_Func(kMaxDepth, __FILE__, __LINE__);
    if (!Write(name, static_cast<uint32_t>(std::strlen(name) + 1)) || !WriteLong(length))
        return FALSE;
    uint32_t start = 0;
    if (!GetPos(&start, XSEEK_RAW))
        return FALSE;
    ++openChunks;
    ++depth;
    levels[depth] = {start, static_cast<uint32_t>(length), 0};
    ApplyBounds();
    return TRUE;
}

int32_t CXIFF::EndChunk()
{
    if (openChunks <= 0 || levels == nullptr || depth <= 0)
        return TRUE;
    uint32_t here = 0;
    uint32_t length = 0;
    const SXIFFLevel& level = levels[depth];
    if (level.start < 4 || !GetPos(&here, XSEEK_RAW) || !Seek(0, XSEEK_END) || !GetPos(&length, 0) ||
        !Seek(static_cast<int32_t>(level.start - 4), XSEEK_SET | XSEEK_RAW) ||
        !WriteLong(static_cast<int32_t>(length)) || !Seek(static_cast<int32_t>(here), XSEEK_SET | XSEEK_RAW))
        return FALSE;
    --depth;
    --openChunks;
    ApplyBounds();
    return TRUE;
}

int32_t CXIFF::FindChunk(const char* name, uint32_t* length, int32_t fromCurrent)
{
    if (levels == nullptr || name == nullptr)
        return xErrorTxt_Func("CXIFF::FindChunk: File not open or no name", __FILE__, __LINE__);
    uint64_t end = 0;
    if (!LevelEnd(depth, &end))
        return FALSE;
    if (!fromCurrent && !Seek(0, XSEEK_SET))
        return FALSE;
    // Every round moves on by at least a header (5 bytes), and never past end.
    for (;;) {
        uint32_t here = 0;
        bool matched = false;
        uint32_t dataLength = 0;
        uint64_t dataStart = 0;
        if (!GetPos(&here, XSEEK_RAW) || !ReadHeader(name, &matched, &dataLength, &dataStart, end))
            return FALSE;
        if (matched) {
            if (!Seek(static_cast<int32_t>(here), XSEEK_SET | XSEEK_RAW))
                return FALSE;
            if (length != nullptr)
                *length = dataLength;
            return TRUE;
        }
        if (!Seek(static_cast<int32_t>(dataStart + dataLength), XSEEK_SET | XSEEK_RAW))
            return FALSE;
    }
}

int32_t CXIFF::EnterChunk()
{
    if (levels == nullptr)
        return xErrorTxt_Func("CXIFF::EnterChunk: File not open", __FILE__, __LINE__);
    if (depth >= XIFF_MAX_LEVELS - 1)
        return xErrorTxt_Func(kMaxDepth, __FILE__, __LINE__);
    uint64_t end = 0;
    uint32_t length = 0;
    uint64_t dataStart = 0;
    if (!LevelEnd(depth, &end))
        return FALSE;
    if (!ReadHeader(nullptr, nullptr, &length, &dataStart, end))
        return xError_Func(XERR_EOF, __FILE__, __LINE__);
    ++depth;
    levels[depth] = {static_cast<uint32_t>(dataStart), length, 0};
    ApplyBounds();
    return TRUE;
}

int32_t CXIFF::ExitChunk()
{
    if (levels == nullptr || depth <= 0)
        return FALSE;
    --depth;
    ApplyBounds();
    return Seek(0, XSEEK_SET);
}

int32_t CXIFF::FirstChunk()
{
    if (levels == nullptr)
        return FALSE;
    return Seek(0, XSEEK_SET);
}

int32_t CXIFF::NextChunk()
{
    if (levels == nullptr)
        return FALSE;
    uint64_t end = 0;
    uint32_t length = 0;
    uint64_t dataStart = 0;
    if (!LevelEnd(depth, &end) || !ReadHeader(nullptr, nullptr, &length, &dataStart, end))
        return FALSE;
    return Seek(static_cast<int32_t>(dataStart + length), XSEEK_SET | XSEEK_RAW);
}
