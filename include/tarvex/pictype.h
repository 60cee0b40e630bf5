// Picture file types: each CPicType reads (and maybe writes) one file
// format to and from a CBitmap. Types register themselves in the globals'
// CPicTypeList when constructed; CBitmap::Load/Save pick the type that
// claims a file name by its extension.
#pragma once

#include <tarvex/export.h>

#include <tarvex/bitmap.h>
#include <tarvex/file.h>
#include <tarvex/llist.h>

class TARVEX_API CPicType
{
  public:
    CPicType() = default;
    CPicType(const CPicType&) = delete;
    CPicType& operator=(const CPicType&) = delete;

    virtual int32_t Load(CFile* file, CBitmapBase* bitmap, void* param) = 0;
    virtual int32_t Load(const char* fileName, CBitmapBase* bitmap, void* param) = 0;
    virtual int32_t Save(CFile* file, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags) = 0;
    virtual int32_t Save(const char* fileName, CBitmapBase* bitmap, void* param, CRect* area,
                         int32_t flags) = 0;
    // TRUE when extension equals the type's own, ignoring case.
    virtual int32_t IsType(const char* fileName, const char* extension);
    // Either pointer may be null.
    virtual int32_t GetDesc(const char** extension, const char** description) = 0;
    // Stores text (not copied: a literal or text that outlives the type) and
    // returns result.
    virtual int32_t SetError(const char* text, int32_t result);
    // The last failure's text; null when that failure went to the globals'
    // error instead.
    virtual const char* GetError();
    virtual ~CPicType() = default;

  protected:
    const char* errorText = nullptr;
};

// The registered picture types in registration order; borrows them.
class TARVEX_API CPicTypeList : public CLList
{
  public:
    CPicTypeList() = default;
    CPicTypeList(const CPicTypeList&) = delete;
    CPicTypeList& operator=(const CPicTypeList&) = delete;
    ~CPicTypeList();

    int32_t Register(CPicType* type);
    int32_t Unregister(CPicType* type);
    int32_t UnregisterAll();
    int32_t First();
    int32_t Next();
    int32_t Exists() const;
    int32_t NumTypes() const;
    // The first type claiming the text after the name's last "."; null
    // without a "." or when none claims it.
    CPicType* GetType(const char* fileName);
    // Extension and description of the type at the cursor (null past the end).
    CPicType* GetDesc(const char** extension, const char** description);
};

// Windows bitmaps: 8-bit (palette, uncompressed or run-length), 16-bit
// (5-5-5), 24- and 32-bit uncompressed. Saves 8-bit indexed and 24-bit.
class TARVEX_API CBMPPic : public CPicType
{
  public:
    CBMPPic();
    ~CBMPPic() override;

    int32_t Load(CFile* file, CBitmapBase* bitmap, void* param) override;
    int32_t Load(const char* fileName, CBitmapBase* bitmap, void* param) override;
    int32_t Save(CFile* file, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags) override;
    int32_t Save(const char* fileName, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags) override;
    int32_t GetDesc(const char** extension, const char** description) override;

    int32_t scrambled = FALSE; // the file being loaded is scrambled
};

// Baseline JPEG (JFIF) reader; no writer.
class TARVEX_API CJPGPic : public CPicType
{
  public:
    CJPGPic();
    ~CJPGPic() override;

    int32_t Load(CFile* file, CBitmapBase* bitmap, void* param) override;
    int32_t Load(const char* fileName, CBitmapBase* bitmap, void* param) override;
    int32_t Save(CFile* file, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags) override;
    int32_t Save(const char* fileName, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags) override;
    int32_t GetDesc(const char** extension, const char** description) override;

    int32_t scrambled = FALSE; // the file being loaded is scrambled
};
