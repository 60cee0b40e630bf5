// Strings, path strings and byte order. Path functions return new tracked
// strings that the caller releases with String_Free.
#pragma once

#include <tarvex/types.h>

int32_t xStrlen(const char* s);
char* xStrcpy(char* dst, const char* src);
char* xStrncpy(char* dst, const char* src, int32_t n);
char* xStrcat(char* dst, const char* src);
char* xStrncat(char* dst, const char* src, int32_t n);
char* xStrchr(const char* s, char c);
char* xStrrchr(const char* s, char c);
int32_t xStrcmp(const char* a, const char* b);
int32_t xStricmp(const char* a, const char* b);
int32_t xStrncmp(const char* a, const char* b, int32_t n);
int32_t xStrnicmp(const char* a, const char* b, int32_t n);
char* xStrstr(const char* s, const char* sub);
char* xStrpbrk(const char* s, const char* set);
uint32_t xStrCntSet(const char* s, const char* set);
char* xStrRemoveSet(char* s, const char* set);
// Writes src into dst with every character of set doubled, when it holds any
// and the result fits; returns dst then, else src.
char* xStuffSet(char* src, char* dst, uint32_t dstSize, const char* set);
void xStrcatVariableTRUEFALSE(char* dst, const char* name, int32_t value);
void xStrcatVariableSTRING(char* dst, const char* name, const char* value);
void xShowVersionInfo(const char* name, const char* date);
void xShowVersionInfoTarvex();

// Path strings ("/" and "\" both separate).
char* String_ParentDir(const char* path, int32_t mode);
char* String_SubDir(const char* dir, const char* sub);
char* String_FileNamePath(const char* path);
char* String_FileNameFirstName(const char* path);
char* String_FileName(const char* path);
char* String_FileNameExtension(const char* path);
char* String_MergeDirectoryAndFile(const char* dir, const char* file);
char* String_FullNameWithoutExtension(const char* path);
void* String_Alloc(uint32_t n);
void String_Free(void* s);

// Byte order: the standard order of file and network formats is big-endian.
uint32_t XULONG_FromProcToStd(uint32_t v);
uint32_t XULONG_FromStdToProc(uint32_t v);
uint16_t XUWORD_FromProcToStd(uint16_t v);
uint16_t XUWORD_FromStdToProc(uint16_t v);
float XFLOAT_FromProcToStd(float v);
float XFLOAT_FromStdToProc(float v);
double XDOUBLE_FromProcToStd(double v);
double XDOUBLE_FromStdToProc(double v);
// 1 = big-endian processor, 2 = little-endian (tested once, kept in the globals).
int32_t xProcessorByteOrder();
