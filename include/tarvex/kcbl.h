// KCBL: the tagged key/value container. A tree of items (a keyword with an
// ordered list of text values, arrays or comments); an item with keyword "{"
// owns a nested chunk. The text form is used for settings files, resource
// scripts and as the payload of node messages.
#pragma once

#include <tarvex/export.h>

#include <tarvex/llist.h>

// Value type codes of the variadic building and reading calls. Values are
// passed as: KBOOL/KLONG int32_t, KULONG uint32_t, KFLOAT float (arrives as
// double), KDOUBLE double, KSTRING const char*; arrays as (int32_t count,
// pointer). Reading: pointers to the same types; KSTRING takes
// (int32_t bufferSize, char* buffer).
enum : uint32_t {
    KEND = 0x10000000,
    KBOOL = 0x10000001,
    KLONG = 0x10000002,
    KULONG = 0x10000003,
    KFLOAT = 0x10000004,
    KDOUBLE = 0x10000005,
    KSTRING = 0x10000006,
    KBOOLARRAY = 0x10000007,
    KLONGARRAY = 0x10000008,
    KULONGARRAY = 0x10000009,
    KFLOATARRAY = 0x1000000A,
    KDOUBLEARRAY = 0x1000000B,
    KTYPEFOLLOWS = 0x1000000C,
};

// Marker bytes inside an item's text area.
enum : uint8_t {
    KCBL_ARRAY_START = 0xFD,
    KCBL_ARRAY_END = 0xFE,
    KCBL_TEXT_END = 0xFF,
};

struct TARVEX_API TKCBLChunk {
    CLList list;                  // TKCBLKeyword*, the dummy item first
    TKCBLChunk* parent = nullptr; // null for the main chunk
};

// One item: a single tracked block holding this header, the value pointer
// table and the text area (keyword and values, zero-terminated, then 0xFF).
struct TARVEX_API TKCBLKeyword {
    char* keyword;
    char** strings;
    int32_t numStrings;
    int32_t dataSize; // bytes in the text area
    TKCBLChunk* subChunk;
};

class TARVEX_API CKCBL
{
  public:
    TKCBLChunk* curChunk;
    TKCBLChunk mainChunk;
    int32_t depth = 0;
    int32_t hasData = 0;
    char floatFormat[16];
    char doubleFormat[18];
    int32_t maxLineLength = 1000000;
    int32_t restartMode = 1;

    CKCBL();
    // Copies are deep: the items and chunks are duplicated.
    CKCBL(const CKCBL& other);
    CKCBL& operator=(const CKCBL& other);
    virtual ~CKCBL();

    void Free();

    // Building. The lists end with KEND.
    int32_t NewItem(const char* keyword, ...);
    int32_t NewChunk(uint32_t type, ...);
    int32_t ReplaceItem(const char* keyword, ...);
    int32_t KillItem();

    // Values of the current item.
    char* GetKeyword();
    TKCBLKeyword* GetCurKeyword();
    int32_t GetNumStrings();
    char* GetString(int32_t i);
    int32_t GetLong(int32_t i, int32_t* out);
    int32_t GetULong(int32_t i, uint32_t* out);
    int32_t GetFloat(int32_t i, float* out);
    int32_t GetDouble(int32_t i, double* out);
    int32_t GetBool(int32_t i, int32_t* out);
    int32_t GetLongArray(int32_t i, int32_t* out, int32_t n);
    int32_t GetULongArray(int32_t i, uint32_t* out, int32_t n);
    int32_t GetFloatArray(int32_t i, float* out, int32_t n);
    int32_t GetDoubleArray(int32_t i, double* out, int32_t n);
    int32_t GetBoolArray(int32_t i, int32_t* out, int32_t n);
    int32_t GetNumArrayItems(int32_t i, int32_t* n);
    int32_t GetDataType(int32_t i);
    int32_t IsComment();
    int32_t ItemExists();
    int32_t ItemType();
    int32_t GetItem(const char* keyword, ...);

    // Navigation.
    void MainChunk();
    int32_t FirstItem();
    int32_t NextItem(int32_t deep = 0);
    int32_t EnterChunk();
    int32_t ExitChunk();
    int32_t FindItem(const char* keyword, const char* s1 = nullptr, const char* s2 = nullptr,
                     const char* s3 = nullptr);
    int32_t FindSubChunk(const char* s1 = nullptr, const char* s2 = nullptr, const char* s3 = nullptr);
    int32_t FindRawdata(const char* s1 = nullptr, const char* s2 = nullptr, const char* s3 = nullptr);
    int32_t GetRawdata(void*& data, const char* s1, const char* s2, const char* s3);
    void RestartMode(int32_t on) { restartMode = on; }

    // Text form. Import reads up to the terminating zero. Export writes at
    // most size bytes (a negative size only when counting); length receives
    // the text length without the terminator, which is written when it fits.
    int32_t Import(const char* text, int32_t length = 0);
    int32_t Export(char* buffer, int32_t size, int32_t* length, int32_t sizeOnly = 0);
    int32_t ExportSize(int32_t* length);
    int32_t Load(const char* fileName);
    int32_t Save(const char* fileName);
    void SetMaxLineLength(int32_t n);
    void SetFloatPrecision(int32_t p);
    void SetDoublePrecision(int32_t p);

  protected:
    int32_t Init();

  private:
    friend struct KcblAccess;
};
