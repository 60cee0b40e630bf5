// Fuzz target: the JPEG decoder on arbitrary bytes, read through a CFile
// over the input (scrambled input is detected the way the picture type does).
#include "gfx/jpegdec.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <vector>

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
        CFile f;
        f.handle = fmemopen(const_cast<uint8_t*>(data), size, "rb");
        if (f.handle != nullptr) {
            int32_t scrambled = xIsFileCrypt(&f);
            CJpegDecoder dec;
            if (dec.ReadHeader(&f, scrambled)) {
                int32_t pitch = (3 * dec.Width() + 3) & ~3;
                std::vector<uint8_t> px(static_cast<size_t>(pitch) * dec.Height());
                SJpegImage out{dec.Width(), dec.Height(), px.data(), pitch};
                dec.Decode(out);
            }
        }
    }
    xFreeGlobals();
    glb = nullptr;
    sglb = nullptr;
    return 0;
}
