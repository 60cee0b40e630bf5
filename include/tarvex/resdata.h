// Resource data: a KCBL text (a plain "; script" file or a "PRES" file with
// the text LZSS-packed) describing an application's ids, strings, values,
// palette, fonts, bitmaps, animations, colours, the GUI's default look,
// window descriptions and a free data section. Loading turns the media
// sections into look-up lists and removes them from the container; the
// windows, fonts, defaults and data sections stay for the dialogs and the
// application. Every problem met while setting up is recorded, with its
// section, in a list the caller can read (the packer's check prints it),
// and the set-up goes on with the next section.
//
// Nothing here needs a screen: bitmaps and the palette go to the current
// screen through two hooks, which by default leave the pictures as loaded
// while there is no screen with a mode (tools, tests). The GUI root, when
// one exists, takes the default look through LendDefaults.
#pragma once

#include <tarvex/export.h>

#include <tarvex/font.h>
#include <tarvex/guilook.h>
#include <tarvex/kcbl.h>

constexpr int32_t XRES_NAME_MAX = 31;  // longest define, bitmap, font or colour name
constexpr int32_t XRES_FILE_MAX = 259; // longest bitmap file name

struct TARVEX_API TResDefine {
    int32_t id;
    char name[XRES_NAME_MAX + 1];
};
struct TARVEX_API TResString {
    int32_t id;
    char name[XRES_NAME_MAX + 1];
    char* text; // owned
};
struct TARVEX_API TResValue {
    int32_t id;
    char name[XRES_NAME_MAX + 1];
    int32_t value;
};
struct TARVEX_API TResFont {
    char name[XRES_NAME_MAX + 1];
    CFont* font; // owned
};
struct TARVEX_API TResBitmap {
    char name[XRES_NAME_MAX + 1];
    char fileName[XRES_FILE_MAX + 1];
    CBitmap* bitmap; // owned
};
struct TARVEX_API TResAnim {
    char name[XRES_NAME_MAX + 1];
    TCntrlAnim* anim; // owned
};
struct TARVEX_API TResColor {
    char name[XRES_NAME_MAX + 1];
    int32_t count;
    TRGBA* colors; // owned, count entries
};
struct TARVEX_API TResCntrlColor {
    char name[XRES_NAME_MAX + 1];
    TCntrlColor* set; // owned
};
// One problem met while setting up: the section it belongs to ("Load" for
// the file itself) and the message as recorded on the error object.
struct TARVEX_API TResError {
    char section[16];
    char* text; // owned
};

// The default look read from the "Defaults" section. Every pointer is
// borrowed from the resource data's own lists; null where the section did
// not set it.
struct TARVEX_API TResDefaults {
    CFont* font;
    CBitmap* caret;
    CBitmap* check;
    CBitmap* close[4];
    CBitmap* drop[4];
    CBitmap* arrowUp[4];
    CBitmap* arrowDown[4];
    TCntrlColor* titlebar[4];
    TCntrlColor* frame[4];
    TCntrlColor* button[4];
    TCntrlColor* statics[4];
};

// Called when the resource data that lent its defaults is freed: the
// borrower must drop every pointer it took from them.
using XResLoanEnd = void (*)(void* borrower, const TResDefaults* defaults);

// Screen hooks: setPalette receives the palette of the "Palette" section;
// makeScreenBitmap brings a bitmap into the screen's format (FALSE: kept as
// it is, reported). A null member does nothing; xSetResScreenHooks(nullptr)
// puts back the defaults, which use the current screen when there is one.
struct TARVEX_API SResScreenHooks {
    int32_t (*setPalette)(CPalette* palette);
    int32_t (*makeScreenBitmap)(CBitmap* bitmap, int32_t keep);
};
TARVEX_API void xSetResScreenHooks(const SResScreenHooks* hooks);

// The packed form: "PRES", the packed length, the text length (both 32-bit
// little-endian), then the LZSS-packed text. xPackRes makes a whole file
// image of text (length bytes, no zero byte) as a new tracked block of
// *fileSize bytes. xUnpackRes expands packed bytes of untrusted origin into
// a new zero-terminated tracked block of *length text bytes; null when the
// stream is cut short or the text holds a zero byte (*outOfMemory tells an
// allocation failure apart). Both record their failures on the error object.
TARVEX_API char* xPackRes(const char* text, uint32_t length, uint32_t* fileSize);
TARVEX_API char* xUnpackRes(const char* packed, uint32_t packedSize, uint32_t* length, int32_t* outOfMemory);

class TARVEX_API CResData : public CKCBL
{
  public:
    CLList defines;              // TResDefine*
    CLList strings;              // TResString*
    CLList fonts;                // TResFont*
    CLList bitmaps;              // TResBitmap*
    CLList anims;                // TResAnim*
    CLList values;               // TResValue*
    CLList colors;               // TResColor*
    CLList cntrlColors;          // TResCntrlColor*
    CLList errors;               // TResError*, in the order met
    CLList loans;                // borrowers of the defaults
    CPalette* palette = nullptr; // the last "Palette" picture's palette, owned
    TResDefaults defaults{};
    int32_t hasDefaults = 0; // a "Defaults" section was read

    CResData() = default;
    // Copies take the container only; the look-up lists start empty.
    CResData(const CResData& other);
    CResData& operator=(const CResData& other);
    ~CResData() override;

    // A "; script" or "PRES" file; Import takes KCBL text from memory. Both
    // replace what was loaded before and set up every section.
    int32_t Load(const char* file);
    int32_t Import(const char* text);
    void Free();

    // Look-ups by id and name.
    const char* GetResName(int32_t id);
    const char* GetResString(int32_t id);
    const char* GetResString(int32_t id, const char* fallback);
    int32_t GetResValue(int32_t id);
    int32_t GetResId(const char* name, int32_t* id);
    CFont* GetFont(const char* name);
    CBitmap* GetBm(const char* name);
    TCntrlAnim* GetAnim(const char* name);
    int32_t GetCol(const char* name, TRGBA* out, int32_t entry);
    TCntrlColor* GetCntrlColor(const char* name);

    // Look-ups through value i of the current item (window descriptions).
    CFont* GetFont(int32_t i);
    CBitmap* GetBitmap(int32_t i);
    TCntrlAnim* GetAnim(int32_t i);
    int32_t GetResFlags(int32_t i, int32_t* flags);
    int32_t GetHotkey(int32_t i, int16_t* key);
    int32_t GetColor(int32_t i, TRGBA* out, int32_t entry);
    TCntrlColor* GetCntrlColor(int32_t i);

    // The same parsers on a text.
    int32_t ParseFlags(const char* text, int32_t* flags);
    int32_t ParseHotkey(const char* text, int16_t* key);
    int32_t ParseColor(const char* text, TRGBA* out, int32_t entry);

    // The free "Data" section.
    int32_t EnterDataChunk();
    void ExitDataChunk();

    // The GUI root takes the default look here (null when the resource has
    // no "Defaults" section); onEnd is called for each borrower when this
    // resource data is freed. EndLoan forgets a borrower that let go itself.
    const TResDefaults* LendDefaults(void* borrower, XResLoanEnd onEnd);
    void EndLoan(void* borrower);

    // Problems recorded by the last Load or Import.
    int32_t GetNumErrors() { return errors.GetNumNodes(); }

    // Records a problem on the error object and in the error list under the
    // section being set up; NoteLower adds, in the list only, what the
    // failing lower call recorded. Both return FALSE.
    int32_t Note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int32_t NoteLower(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void SetSection(const char* section) { m_section = section; }

  private:
    const char* m_section = "Load";
    int32_t Setup();
    void ClearLists();
};
