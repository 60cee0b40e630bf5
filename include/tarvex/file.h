// Files: the buffered binary CFile with typed, byte-order-aware reads and
// writes and a bounds window, CBitFile for bit streams, the whole-file and
// directory utilities, CRC-32 and the scrambled-file test.
#pragma once

#include <tarvex/export.h>

#include <tarvex/llist.h>

#include <cstdio>

// Open modes: exactly one access bit, plus order and directory flags.
enum : int32_t {
    XFILE_READ = 1,
    XFILE_WRITE = 2,
    XFILE_READWRITE = 4,
    XFILE_APPEND = 8,
    XFILE_LITTLE_ENDIAN = 32, // the file's numbers are little-endian
    XFILE_BIG_ENDIAN = 64,    // the file's numbers are big-endian
    XFILE_CREATE_DIRS = 256,  // create missing directories and retry once
};
// Seek modes.
enum : int16_t {
    XSEEK_SET = 1,
    XSEEK_CUR = 2,
    XSEEK_END = 4,
    XSEEK_RAW = 128, // ignore the bounds window
};

class TARVEX_API CFileBase
{
  public:
    virtual int32_t Open(const char* name, int32_t mode) = 0;
    virtual int32_t Read(void* buf, uint32_t n) = 0;
    virtual int32_t SetFileBounds(uint32_t start, uint32_t size) = 0;
    virtual int32_t Write(const void* buf, uint32_t n) = 0;
    virtual int32_t ReadByte(int8_t* b) = 0;
    virtual int32_t WriteByte(int8_t b) = 0;
    virtual int32_t ReadWord(int16_t* v) = 0;
    virtual int32_t WriteWord(int16_t v) = 0;
    virtual int32_t ReadLong(int32_t* v) = 0;
    virtual int32_t WriteLong(int32_t v) = 0;
    virtual int32_t ReadFloat(float* v) = 0;
    virtual int32_t WriteFloat(float v) = 0;
    virtual int32_t ReadDouble(double* v) = 0;
    virtual int32_t WriteDouble(double v) = 0;
    virtual int32_t Seek(int32_t offset, int16_t mode) = 0;
    virtual int32_t GetPos(uint32_t* pos, int32_t mode) = 0;
    virtual int32_t GetSize(uint32_t* size) = 0;
    virtual int32_t ReadString(char* buf, int32_t n) = 0;
    virtual int32_t Print(const char* format, ...) __attribute__((format(printf, 2, 3))) = 0;
    virtual void Close() = 0;
    virtual ~CFileBase() = default;
};

class TARVEX_API CFile : public CFileBase
{
  public:
    FILE* handle = nullptr;
    char processorOrder;      // 'L' little-endian, 'B' big-endian
    uint8_t swap = 0;         // reverse multi-byte numbers on read and write
    uint32_t boundsStart = 0; // window offset (0 = whole file)
    uint32_t boundsSize = 0;  // window size (0 = up to the real end)

    CFile();
    CFile(const CFile&) = default;
    CFile& operator=(const CFile&) = default;
    ~CFile() override;

    int32_t Open(const char* name, int32_t mode) override;
    int32_t Read(void* buf, uint32_t n) override;
    int32_t SetFileBounds(uint32_t start, uint32_t size) override;
    int32_t Write(const void* buf, uint32_t n) override;
    int32_t ReadByte(int8_t* b) override;
    int32_t WriteByte(int8_t b) override;
    int32_t ReadWord(int16_t* v) override;
    int32_t WriteWord(int16_t v) override;
    int32_t ReadLong(int32_t* v) override;
    int32_t WriteLong(int32_t v) override;
    int32_t ReadFloat(float* v) override;
    int32_t WriteFloat(float v) override;
    int32_t ReadDouble(double* v) override;
    int32_t WriteDouble(double v) override;
    int32_t Seek(int32_t offset, int16_t mode) override;
    int32_t GetPos(uint32_t* pos, int32_t mode) override;
    int32_t GetSize(uint32_t* size) override;
    int32_t ReadString(char* buf, int32_t n) override;
    int32_t Print(const char* format, ...) override __attribute__((format(printf, 2, 3)));
    void Close() override;
    int32_t IsOpen() const { return handle != nullptr ? TRUE : FALSE; }
};

class TARVEX_API CBitFile : public CFile
{
  public:
    uint8_t bitBuffer = 0;
    uint8_t bitCount = 0;

    CBitFile() = default;
    CBitFile(const CBitFile&) = default;
    CBitFile& operator=(const CBitFile&) = default;
    ~CBitFile() override;

    int16_t ReadBit();
    int16_t ReadBits(int16_t n);
    void WriteBit(uint8_t b);
    void WriteBits(uint32_t value, uint8_t n);
    void FlushBits();
    void FlushBitbuf();
};

TARVEX_API int32_t xFileExists(const char* name);
TARVEX_API int32_t xDoFileExists(const char* name);
TARVEX_API int32_t xFileDelete(const char* name);
TARVEX_API int32_t xFileRename(const char* newName, const char* oldName);
TARVEX_API int32_t xFileSize(const char* name, uint32_t* size);
TARVEX_API int32_t xReadFile(const char* name, void* buf, uint32_t n);
TARVEX_API int32_t xWriteFile(const char* name, const void* buf, uint32_t n);
TARVEX_API int32_t xCopyFile(const char* dst, const char* src);
TARVEX_API int32_t xRemoveReadOnly(const char* name);
TARVEX_API int32_t xFileGetLastWriteTime(const char* name, uint32_t& low, uint32_t& high);
TARVEX_API int32_t xCreateDirsForFile(const char* path);
TARVEX_API char* xGetWorkingDirectory();
TARVEX_API int32_t xSetWorkingDirectory(const char* dir);
TARVEX_API int32_t xDoDirectoryExists(const char* dir);
TARVEX_API int xFolderExists(const char* path);
// Linux has no drive letters: drive 0 ('A' + 0 in the letter range) is the
// root filesystem, later indices the mounted removable and remote
// filesystems. The letters first..last select indices first-'A'..last-'A'.
TARVEX_API int32_t xAddDrives(CLList* list, char first, char last);
TARVEX_API int32_t xAddFolderContent(CLList* list, const char* folder, const char* pattern, int dirs, int files,
                          int fullPath);
TARVEX_API int32_t xExecuteFile(const char* file, const char* params);
TARVEX_API int32_t xShowURL(const char* url);

// CRC-32 of n bytes with the polynomial poly, most significant bit first,
// initial 0xFFFFFFFF, final complement (0x04C11DB7 gives CRC-32/BZIP2).
TARVEX_API int32_t xCalcCrc(const void* data, uint32_t n, uint32_t* crc, uint32_t poly);
TARVEX_API int32_t xCalcFileCrc(const char* name, uint32_t* crc, uint32_t poly);

// Scrambled files: every byte XORed with XCRYPT_KEY, the marker
// "XICRYPTEDFILE" appended (scrambled too). The picture loaders and the
// sound objects read such files like plain ones.
constexpr uint8_t XCRYPT_KEY = 0x5A;
constexpr uint32_t XCRYPT_MARKER_SIZE = 13; // the marker's length
// TRUE when the n bytes at data end with the scrambled marker.
TARVEX_API int32_t xIsCrypt(const void* data, uint32_t n);
// TRUE when the open file ends with the scrambled marker; leaves the file
// at its start.
TARVEX_API int32_t xIsFileCrypt(CFile* file);
// XORs the n bytes at data with XCRYPT_KEY in place: unscrambles a
// scrambled block (whose last XCRYPT_MARKER_SIZE bytes are then the plain
// marker) and scrambles a plain one.
TARVEX_API void xDecrypt(void* data, uint32_t n);
// Scrambles the n bytes at data in place and appends the scrambled marker,
// so that the buffer of size bytes (at least n + XCRYPT_MARKER_SIZE) holds a
// scrambled block the loaders read; the inverse of xDecrypt and dropping
// the marker. FALSE, with the buffer unchanged, for null data, a buffer too
// small, or data that is already scrambled.
TARVEX_API int32_t xEncrypt(void* data, uint32_t n, uint32_t size);
