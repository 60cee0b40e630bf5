// Error objects, the error table, the reporting functions and the debug
// switches (level mask, debug files, options file).
#include <tarvex/error.h>
#include <tarvex/file.h>
#include <tarvex/frame.h>
#include <tarvex/strings.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

constexpr const char* kTable[] = {
    "No error",
    "Function not implemented yet!",
    "Undefined error",
    "System specific error",
    "Unable to open file",
    "End of file reached",
    "Read error",
    "Write error",
    "Seek error",
    "Unable to get the position in the file",
    "File is read only",
    "Unable to delete file",
    "File or path not found",
    "Unable to rename file/dir",
    "Out of memory",
    "Memory entry not found",
    "The overflow bytes have been changed!",
    "Unable to start the sound system",
    "Specified output format not supported",
    "Audio device is already in use",
    "Not a wave file",
    "Unable to find the specified sample name",
    "Invalid channel",
    "Unable to play the sound(s)!",
    "Unknown/unsupported picture format",
};
static_assert(sizeof(kTable) / sizeof(kTable[0]) == XERR_LAST + 1);

// Longest formatted error text kept; longer ones are replaced.
constexpr int kMaxErrorText = 1948;
constexpr const char* kCriticalText =
    "CRITICAL ERROR: The real error msg is to big. Please notify the development "
    "team about this as soon as possible";

// Formatting buffer when there is no globals record.
char g_fallbackBuffer[XERRORBUF_SIZE];

int32_t FormatInto(CErrorBase& e, const char* format, va_list args)
{
    char* buf = glb != nullptr ? glb->errorBuffer : g_fallbackBuffer;
    int n = std::vsnprintf(buf, XERRORBUF_SIZE, format, args);
    e.code = XERR_TEXT;
    e.text = (n < 0 || n > kMaxErrorText) ? kCriticalText : buf;
    e.file = nullptr;
    e.line = 0;
    return 0;
}

void AppendToFile(const char* name, const char* text)
{
    FILE* f = std::fopen(name, "ab");
    if (f == nullptr)
        return;
    std::fputs(text, f);
    std::fclose(f);
    std::fputs(text, stdout);
    std::fflush(stdout);
}

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

} // namespace

const char* xErrorTableText(int32_t code)
{
    if (code >= 0 && code <= XERR_LAST)
        return kTable[code];
    return "Unknown error code!";
}

// ---------------------------------------------------------------- CErrorBase

int32_t CErrorBase::SetError(int32_t c, int32_t sys, int32_t retVal, const char* f, int32_t l)
{
    code = c;
    sysCode = sys;
    file = f != nullptr ? f : "Unknown file";
    line = l;
    return retVal;
}

int32_t CErrorBase::SetErrorTxt(const char* t, int32_t retVal, const char* f, int32_t l)
{
    code = XERR_TEXT;
    text = t != nullptr ? t : "Undefined error";
    file = f != nullptr ? f : "Unknown file";
    line = l;
    return retVal;
}

int32_t CErrorBase::SetErrorf(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatInto(*this, format, args);
    va_end(args);
    return 0;
}

const char* CErrorBase::GetError(int32_t* c)
{
    if (c != nullptr)
        *c = code;
    if (code == XERR_TEXT)
        return text != nullptr ? text : "Undefined error";
    return xErrorTableText(code);
}

void CErrorBase::GetFileAndLine(const char** f, int32_t* l) const
{
    if (f != nullptr)
        *f = file;
    if (l != nullptr)
        *l = line;
}

int32_t CErrorBase::Clear()
{
    code = 0;
    sysCode = 0;
    file = "";
    line = -1;
    return TRUE;
}

int32_t CErrorBase::CreateErrorString(char* buffer, int32_t size)
{
    if (code == 0)
        return FALSE;
    if (buffer == nullptr || size <= 0)
        return TRUE;
    const char* f = file != nullptr ? file : "";
    long l = line;
    int32_t sys = GetSysSpecErrCode();
    bool debug = glb != nullptr && glb->debugFlag != 0;
    const char* msg = GetError(nullptr);
    unsigned long c = static_cast<uint32_t>(code);
    auto n = static_cast<size_t>(size);
    if (sys == 0) {
        if (file != nullptr && debug) {
            if (code == XERR_TEXT)
                std::snprintf(buffer, n, "Error in : %s\nOn line : %ld\n\n%s", f, l, msg);
            else
                std::snprintf(buffer, n, "Error in : %s\nOn line : %ld\n\nError code 0x%lx :\n%s", f, l, c,
                              msg);
        } else if (code == XERR_TEXT) {
            std::snprintf(buffer, n, "%s", msg);
        } else {
            std::snprintf(buffer, n, "Error code 0x%lx :\n%s", c, msg);
        }
        return TRUE;
    }
    const char* sysText = GetSysSpecError(nullptr);
    if (sysText == nullptr)
        sysText = "";
    if (!debug)
        std::snprintf(buffer, n, "Error code 0x%lx :\n%s\n\nSystem specific error (%ld):\n%s", c, msg,
                      static_cast<long>(sys), sysText);
    else
        std::snprintf(
            buffer, n,
            "Error in : %s\nOn line : %ld\n\nError code 0x%lx :\n%s\n\nSystem specific error (%ld):\n%s", f,
            l, c, msg, static_cast<long>(sys), sysText);
    return TRUE;
}

// ---------------------------------------------------------------- free functions

int32_t xError_Func(int32_t code, const char* file, int32_t line)
{
    if (glb == nullptr)
        return FALSE;
    return glb->error.SetError(code, 0, FALSE, file, line);
}

int32_t xErrorTxt_Func(const char* text, const char* file, int32_t line)
{
    if (glb == nullptr)
        return FALSE;
    return glb->error.SetErrorTxt(text, FALSE, file, line);
}

int32_t xErrorf(const char* format, ...)
{
    if (glb == nullptr)
        return FALSE;
    va_list args;
    va_start(args, format);
    FormatInto(glb->error, format, args);
    va_end(args);
    return FALSE;
}

char* xErrorMerge(const char* a, const char* b)
{
    if (a == nullptr)
        a = "";
    if (b == nullptr)
        b = "";
    size_t n = std::strlen(a) + std::strlen(b) + 4;
    auto* s = static_cast<char*>(XALLOC(n));
    if (s != nullptr)
        std::snprintf(s, n, "[%s] %s", a, b);
    return s;
}

namespace
{
XDebugOutFunc g_traceOut = nullptr;
}

void xSetDprintfOutput(void (*func)(char*)) { g_traceOut = func; }

void dprintf(const char* format, ...)
{
    if (g_traceOut == nullptr || format == nullptr)
        return;
    char text[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_traceOut(text);
}

void xStartStdDebug(int32_t on)
{
    if (glb == nullptr)
        return;
    glb->debugFlag = on;
    if (on == 1 && xFileExists("DbgStd.txt"))
        std::remove("DbgStd.txt");
}

void xSetDbgStdOut(XDebugOutFunc func)
{
    if (glb == nullptr)
        return;
    glb->dbgStdOut = func;
    if (xFileExists("DbgLevel.txt"))
        std::remove("DbgLevel.txt");
}

void xSetDbgLvlOut(XDebugOutFunc func)
{
    if (glb != nullptr)
        glb->dbgLvlOut = func;
}

void xSetDebugLevel(int32_t mask)
{
    if (glb != nullptr)
        glb->debugLevel = mask;
}

int32_t xGetDebugLevel(int32_t mask)
{
    if (glb == nullptr)
        return FALSE;
    return (glb->debugLevel & mask) != 0 ? TRUE : FALSE;
}

void xDefaultDbgStdOut(char* text) { AppendToFile("DbgStd.txt", text); }
void xDefaultDbgLvlOut(char* text) { AppendToFile("DbgLevel.txt", text); }

void xGetDebugOptions(const char* fileName, void (*callback)(char* key, char* value))
{
    if (fileName == nullptr)
        return;
    FILE* f = std::fopen(fileName, "rb");
    if (f == nullptr)
        return;
    char line[100];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        size_t len = std::strlen(line);
        if (len < 3)
            continue;
        char* eq = std::strrchr(line, '=');
        if (eq == nullptr)
            continue;
        // Key: first to last letter or digit before the '='.
        char* ks = line;
        while (ks < eq && !IsAlnum(*ks))
            ++ks;
        char* ke = eq;
        while (ke > ks && !IsAlnum(ke[-1]))
            --ke;
        // Value: first to last letter or digit after it.
        char* vs = eq + 1;
        char* end = line + len;
        while (vs < end && !IsAlnum(*vs))
            ++vs;
        char* ve = end;
        while (ve > vs && !IsAlnum(ve[-1]))
            --ve;
        if (ke <= ks || ve <= vs)
            continue;
        char key[100], value[100];
        std::memcpy(key, ks, static_cast<size_t>(ke - ks));
        key[ke - ks] = 0;
        std::memcpy(value, vs, static_cast<size_t>(ve - vs));
        value[ve - vs] = 0;

        if (xStricmp(key, "validate") == 0) {
            if (glb != nullptr)
                glb->validate = xStricmp(value, "on") == 0 ? 0 : 1;
        } else if (xStricmp(key, "debugscreen") == 0) {
            if (glb != nullptr)
                glb->debugScreen = xStricmp(value, "on") == 0 ? 1 : 0;
        } else if (xStricmp(key, "debugflag") == 0) {
            xStartStdDebug(xStricmp(value, "on") == 0 ? 1 : 0);
        } else if (xStricmp(key, "debuglevel") == 0) {
            static constexpr struct {
                const char* name;
                int32_t level;
            } kLevels[] = {{"DBGL_NONE", DBGL_NONE},
                           {"DBGL_MEMORY", DBGL_MEMORY},
                           {"DBGL_RESDATA", DBGL_RESDATA},
                           {"DBGL_KCBL", DBGL_KCBL},
                           {"DBGL_ALL", DBGL_ALL}};
            for (const auto& lv : kLevels)
                if (xStricmp(value, lv.name) == 0)
                    xSetDebugLevel(lv.level);
        } else if (callback != nullptr) {
            callback(key, value);
        }
    }
    std::fclose(f);
}
