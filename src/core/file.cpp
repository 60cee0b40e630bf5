// CFile: buffered binary file with typed reads and writes (byte order on
// request), a bounds window for files embedded in larger files, and
// formatted printing. CBitFile adds MSB-first bit input and output.
#include <tarvex/file.h>
#include <tarvex/frame.h>

#include "core/byteswap.h"

#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace
{

struct Access {
    int32_t bit;
    const char* mode;
    const char* word;
};
constexpr Access kAccess[] = {
    {XFILE_READ, "rb", "read"},
    {XFILE_WRITE, "wb", "write"},
    {XFILE_READWRITE, "rb+", "read and write"},
    {XFILE_APPEND, "ab+", "append"}, // binary: no line-end translation on Windows
};

constexpr size_t kPrintBuffer = 2080;

} // namespace

CFile::CFile() : processorOrder(std::endian::native == std::endian::little ? 'L' : 'B') {}

CFile::~CFile() { Close(); }

int32_t CFile::Open(const char* name, int32_t mode)
{
    Close();
    boundsStart = boundsSize = 0;
    swap = 0;
    if ((mode & XFILE_LITTLE_ENDIAN) != 0 && processorOrder == 'B')
        swap = 1;
    if ((mode & XFILE_BIG_ENDIAN) != 0 && processorOrder == 'L')
        swap = 1;
    const Access* access = nullptr;
    for (const auto& a : kAccess)
        if ((mode & a.bit) != 0) {
            access = &a;
            break;
        }
    if (access == nullptr || name == nullptr)
        return xErrorf("Unable to open file \"%s\" with %s access", name != nullptr ? name : "(null)",
                       access != nullptr ? access->word : "no");
    handle = std::fopen(name, access->mode);
    if (handle == nullptr && (mode & XFILE_CREATE_DIRS) != 0 &&
        (access->bit == XFILE_WRITE || access->bit == XFILE_READWRITE)) {
        xCreateDirsForFile(name);
        handle = std::fopen(name, access->mode);
    }
    if (handle == nullptr)
        return xErrorf("Unable to open file \"%s\" with %s access", name, access->word);
    return TRUE;
}

int32_t CFile::Read(void* buf, uint32_t n)
{
    if (handle == nullptr)
        return xError_Func(XERR_READ, nullptr, 0);
    if (n == 0)
        return TRUE;
    if (std::fread(buf, 1, n, handle) == n)
        return TRUE;
    return xError_Func(std::feof(handle) ? XERR_EOF : XERR_READ, nullptr, 0);
}

int32_t CFile::SetFileBounds(uint32_t start, uint32_t size)
{
    boundsStart = start;
    boundsSize = size;
    return TRUE;
}

int32_t CFile::Write(const void* buf, uint32_t n)
{
    if (handle == nullptr)
        return xError_Func(XERR_WRITE, nullptr, 0);
    if (n == 0 || std::fwrite(buf, 1, n, handle) == n)
        return TRUE;
    return xError_Func(XERR_WRITE, nullptr, 0);
}

int32_t CFile::ReadByte(int8_t* b)
{
    if (handle == nullptr)
        return xError_Func(XERR_READ, nullptr, 0);
    int c = std::fgetc(handle);
    if (c == EOF)
        return std::feof(handle) ? FALSE : xError_Func(XERR_READ, nullptr, 0);
    *b = static_cast<int8_t>(c);
    return TRUE;
}

int32_t CFile::WriteByte(int8_t b)
{
    if (handle == nullptr || std::fputc(static_cast<unsigned char>(b), handle) == EOF)
        return xError_Func(XERR_WRITE, nullptr, 0);
    return TRUE;
}

#define TV_TYPED_IO(Name, T)                                                                                 \
    int32_t CFile::Read##Name(T* v)                                                                          \
    {                                                                                                        \
        T tmp;                                                                                               \
        if (!Read(&tmp, sizeof(T)))                                                                          \
            return FALSE;                                                                                    \
        *v = swap ? tvcore::ReverseBytes(tmp) : tmp;                                                         \
        return TRUE;                                                                                         \
    }                                                                                                        \
    int32_t CFile::Write##Name(T v)                                                                          \
    {                                                                                                        \
        T tmp = swap ? tvcore::ReverseBytes(v) : v;                                                          \
        return Write(&tmp, sizeof(T));                                                                       \
    }
TV_TYPED_IO(Word, int16_t)
TV_TYPED_IO(Long, int32_t)
TV_TYPED_IO(Float, float)
TV_TYPED_IO(Double, double)
#undef TV_TYPED_IO

int32_t CFile::Seek(int32_t offset, int16_t mode)
{
    if (handle == nullptr)
        return xError_Func(XERR_SEEK, nullptr, 0);
    bool raw = (mode & XSEEK_RAW) != 0;
    int rc;
    if ((mode & XSEEK_SET) != 0) {
        long pos = static_cast<long>(offset) + (raw ? 0 : static_cast<long>(boundsStart));
        rc = pos < 0 ? -1 : std::fseek(handle, pos, SEEK_SET);
    } else if ((mode & XSEEK_END) != 0 && boundsSize != 0 && !raw) {
        long pos = static_cast<long>(boundsStart) + static_cast<long>(boundsSize) + offset;
        rc = pos < 0 ? -1 : std::fseek(handle, pos, SEEK_SET);
    } else if ((mode & XSEEK_END) != 0) {
        rc = std::fseek(handle, offset, SEEK_END);
    } else {
        rc = std::fseek(handle, offset, SEEK_CUR);
    }
    return rc == 0 ? TRUE : xError_Func(XERR_SEEK, nullptr, 0);
}

int32_t CFile::GetPos(uint32_t* pos, int32_t mode)
{
    long p = handle != nullptr ? std::ftell(handle) : -1;
    if (p < 0 || pos == nullptr)
        return xError_Func(XERR_GETPOS, nullptr, 0);
    *pos = static_cast<uint32_t>(p) - (((mode & XSEEK_RAW) != 0) ? 0 : boundsStart);
    return TRUE;
}

int32_t CFile::GetSize(uint32_t* size)
{
    uint32_t here;
    if (!GetPos(&here, XSEEK_RAW) || !Seek(0, XSEEK_END) || !GetPos(size, 0) ||
        !Seek(static_cast<int32_t>(here), XSEEK_SET | XSEEK_RAW))
        return FALSE;
    return TRUE;
}

int32_t CFile::ReadString(char* buf, int32_t n)
{
    if (handle == nullptr || buf == nullptr || n <= 0)
        return 0;
    if (std::fgets(buf, n, handle) == nullptr) {
        buf[0] = 0;
        return 0;
    }
    return static_cast<int32_t>(std::strlen(buf));
}

int32_t CFile::Print(const char* format, ...)
{
    char buf[kPrintBuffer];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= sizeof buf)
        std::strcpy(buf, "**** STRING TO LONG ****\n");
    return Write(buf, static_cast<uint32_t>(std::strlen(buf)));
}

void CFile::Close()
{
    if (handle != nullptr) {
        std::fclose(handle);
        handle = nullptr;
    }
}

// ---------------------------------------------------------------- bit file

CBitFile::~CBitFile() { Close(); }

int16_t CBitFile::ReadBit()
{
    if (bitCount == 0) {
        int8_t b = 0;
        if (!ReadByte(&b))
            b = 0;
        bitBuffer = static_cast<uint8_t>(b);
        bitCount = 8;
    }
    int16_t bit = (bitBuffer & 0x80) != 0 ? 1 : 0;
    bitBuffer = static_cast<uint8_t>(bitBuffer << 1);
    --bitCount;
    return bit;
}

int16_t CBitFile::ReadBits(int16_t n)
{
    int16_t v = 0;
    for (int16_t i = 0; i < n && i < 16; ++i)
        v = static_cast<int16_t>((v << 1) | ReadBit());
    return v;
}

void CBitFile::WriteBit(uint8_t b)
{
    bitBuffer = static_cast<uint8_t>(bitBuffer * 2 + (b & 1));
    if (++bitCount == 8) {
        WriteByte(static_cast<int8_t>(bitBuffer));
        bitBuffer = 0;
        bitCount = 0;
    }
}

void CBitFile::WriteBits(uint32_t value, uint8_t n)
{
    for (int i = n - 1; i >= 0; --i)
        WriteBit(static_cast<uint8_t>((value >> i) & 1));
}

void CBitFile::FlushBits()
{
    if (bitCount != 0) {
        WriteByte(static_cast<int8_t>(bitBuffer << (8 - bitCount)));
        bitBuffer = 0;
        bitCount = 0;
    }
}

void CBitFile::FlushBitbuf()
{
    bitBuffer = 0;
    bitCount = 0;
}
