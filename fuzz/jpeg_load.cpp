// Fuzz target: the JPEG picture type on arbitrary bytes, read through a CFile
// over the input (scrambled input is detected by the type) into a CBitmap.
#include <tarvex/tarvex.h>

#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals())
        return 0;
    {
        CJPGPic type;
        CBitmap bm;
        CFile f;
        f.handle = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (f.handle != nullptr)
            type.Load(&f, &bm, nullptr);
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
