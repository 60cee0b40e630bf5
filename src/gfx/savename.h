// The dated, numbered file names of CBitmap::Save.
#pragma once

#include <tarvex/types.h>

// "<base>YYYY-MM-DD_NN.<ext>" for the first NN in 1..101 whose file does not
// exist, base being name up to its last "." (empty without one). FALSE when
// all 101 exist or the name does not fit size bytes.
int32_t xMakeNumberedName(const char* name, const char* ext, char* out, int32_t size);
