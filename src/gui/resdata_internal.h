// Shared between the resource-data sources: the section walker, error
// recording with the running section, and the section readers.
#pragma once

#include <tarvex/resdata.h>

namespace tvres
{
const SResScreenHooks& ScreenHooks();
// Copies a name of at most XRES_NAME_MAX characters; false when longer or null.
bool CopyName(char (&dst)[XRES_NAME_MAX + 1], const char* src);
// Calls step on every non-comment item of every section with that name, in
// file order; a step that returns false ends its section. Returns how
// many sections were found.
int32_t ForEachItem(CResData& r, const char* section, bool (*step)(CResData&, void*), void* ctx);
// Record a message (FailLower: with what the failing lower call recorded);
// both return false.
bool Fail(CResData& r, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool FailLower(CResData& r, const char* format, ...) __attribute__((format(printf, 2, 3)));

void SetupPalette(CResData& r);
void SetupFonts(CResData& r);
void SetupBitmaps(CResData& r);
void SetupAnims(CResData& r);
void SetupColors(CResData& r);
void SetupDefaults(CResData& r);
} // namespace tvres
