// Strings, path strings and byte order. Path functions return new tracked
// strings that the caller releases with String_Free.
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

TARVEX_API int32_t xStrlen(const char* s);
TARVEX_API char* xStrcpy(char* dst, const char* src);
TARVEX_API char* xStrncpy(char* dst, const char* src, int32_t n);
TARVEX_API char* xStrcat(char* dst, const char* src);
TARVEX_API char* xStrncat(char* dst, const char* src, int32_t n);
TARVEX_API char* xStrchr(const char* s, char c);
TARVEX_API char* xStrrchr(const char* s, char c);
TARVEX_API int32_t xStrcmp(const char* a, const char* b);
TARVEX_API int32_t xStricmp(const char* a, const char* b);
TARVEX_API int32_t xStrncmp(const char* a, const char* b, int32_t n);
TARVEX_API int32_t xStrnicmp(const char* a, const char* b, int32_t n);
TARVEX_API char* xStrstr(const char* s, const char* sub);
TARVEX_API char* xStrpbrk(const char* s, const char* set);
TARVEX_API uint32_t xStrCntSet(const char* s, const char* set);
TARVEX_API char* xStrRemoveSet(char* s, const char* set);
// Writes src into dst with every character of set doubled, when it holds any
// and the result fits; returns dst then, else src.
TARVEX_API char* xStuffSet(char* src, char* dst, uint32_t dstSize, const char* set);
TARVEX_API void xStrcatVariableTRUEFALSE(char* dst, const char* name, int32_t value);
TARVEX_API void xStrcatVariableSTRING(char* dst, const char* name, const char* value);
TARVEX_API void xShowVersionInfo(const char* name, const char* date);
TARVEX_API void xShowVersionInfoTarvex();

// Path strings ("/" and "\" both separate).
TARVEX_API char* String_ParentDir(const char* path, int32_t mode);
TARVEX_API char* String_SubDir(const char* dir, const char* sub);
TARVEX_API char* String_FileNamePath(const char* path);
TARVEX_API char* String_FileNameFirstName(const char* path);
TARVEX_API char* String_FileName(const char* path);
TARVEX_API char* String_FileNameExtension(const char* path);
TARVEX_API char* String_MergeDirectoryAndFile(const char* dir, const char* file);
TARVEX_API char* String_FullNameWithoutExtension(const char* path);
TARVEX_API void* String_Alloc(uint32_t n);
TARVEX_API void String_Free(void* s);

// Byte order: the standard order of file and network formats is big-endian.
TARVEX_API uint32_t XULONG_FromProcToStd(uint32_t v);
TARVEX_API uint32_t XULONG_FromStdToProc(uint32_t v);
TARVEX_API uint16_t XUWORD_FromProcToStd(uint16_t v);
TARVEX_API uint16_t XUWORD_FromStdToProc(uint16_t v);
TARVEX_API float XFLOAT_FromProcToStd(float v);
TARVEX_API float XFLOAT_FromStdToProc(float v);
TARVEX_API double XDOUBLE_FromProcToStd(double v);
TARVEX_API double XDOUBLE_FromStdToProc(double v);
// 1 = big-endian processor, 2 = little-endian (tested once, kept in the globals).
TARVEX_API int32_t xProcessorByteOrder();
