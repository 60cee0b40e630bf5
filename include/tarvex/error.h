// Errors and debug output. A failing operation records what went wrong in an
// error object and returns 0; the globals embed the library-wide last error,
// written by xError_Func / xErrorTxt_Func. Beside them: the debug level mask,
// the two debug text files and the debug options file.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

// Error table codes.
enum : int32_t {
    XERR_TEXT = -1,
    XERR_NONE = 0,
    XERR_NOT_IMPLEMENTED = 1,
    XERR_UNDEFINED = 2,
    XERR_SYSTEM = 3,
    XERR_OPEN = 4,
    XERR_EOF = 5,
    XERR_READ = 6,
    XERR_WRITE = 7,
    XERR_SEEK = 8,
    XERR_GETPOS = 9,
    XERR_READONLY = 10,
    XERR_DELETE = 11,
    XERR_NOT_FOUND = 12,
    XERR_RENAME = 13,
    XERR_OUT_OF_MEMORY = 14,
    XERR_MEM_NOT_FOUND = 15,
    XERR_OVERFLOW = 16,
    XERR_SOUND_START = 17,
    XERR_FORMAT = 18,
    XERR_DEVICE_IN_USE = 19,
    XERR_NOT_WAVE = 20,
    XERR_SAMPLE_NAME = 21,
    XERR_CHANNEL = 22,
    XERR_PLAY = 23,
    XERR_PICTURE_FORMAT = 24,
    XERR_LAST = 24,
};

// Debug level bits.
enum : int32_t {
    DBGL_NONE = 0,
    DBGL_MEMORY = 1,
    DBGL_RESDATA = 2,
    DBGL_KCBL = 4,
    DBGL_ALL = -1,
};

class TARVEX_API CErrorBase
{
  public:
    int32_t code = 0;           // 0 none, 1..24 table codes, -1 free text
    int32_t sysCode = 0;        // system-specific code, 0 none
    const char* text = nullptr; // the free text when code is -1 (not owned)
    const char* file = nullptr; // source file of the error (not owned)
    int32_t line = 0;

    CErrorBase() = default;
    CErrorBase(const CErrorBase&) = default;
    CErrorBase& operator=(const CErrorBase&) = default;
    virtual ~CErrorBase() = default;

    virtual const char* GetSysSpecError(int32_t* sysCode) = 0;
    virtual int32_t GetSysSpecErrCode() = 0;

    int32_t SetError(int32_t code, int32_t sysCode, int32_t retVal, const char* file, int32_t line);
    int32_t SetErrorTxt(const char* text, int32_t retVal, const char* file, int32_t line);
    // Formats into the globals' error buffer; always returns 0.
    int32_t SetErrorf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    const char* GetError(int32_t* code = nullptr);
    int32_t GetErrCode() const { return code; }
    void GetFileAndLine(const char** file, int32_t* line) const;
    int32_t Clear();
    // Writes a readable report of the error into buffer (at most size bytes
    // with the terminator). FALSE when there is no error.
    int32_t CreateErrorString(char* buffer, int32_t size);
};

class TARVEX_API CError : public CErrorBase
{
  public:
    CError() = default;
    CError(const CError&) = default;
    CError& operator=(const CError&) = default;
    const char* GetSysSpecError(int32_t* sysCode) override;
    int32_t GetSysSpecErrCode() override { return sysCode; }
};

// The texts of the error table; "Unknown error code!" outside 0..24.
TARVEX_API const char* xErrorTableText(int32_t code);

// Record into the globals' error; both return FALSE.
TARVEX_API int32_t xError_Func(int32_t code, const char* file, int32_t line);
TARVEX_API int32_t xErrorTxt_Func(const char* text, const char* file, int32_t line);
// SetErrorf on the globals' error (FALSE; also without globals).
TARVEX_API int32_t xErrorf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "[a] b" as a new tracked string; the caller releases it with xFreeMem.
TARVEX_API char* xErrorMerge(const char* a, const char* b);

// The debug trace channel: discards its text unless an output is set (the
// tracker's leak list, for one, is written through it).
TARVEX_API void dprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
TARVEX_API void xSetDprintfOutput(void (*func)(char*));

using XDebugOutFunc = void (*)(char*);
TARVEX_API void xStartStdDebug(int32_t on);
TARVEX_API void xSetDbgStdOut(XDebugOutFunc func);
TARVEX_API void xSetDbgLvlOut(XDebugOutFunc func);
TARVEX_API void xSetDebugLevel(int32_t mask);
TARVEX_API int32_t xGetDebugLevel(int32_t mask);
TARVEX_API void xGetDebugOptions(const char* fileName, void (*callback)(char* key, char* value));
// The default output callbacks: append to "DbgStd.txt" / "DbgLevel.txt" and
// echo to standard output.
TARVEX_API void xDefaultDbgStdOut(char* text);
TARVEX_API void xDefaultDbgLvlOut(char* text);
