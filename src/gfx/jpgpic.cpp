// The JPEG picture type: opens the file and hands it to CJpegDecoder, which
// decodes straight into a 24-bit (blue, green, red) bitmap. No writer.
#include "gfx/jpegdec.h"

#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/pictype.h>

CJPGPic::CJPGPic()
{
    SetError("JPG - No error", TRUE);
    if (glb != nullptr && glb->picTypes != nullptr)
        glb->picTypes->Register(this);
}

CJPGPic::~CJPGPic()
{
    if (glb != nullptr && glb->picTypes != nullptr)
        glb->picTypes->Unregister(this);
}

int32_t CJPGPic::Load(CFile* file, CBitmapBase* bitmap, void*)
{
    auto* bm = dynamic_cast<CBitmap*>(bitmap);
    if (file == nullptr || bm == nullptr)
        return SetError(JPGERR_OUTPUT, FALSE);
    scrambled = xIsFileCrypt(file);
    CJpegDecoder dec;
    // A null text means the failure is in the globals' error already.
    if (!dec.ReadHeader(file, scrambled))
        return SetError(dec.GetError(), FALSE);
    int32_t w = dec.Width(), h = dec.Height();
    bm->Free();
    if (!bm->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0))
        return SetError(JPGERR_MEMORY, FALSE);
    SJpegImage out{w, h, bm->data, bm->pitch};
    if (!dec.Decode(out)) {
        // A partly decoded picture is not kept.
        bm->Free();
        return SetError(dec.GetError(), FALSE);
    }
    return TRUE;
}

int32_t CJPGPic::Load(const char* fileName, CBitmapBase* bitmap, void* param)
{
    CFile file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_READ | XFILE_BIG_ENDIAN)) {
        xErrorf("JPG - Unable to open \"%s\"", fileName != nullptr ? fileName : "");
        return SetError(nullptr, FALSE);
    }
    int32_t rc = Load(&file, bitmap, param);
    file.Close();
    return rc;
}

int32_t CJPGPic::Save(CFile*, CBitmapBase*, void*, CRect*, int32_t)
{
    return SetError("JPG - Save function not yet implemented", FALSE);
}

int32_t CJPGPic::Save(const char*, CBitmapBase*, void*, CRect*, int32_t)
{
    return SetError("JPG - Save function not yet implemented", FALSE);
}

int32_t CJPGPic::GetDesc(const char** extension, const char** description)
{
    if (extension != nullptr)
        *extension = "jpg";
    if (description != nullptr)
        *description = "JPEG";
    return TRUE;
}
