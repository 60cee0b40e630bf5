// The Windows bitmap picture type. Loads 8-bit (palette; uncompressed or
// run-length), 16-bit 5-5-5, 24- and 32-bit files, bottom-up or top-down,
// scrambled or plain; saves 8-bit indexed and 24-bit files. The file is read
// through a small buffer that also unscrambles, and every size in the
// headers is checked against the file before anything is allocated.
#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>
#include <tarvex/pictype.h>

#include <algorithm>
#include <cstring>

namespace
{
const char* const kErrHeader = "BMP - Failed to read file header";
const char* const kErrNotBmp = "BMP - Not a (windows) bitmap file";
const char* const kErrCore = "BMP - Unsupported bitmap file format. (BITMAPCOREHEADER)";
const char* const kErrFormat = "BMP - Unsupported bitmap file format.";
const char* const kErrColors = "BMP - Unsupported number of colors (<256)";
const char* const kErrCompressed = "BMP - There is no support for compressed bitmaps which aren't 8bit";
const char* const kErrBits = "BMP - Unsupported number of bits per pixel";
const char* const kErrSize = "BMP - Invalid image size";
const char* const kErrFileSize = "BMP - Image size does not fit the file size";
const char* const kErrColorTable = "BMP - Failed to read colortable";
const char* const kErrMemory = "Out of memory";
const char* const kErrRead = "Error reading file";
const char* const kErrWriteHeader = "BMP - Failed to write the file header";
const char* const kErrWriteData = "BMP - Failed to write the pixel data";
const char* const kErrFeature = "BMP - Feature isnt implemented yet";
const char* const kErrArea = "BMP - The area lies outside the bitmap";

constexpr uint32_t kFileHeader = 14;
constexpr uint32_t kInfoHeader = 40;
constexpr uint32_t kScrambleMarker = 13; // "XICRYPTEDFILE" after scrambled data
constexpr int32_t kMaxSide = 65535;
// A run-length file may describe many pixels per byte (runs of 255,
// deltas); beyond this many per byte of pixel data it is refused.
constexpr int64_t kMaxRlePixelsPerByte = 16384;
constexpr int64_t kMinRlePixels = 1 << 22;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void Put16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

void LoadDataCallback()
{
    if (glb != nullptr && glb->loadDataCallback != nullptr)
        glb->loadDataCallback();
}

// Buffered, unscrambling reader over a CFile, positions relative to the
// file's start; never reads past the data size.
class CReader
{
  public:
    CReader(CFile* file, bool scrambled, uint32_t size) : m_file(file), m_scrambled(scrambled), m_size(size)
    {
    }

    uint32_t Size() const { return m_size; }
    uint32_t Pos() const { return m_end - (m_len - m_pos); }

    bool Read(void* dst, uint32_t n)
    {
        auto* out = static_cast<uint8_t*>(dst);
        while (n > 0) {
            if (m_pos == m_len && !Fill())
                return false;
            uint32_t take = std::min(n, m_len - m_pos);
            std::memcpy(out, m_buf + m_pos, take);
            m_pos += take;
            out += take;
            n -= take;
        }
        return true;
    }

    bool SeekTo(uint32_t pos)
    {
        if (pos > m_size)
            return false;
        uint32_t start = m_end - m_len;
        if (pos >= start && pos <= m_end) {
            m_pos = pos - start;
            return true;
        }
        if (!m_file->Seek(static_cast<int32_t>(pos), XSEEK_SET))
            return false;
        m_end = pos;
        m_pos = m_len = 0;
        return true;
    }

    bool Skip(uint32_t n) { return n <= m_size - Pos() && SeekTo(Pos() + n); }

  private:
    bool Fill()
    {
        uint32_t n = std::min<uint32_t>(sizeof m_buf, m_size - m_end);
        if (n == 0 || !m_file->Read(m_buf, n))
            return false;
        if (m_scrambled)
            xDecrypt(m_buf, n);
        m_end += n;
        m_pos = 0;
        m_len = n;
        return true;
    }

    CFile* m_file;
    bool m_scrambled;
    uint32_t m_size;
    uint32_t m_end = 0; // file position just past the buffered bytes
    uint32_t m_pos = 0;
    uint32_t m_len = 0;
    uint8_t m_buf[8192];
};

// Run-length 8-bit pixel data into a bottom-up image; runs and deltas that
// leave the image are clipped.
bool ReadRle8(CReader& in, CBitmap* bm)
{
    int32_t w = bm->width, h = bm->height;
    int32_t x = 0, y = 0; // y counts rows from the bottom
    uint8_t literal[256];
    while (y < h) {
        uint8_t pair[2];
        if (!in.Read(pair, 2))
            return false;
        uint8_t* row = bm->data + static_cast<ptrdiff_t>(h - 1 - y) * bm->pitch;
        if (pair[0] > 0) {
            int32_t n = std::min<int32_t>(pair[0], w - x);
            if (n > 0)
                std::memset(row + x, pair[1], static_cast<size_t>(n));
            x = std::min<int32_t>(x + pair[0], w);
            continue;
        }
        int32_t oldY = y;
        if (pair[1] == 0) { // end of row
            x = 0;
            ++y;
        } else if (pair[1] == 1) { // end of picture
            break;
        } else if (pair[1] == 2) { // delta: right, up
            uint8_t d[2];
            if (!in.Read(d, 2))
                return false;
            x = std::min<int32_t>(x + d[0], w);
            y += d[1];
        } else { // absolute run, padded to a whole word
            uint32_t n = pair[1];
            if (!in.Read(literal, n + (n & 1)))
                return false;
            int32_t copy = std::min<int32_t>(static_cast<int32_t>(n), w - x);
            if (copy > 0)
                std::memcpy(row + x, literal, static_cast<size_t>(copy));
            x = std::min<int32_t>(x + static_cast<int32_t>(n), w);
        }
        if (y / 32 != oldY / 32)
            LoadDataCallback();
    }
    return true;
}
} // namespace

CBMPPic::CBMPPic()
{
    SetError("BMP - No error", TRUE);
    if (glb != nullptr && glb->picTypes != nullptr)
        glb->picTypes->Register(this);
}

CBMPPic::~CBMPPic()
{
    if (glb != nullptr && glb->picTypes != nullptr)
        glb->picTypes->Unregister(this);
}

int32_t CBMPPic::GetDesc(const char** extension, const char** description)
{
    if (extension != nullptr)
        *extension = "bmp";
    if (description != nullptr)
        *description = "Windows Bitmap";
    return TRUE;
}

int32_t CBMPPic::Load(CFile* file, CBitmapBase* bitmap, void*)
{
    LoadDataCallback();
    auto* bm = dynamic_cast<CBitmap*>(bitmap);
    if (file == nullptr || bm == nullptr)
        return SetError(kErrFeature, FALSE);
    scrambled = xIsFileCrypt(file);
    uint32_t size = 0;
    if (!file->Seek(0, XSEEK_SET) || !file->GetSize(&size))
        return SetError(kErrHeader, FALSE);
    if (scrambled)
        size = size >= kScrambleMarker ? size - kScrambleMarker : 0;
    CReader in(file, scrambled != FALSE, size);

    // Headers.
    uint8_t fh[kFileHeader], ih[kInfoHeader];
    if (!in.Read(fh, kFileHeader) || !in.Read(ih, 4))
        return SetError(kErrHeader, FALSE);
    if (Le16(fh) != 0x4D42)
        return SetError(kErrNotBmp, FALSE);
    uint32_t infoSize = Le32(ih);
    if (infoSize == 12)
        return SetError(kErrCore, FALSE);
    if (infoSize != kInfoHeader)
        return SetError(kErrFormat, FALSE);
    if (!in.Read(ih + 4, kInfoHeader - 4))
        return SetError(kErrHeader, FALSE);
    uint32_t dataOffset = Le32(fh + 10);
    auto w = static_cast<int32_t>(Le32(ih + 4));
    auto hRaw = static_cast<int32_t>(Le32(ih + 8));
    int32_t nbits = Le16(ih + 14);
    uint32_t compression = Le32(ih + 16);
    uint32_t colorsUsed = Le32(ih + 32);

    if (nbits < 8)
        return SetError(kErrColors, FALSE);
    if (compression > 1 || (compression == 1 && nbits != 8))
        return SetError(kErrCompressed, FALSE);
    if (nbits != 8 && nbits != 16 && nbits != 24 && nbits != 32)
        return SetError(kErrBits, FALSE);
    // A negative height is a top-down image (uncompressed only).
    bool topDown = hRaw < 0;
    int64_t h64 = topDown ? -static_cast<int64_t>(hRaw) : hRaw;
    if (w <= 0 || w > kMaxSide || h64 == 0 || h64 > kMaxSide || (topDown && compression != 0))
        return SetError(kErrSize, FALSE);
    auto h = static_cast<int32_t>(h64);
    int32_t bpp = nbits / 8;
    int64_t rowBytes = static_cast<int64_t>(w) * bpp;
    int64_t stride = (rowBytes + 3) & ~int64_t{3};
    if (stride * h > 0x7FFFFFFF)
        return SetError(kErrSize, FALSE);
    // Colour table (8-bit), red/green/blue with alpha 255.
    CPalette pal;
    if (nbits == 8) {
        uint32_t colors = colorsUsed == 0 ? 256 : std::min<uint32_t>(colorsUsed, 256);
        for (uint32_t i = 0; i < colors; ++i) {
            uint8_t e[4];
            if (!in.Read(e, 4))
                return SetError(kErrColorTable, FALSE);
            pal.colors[i].Set(e[2], e[1], e[0], 255);
        }
    }
    int64_t available = dataOffset <= size ? static_cast<int64_t>(size - dataOffset) : -1;
    if (available < 0)
        return SetError(kErrRead, FALSE);
    if (compression == 0 && stride * (h - 1) + rowBytes > available)
        return SetError(kErrFileSize, FALSE);
    if (compression == 1 &&
        static_cast<int64_t>(w) * h > std::max(kMinRlePixels, available * kMaxRlePixelsPerByte))
        return SetError(kErrFileSize, FALSE);

    if (!in.SeekTo(dataOffset))
        return SetError(kErrRead, FALSE);

    // The bitmap keeps the file's pixel bytes (blue, green, red[, unused]).
    bm->Free();
    int32_t ok;
    if (nbits == 8)
        ok = bm->CreateIndex(w, h, 8, &pal, 0);
    else if (nbits == 16)
        ok = bm->CreateRGB(w, h, 16, 5, 5, 5, 10, 5, 0, 0);
    else if (nbits == 24)
        ok = bm->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0);
    else
        ok = bm->CreateRGB(w, h, 32, 8, 8, 8, 8, 16, 24, 0);
    if (!ok)
        return SetError(kErrMemory, FALSE);

    bool read = true;
    if (compression == 1) {
        read = ReadRle8(in, bm);
    } else {
        for (int32_t r = 0; r < h && read; ++r) {
            int32_t y = topDown ? r : h - 1 - r;
            read = in.Read(bm->data + static_cast<ptrdiff_t>(y) * bm->pitch, static_cast<uint32_t>(rowBytes));
            // The last row's padding may be missing from the file.
            if (read && r + 1 < h)
                read = in.Skip(static_cast<uint32_t>(stride - rowBytes));
            if ((r + 1) % 32 == 0)
                LoadDataCallback();
        }
    }
    if (!read) {
        bm->Free(); // a partly read picture is not kept
        return SetError(kErrRead, FALSE);
    }
    bm->changed = 1;
    return TRUE;
}

int32_t CBMPPic::Load(const char* fileName, CBitmapBase* bitmap, void* param)
{
    CFile file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_READ)) {
        xErrorf("BMP - Unable to open \"%s\"", fileName != nullptr ? fileName : "");
        return SetError(nullptr, FALSE);
    }
    int32_t rc = Load(&file, bitmap, param);
    file.Close();
    return rc;
}

int32_t CBMPPic::Save(CFile* file, CBitmapBase* bitmap, void*, CRect* area, int32_t)
{
    auto* bm = dynamic_cast<CBitmap*>(bitmap);
    if (file == nullptr || bm == nullptr || bm->data == nullptr || bm->width <= 0 || bm->height <= 0)
        return SetError(kErrFeature, FALSE);
    bool indexed = bm->trueColor == 0;
    if (indexed ? bm->bits != 8 : (bm->bits != 16 && bm->bits != 24 && bm->bits != 32))
        return SetError(kErrFeature, FALSE);

    CRect r(0, 0, bm->width - 1, bm->height - 1);
    if (area != nullptr) {
        CRect a = *area;
        a.Normalize();
        if (!r.Intersect(r, a))
            return SetError(kErrArea, FALSE);
    }
    int32_t w = r.right - r.left + 1, h = r.bottom - r.top + 1;
    int32_t outBpp = indexed ? 1 : 3;
    uint32_t stride = (static_cast<uint32_t>(w) * outBpp + 3) & ~3u;
    uint32_t offset = kFileHeader + kInfoHeader + (indexed ? 1024 : 0);
    uint64_t fileSize = offset + static_cast<uint64_t>(stride) * h;
    if (fileSize > 0x7FFFFFFF)
        return SetError(kErrFeature, FALSE);

    uint8_t head[kFileHeader + kInfoHeader + 1024] = {};
    head[0] = 'B';
    head[1] = 'M';
    Put32(head + 2, static_cast<uint32_t>(fileSize));
    Put32(head + 10, offset);
    uint8_t* ih = head + kFileHeader;
    Put32(ih, kInfoHeader);
    Put32(ih + 4, static_cast<uint32_t>(w));
    Put32(ih + 8, static_cast<uint32_t>(h));
    Put16(ih + 12, 1);
    Put16(ih + 14, indexed ? 8 : 24);
    Put32(ih + 20, stride * static_cast<uint32_t>(h));
    Put32(ih + 24, 2835); // 72 dpi
    Put32(ih + 28, 2835);
    if (indexed) {
        Put32(ih + 32, 256);
        CPalette grey;
        const CPalette* pal = bm->palette != nullptr ? bm->palette : &grey;
        for (int i = 0; i < 256; ++i) {
            uint8_t* e = head + kFileHeader + kInfoHeader + i * 4;
            e[0] = pal->colors[i].b;
            e[1] = pal->colors[i].g;
            e[2] = pal->colors[i].r;
        }
    }
    if (!file->Write(head, offset))
        return SetError(kErrWriteHeader, FALSE);

    auto* row = static_cast<uint8_t*>(XALLOC(stride));
    if (row == nullptr)
        return SetError(kErrMemory, FALSE);
    std::memset(row, 0, stride);
    bool plain24 = !indexed && bm->bits == 24 && bm->redShift == 0 && bm->greenShift == 8 &&
                   bm->blueShift == 16 && bm->redBits == 8 && bm->greenBits == 8 && bm->blueBits == 8;
    bool ok = true;
    for (int32_t y = r.bottom; y >= r.top && ok; --y) {
        const uint8_t* src = bm->data + static_cast<ptrdiff_t>(y) * bm->pitch;
        if (indexed) {
            std::memcpy(row, src + r.left, static_cast<size_t>(w));
        } else if (plain24) {
            std::memcpy(row, src + static_cast<ptrdiff_t>(r.left) * 3, static_cast<size_t>(w) * 3);
        } else {
            for (int32_t x = 0; x < w; ++x) {
                TRGBA c(0, 0, 0);
                bm->GetPixel(r.left + x, y, &c);
                row[x * 3] = c.b;
                row[x * 3 + 1] = c.g;
                row[x * 3 + 2] = c.r;
            }
        }
        ok = file->Write(row, stride) != FALSE;
        if ((r.bottom - y + 1) % 32 == 0)
            LoadDataCallback();
    }
    XFREE(row);
    return ok ? TRUE : SetError(kErrWriteData, FALSE);
}

int32_t CBMPPic::Save(const char* fileName, CBitmapBase* bitmap, void* param, CRect* area, int32_t flags)
{
    CFile file;
    if (fileName == nullptr || !file.Open(fileName, XFILE_WRITE | XFILE_CREATE_DIRS))
        return SetError("BMP - Unable to open file", FALSE);
    int32_t rc = Save(&file, bitmap, param, area, flags);
    file.Close();
    return rc;
}
