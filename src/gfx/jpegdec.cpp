// Baseline sequential JPEG decoder: JFIF header and marker parsing, Huffman
// decoding through lookahead tables, the accurate integer inverse DCT with
// 13-bit constants, replication upsampling and YCbCr to RGB conversion in
// 16-bit fixed point through tables. Works one MCU row at a time.
//
// Hostile input is expected: every length is checked against its segment
// and the file, sizes are checked before anything is allocated, the frame
// must be plausible for the number of bytes left (every block costs at
// least two bits), and decoding past the real entropy data is an error.
#include "gfx/jpegdec.h"

#include <tarvex/error.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstring>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t kInputSize = 65536;
constexpr int kLookBits = 10;
constexpr int32_t kMaxDimension = 65500;
constexpr int kMaxComponents = 10;

// Zigzag position -> natural position; the 16 extra entries catch a
// corrupt run that steps past the end of the block.
constexpr uint8_t kNatural[64 + 16] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

struct SHuffTable {
    bool defined;
    bool dc;
    uint8_t vals[256];
    int32_t maxcode[18]; // largest code of each length, -1 when none
    int32_t valoffset[18];
    uint16_t look[1 << kLookBits]; // (length << 8) | symbol, 0 = longer code
    // AC only: a short code and its value bits together:
    // (value << 16) | (run << 8) | total length, 0 = use the slower path.
    int32_t fastAc[1 << kLookBits];
};

struct SComponent {
    int id;
    int h, v;        // sampling factors
    int tq;          // quantisation table
    int td, ta;      // Huffman tables of the scan
    int rh, rv;      // replication ratios to full size
    int32_t planeW;  // samples per plane row (whole MCUs)
    uint8_t* plane;  // one MCU row of samples: planeW x (v * 8)
    uint8_t* wide;   // one full-width upsampled row (rh > 1 only)
    uint32_t pred;   // DC predictor (wraps as a 32-bit value)
};

} // namespace

struct SJpegState {
    // Buffered, unscrambling byte source over CFile::Read.
    CFile* file;
    uint32_t fileLeft; // bytes not yet read from the file
    uint32_t pos, end;
    bool scrambled;
    bool readFailed;

    int32_t quant[4][64]; // natural order
    bool quantDefined[4];
    SHuffTable dcTab[4];
    SHuffTable acTab[4];
    int32_t restartInterval;
    int32_t dnlLines;

    bool frame;
    int32_t width, height;
    int nc;
    SComponent comp[kMaxComponents];
    int order[4]; // scan order -> component index
    int hmax, vmax;
    int32_t mcusX, mcusY;

    // Bit reader: the next bits are at the top of acc.
    uint64_t acc;
    int nbits;
    int padBits; // zero bits at the bottom of the valid bits (past a marker or the end)
    int marker;  // marker met in the entropy data, 0 none
    bool hitEnd;

    bool avx2;
    bool sse2;
    bool quant16[4];          // the table's steps fit 16-bit lanes
    int16_t quantS[4][64];    // the same steps as 16-bit numbers, when they fit
    uint8_t rangeIdct[1024];
    uint8_t clamp[1024]; // clamp[i + 384] = i limited to 0..255
    int32_t crR[256], cbB[256], crG[256], cbG[256];
    int32_t yccFix[4]; // the table multipliers: Cr->R, Cb->B, Cb->G, Cr->G

    uint8_t input[kInputSize];
};

namespace {

bool FillInput(SJpegState* s)
{
    if (s->fileLeft == 0 || s->readFailed)
        return false;
    uint32_t n = s->fileLeft < kInputSize ? s->fileLeft : kInputSize;
    if (!s->file->Read(s->input, n)) {
        s->readFailed = true;
        return false;
    }
    s->fileLeft -= n;
    if (s->scrambled)
        for (uint32_t i = 0; i < n; ++i)
            s->input[i] ^= XCRYPT_KEY;
    s->pos = 0;
    s->end = n;
    return true;
}

inline int GetByte(SJpegState* s)
{
    if (s->pos == s->end && !FillInput(s))
        return -1;
    return s->input[s->pos++];
}

inline int GetWord(SJpegState* s)
{
    int a = GetByte(s);
    int b = GetByte(s);
    return (a < 0 || b < 0) ? -1 : (a << 8) | b;
}

bool Skip(SJpegState* s, uint32_t n)
{
    while (n > 0) {
        if (s->pos == s->end && !FillInput(s))
            return false;
        uint32_t k = s->end - s->pos;
        if (k > n)
            k = n;
        s->pos += k;
        n -= k;
    }
    return true;
}

uint64_t BytesLeft(const SJpegState* s) { return static_cast<uint64_t>(s->fileLeft) + (s->end - s->pos); }

// Builds the derived decoding tables; false for an impossible code set.
bool BuildHuffman(SHuffTable* t, const uint8_t bits[17], int count)
{
    uint8_t size[257];
    uint32_t code[257];
    int p = 0;
    for (int l = 1; l <= 16; ++l)
        for (int i = 0; i < bits[l]; ++i)
            size[p++] = static_cast<uint8_t>(l);
    size[p] = 0;
    uint32_t c = 0;
    int si = size[0];
    p = 0;
    while (size[p] != 0) {
        while (size[p] == si)
            code[p++] = c++;
        if (c >= (1u << si))
            return false;
        c <<= 1;
        ++si;
    }
    p = 0;
    for (int l = 1; l <= 16; ++l) {
        if (bits[l] != 0) {
            t->valoffset[l] = p - static_cast<int32_t>(code[p]);
            p += bits[l];
            t->maxcode[l] = static_cast<int32_t>(code[p - 1]);
        } else {
            t->maxcode[l] = -1;
            t->valoffset[l] = 0;
        }
    }
    t->maxcode[17] = 0x7FFFFFFF;
    std::memset(t->look, 0, sizeof t->look);
    p = 0;
    for (int l = 1; l <= kLookBits; ++l) {
        for (int i = 0; i < bits[l]; ++i, ++p) {
            uint32_t first = code[p] << (kLookBits - l);
            for (uint32_t k = 0; k < (1u << (kLookBits - l)); ++k)
                t->look[first + k] = static_cast<uint16_t>((l << 8) | t->vals[p]);
        }
    }
    if (t->dc) {
        for (int i = 0; i < count; ++i)
            if (t->vals[i] > 15)
                return false;
        return true;
    }
    for (uint32_t i = 0; i < (1u << kLookBits); ++i) {
        t->fastAc[i] = 0;
        int len = t->look[i] >> 8;
        if (len == 0)
            continue;
        int rs = t->look[i] & 0xFF, n = rs & 15;
        if (n == 0 || len + n > kLookBits)
            continue;
        int32_t v = static_cast<int32_t>((i >> (kLookBits - len - n)) & ((1u << n) - 1));
        if (v < (1 << (n - 1)))
            v -= (1 << n) - 1;
        t->fastAc[i] = static_cast<int32_t>(static_cast<uint32_t>(v) << 16) | ((rs >> 4) << 8) | (len + n);
    }
    return true;
}

// ------------------------------------------------------------------ bit reader

// Tops the bit buffer up to more than 56 bits. A marker or the end of the
// file stops the real data; zero bits stand in after it and are counted so
// the decoder can tell when it used them.
inline void FillBits(SJpegState* s)
{
    // Fast path: the next bytes are in the buffer and none is 0xFF.
    if (s->end - s->pos >= 8 && s->marker == 0) {
        uint64_t w;
        std::memcpy(&w, s->input + s->pos, 8);
        w = __builtin_bswap64(w);
        int bytes = (64 - s->nbits) >> 3;
        uint64_t v = w >> (64 - 8 * bytes);
        uint64_t x = ~v;
        if (((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) == 0) {
            s->acc |= v << (64 - s->nbits - 8 * bytes);
            s->nbits += 8 * bytes;
            s->pos += static_cast<uint32_t>(bytes);
            return;
        }
    }
    while (s->nbits <= 56) {
        int b = 0;
        if (s->marker == 0 && !s->hitEnd) {
            b = GetByte(s);
            if (b < 0) {
                s->hitEnd = true;
                b = 0;
            } else if (b == 0xFF) {
                int m;
                do
                    m = GetByte(s);
                while (m == 0xFF);
                if (m < 0) {
                    s->hitEnd = true;
                    b = 0;
                } else if (m != 0) {
                    s->marker = m;
                    b = 0;
                }
            }
        }
        if (s->marker != 0 || s->hitEnd)
            s->padBits += 8;
        s->acc |= static_cast<uint64_t>(b) << (56 - s->nbits);
        s->nbits += 8;
    }
}

inline void DropBits(SJpegState* s, int n)
{
    s->acc <<= n;
    s->nbits -= n;
}

// Next Huffman symbol; -1 for a code that is not in the table.
inline int DecodeSymbol(SJpegState* s, const SHuffTable* t)
{
    uint32_t look = t->look[s->acc >> (64 - kLookBits)];
    if (look != 0) {
        DropBits(s, static_cast<int>(look >> 8));
        return static_cast<int>(look & 0xFF);
    }
    for (int l = kLookBits + 1; l <= 16; ++l) {
        int32_t code = static_cast<int32_t>(s->acc >> (64 - l));
        if (code <= t->maxcode[l]) {
            DropBits(s, l);
            return t->vals[(code + t->valoffset[l]) & 0xFF];
        }
    }
    return -1;
}

// s (1..15) bits read as a signed JPEG magnitude.
inline int32_t Extend(SJpegState* s, int n)
{
    int32_t v = static_cast<int32_t>(s->acc >> (64 - n));
    DropBits(s, n);
    return v < (1 << (n - 1)) ? v - ((1 << n) - 1) : v;
}

// ------------------------------------------------------------------ inverse DCT

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;
constexpr int64_t FIX_0_298631336 = 2446;
constexpr int64_t FIX_0_390180644 = 3196;
constexpr int64_t FIX_0_541196100 = 4433;
constexpr int64_t FIX_0_765366865 = 6270;
constexpr int64_t FIX_0_899976223 = 7373;
constexpr int64_t FIX_1_175875602 = 9633;
constexpr int64_t FIX_1_501321110 = 12299;
constexpr int64_t FIX_1_847759065 = 15137;
constexpr int64_t FIX_1_961570560 = 16069;
constexpr int64_t FIX_2_053119869 = 16819;
constexpr int64_t FIX_2_562915447 = 20995;
constexpr int64_t FIX_3_072711026 = 25172;

inline int64_t Descale(int64_t x, int n) { return (x + (int64_t{1} << (n - 1))) >> n; }

// Largest magnitude the vector transforms accept in their inputs (the
// dequantised coefficients and the first pass's results); larger values go
// to the 64-bit code. Real pictures stay far below it.
constexpr int32_t kSimdLimit = 16383;

// Dequantises and transforms one block (coefficients in natural order) into
// 8x8 samples. Separable: columns into a work array, then rows; 64-bit
// intermediates so no input can overflow.
void InverseDct(const int16_t* coef, const int32_t* q, const uint8_t* range, uint8_t* out, int32_t stride)
{
    int32_t ws[64];
    for (int c = 0; c < 8; ++c) {
        const int16_t* in = coef + c;
        const int32_t* qc = q + c;
        int32_t* w = ws + c;
        if ((in[8] | in[16] | in[24] | in[32] | in[40] | in[48] | in[56]) == 0) {
            int32_t dc = static_cast<int32_t>(static_cast<uint32_t>(in[0] * qc[0]) << kPass1Bits);
            for (int r = 0; r < 8; ++r)
                w[r * 8] = dc;
            continue;
        }
        int64_t z2 = int64_t{in[16]} * qc[16];
        int64_t z3 = int64_t{in[48]} * qc[48];
        int64_t z1 = (z2 + z3) * FIX_0_541196100;
        int64_t tmp2 = z1 - z3 * FIX_1_847759065;
        int64_t tmp3 = z1 + z2 * FIX_0_765366865;
        z2 = int64_t{in[0]} * qc[0];
        z3 = int64_t{in[32]} * qc[32];
        int64_t tmp0 = (z2 + z3) * (int64_t{1} << kConstBits);
        int64_t tmp1 = (z2 - z3) * (int64_t{1} << kConstBits);
        int64_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
        int64_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

        tmp0 = int64_t{in[56]} * qc[56];
        tmp1 = int64_t{in[40]} * qc[40];
        tmp2 = int64_t{in[24]} * qc[24];
        tmp3 = int64_t{in[8]} * qc[8];
        z1 = tmp0 + tmp3;
        z2 = tmp1 + tmp2;
        z3 = tmp0 + tmp2;
        int64_t z4 = tmp1 + tmp3;
        int64_t z5 = (z3 + z4) * FIX_1_175875602;
        tmp0 *= FIX_0_298631336;
        tmp1 *= FIX_2_053119869;
        tmp2 *= FIX_3_072711026;
        tmp3 *= FIX_1_501321110;
        z1 *= -FIX_0_899976223;
        z2 *= -FIX_2_562915447;
        z3 = z3 * -FIX_1_961570560 + z5;
        z4 = z4 * -FIX_0_390180644 + z5;
        tmp0 += z1 + z3;
        tmp1 += z2 + z4;
        tmp2 += z2 + z3;
        tmp3 += z1 + z4;
        constexpr int n = kConstBits - kPass1Bits;
        w[0] = static_cast<int32_t>(Descale(tmp10 + tmp3, n));
        w[56] = static_cast<int32_t>(Descale(tmp10 - tmp3, n));
        w[8] = static_cast<int32_t>(Descale(tmp11 + tmp2, n));
        w[48] = static_cast<int32_t>(Descale(tmp11 - tmp2, n));
        w[16] = static_cast<int32_t>(Descale(tmp12 + tmp1, n));
        w[40] = static_cast<int32_t>(Descale(tmp12 - tmp1, n));
        w[24] = static_cast<int32_t>(Descale(tmp13 + tmp0, n));
        w[32] = static_cast<int32_t>(Descale(tmp13 - tmp0, n));
    }
    for (int r = 0; r < 8; ++r) {
        const int32_t* w = ws + r * 8;
        uint8_t* o = out + r * stride;
        if ((w[1] | w[2] | w[3] | w[4] | w[5] | w[6] | w[7]) == 0) {
            uint8_t v = range[static_cast<int32_t>(Descale(w[0], kPass1Bits + 3)) & 1023];
            std::memset(o, v, 8);
            continue;
        }
        int64_t z2 = w[2], z3 = w[6];
        int64_t z1 = (z2 + z3) * FIX_0_541196100;
        int64_t tmp2 = z1 - z3 * FIX_1_847759065;
        int64_t tmp3 = z1 + z2 * FIX_0_765366865;
        int64_t tmp0 = (int64_t{w[0]} + w[4]) * (int64_t{1} << kConstBits);
        int64_t tmp1 = (int64_t{w[0]} - w[4]) * (int64_t{1} << kConstBits);
        int64_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
        int64_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

        tmp0 = w[7];
        tmp1 = w[5];
        tmp2 = w[3];
        tmp3 = w[1];
        z1 = tmp0 + tmp3;
        z2 = tmp1 + tmp2;
        z3 = tmp0 + tmp2;
        int64_t z4 = tmp1 + tmp3;
        int64_t z5 = (z3 + z4) * FIX_1_175875602;
        tmp0 *= FIX_0_298631336;
        tmp1 *= FIX_2_053119869;
        tmp2 *= FIX_3_072711026;
        tmp3 *= FIX_1_501321110;
        z1 *= -FIX_0_899976223;
        z2 *= -FIX_2_562915447;
        z3 = z3 * -FIX_1_961570560 + z5;
        z4 = z4 * -FIX_0_390180644 + z5;
        tmp0 += z1 + z3;
        tmp1 += z2 + z4;
        tmp2 += z2 + z3;
        tmp3 += z1 + z4;
        constexpr int n = kConstBits + kPass1Bits + 3;
        o[0] = range[static_cast<int32_t>(Descale(tmp10 + tmp3, n)) & 1023];
        o[7] = range[static_cast<int32_t>(Descale(tmp10 - tmp3, n)) & 1023];
        o[1] = range[static_cast<int32_t>(Descale(tmp11 + tmp2, n)) & 1023];
        o[6] = range[static_cast<int32_t>(Descale(tmp11 - tmp2, n)) & 1023];
        o[2] = range[static_cast<int32_t>(Descale(tmp12 + tmp1, n)) & 1023];
        o[5] = range[static_cast<int32_t>(Descale(tmp12 - tmp1, n)) & 1023];
        o[3] = range[static_cast<int32_t>(Descale(tmp13 + tmp0, n)) & 1023];
        o[4] = range[static_cast<int32_t>(Descale(tmp13 - tmp0, n)) & 1023];
    }
}


#if defined(__x86_64__) || defined(__i386__)
#define TV_JPEG_AVX2 1

// 8x8 transpose of 32-bit lanes.
__attribute__((target("avx2"))) inline void Transpose8(__m256i* r)
{
    __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
    __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
    __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
    __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
    __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
    __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
    __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
    __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
    r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// a * c for lanes whose values fit 16 bits and a constant that does: one
// multiply-add of the lane's low half by c and its high half (the sign) by
// zero, exact, and much cheaper than a 32-bit multiply.
__attribute__((target("avx2"))) inline __m256i mul16(__m256i a, int32_t c)
{
    return _mm256_madd_epi16(a, _mm256_set1_epi32(c & 0xFFFF));
}

template <int Shift>
__attribute__((target("avx2"))) inline __m256i ds(__m256i x)
{
    return _mm256_srai_epi32(_mm256_add_epi32(x, _mm256_set1_epi32(1 << (Shift - 1))), Shift);
}

// One 1-D pass over eight lanes at once, same arithmetic as the scalar
// code; out[k] = descaled output k (before any range limiting). The inputs
// lie within +-kSimdLimit, so every value multiplied (an input or the sum
// of two) fits 16 bits; the one sum of four is multiplied as two halves.
template <int Shift>
__attribute__((target("avx2"))) inline void Idct1D(const __m256i* in, __m256i* out)
{
    __m256i z2 = in[2], z3 = in[6];
    __m256i z1 = mul16(_mm256_add_epi32(z2, z3), FIX_0_541196100);
    __m256i tmp2 = _mm256_sub_epi32(z1, mul16(z3, FIX_1_847759065));
    __m256i tmp3 = _mm256_add_epi32(z1, mul16(z2, FIX_0_765366865));
    __m256i tmp0 = _mm256_slli_epi32(_mm256_add_epi32(in[0], in[4]), kConstBits);
    __m256i tmp1 = _mm256_slli_epi32(_mm256_sub_epi32(in[0], in[4]), kConstBits);
    __m256i tmp10 = _mm256_add_epi32(tmp0, tmp3), tmp13 = _mm256_sub_epi32(tmp0, tmp3);
    __m256i tmp11 = _mm256_add_epi32(tmp1, tmp2), tmp12 = _mm256_sub_epi32(tmp1, tmp2);

    tmp0 = in[7];
    tmp1 = in[5];
    tmp2 = in[3];
    tmp3 = in[1];
    z1 = _mm256_add_epi32(tmp0, tmp3);
    z2 = _mm256_add_epi32(tmp1, tmp2);
    z3 = _mm256_add_epi32(tmp0, tmp2);
    __m256i z4 = _mm256_add_epi32(tmp1, tmp3);
    __m256i z5 = _mm256_add_epi32(mul16(z3, FIX_1_175875602), mul16(z4, FIX_1_175875602));
    tmp0 = mul16(tmp0, FIX_0_298631336);
    tmp1 = mul16(tmp1, FIX_2_053119869);
    tmp2 = mul16(tmp2, FIX_3_072711026);
    tmp3 = mul16(tmp3, FIX_1_501321110);
    z1 = mul16(z1, -FIX_0_899976223);
    z2 = mul16(z2, -FIX_2_562915447);
    z3 = _mm256_add_epi32(mul16(z3, -FIX_1_961570560), z5);
    z4 = _mm256_add_epi32(mul16(z4, -FIX_0_390180644), z5);
    tmp0 = _mm256_add_epi32(tmp0, _mm256_add_epi32(z1, z3));
    tmp1 = _mm256_add_epi32(tmp1, _mm256_add_epi32(z2, z4));
    tmp2 = _mm256_add_epi32(tmp2, _mm256_add_epi32(z2, z3));
    tmp3 = _mm256_add_epi32(tmp3, _mm256_add_epi32(z1, z4));
    out[0] = ds<Shift>(_mm256_add_epi32(tmp10, tmp3));
    out[7] = ds<Shift>(_mm256_sub_epi32(tmp10, tmp3));
    out[1] = ds<Shift>(_mm256_add_epi32(tmp11, tmp2));
    out[6] = ds<Shift>(_mm256_sub_epi32(tmp11, tmp2));
    out[2] = ds<Shift>(_mm256_add_epi32(tmp12, tmp1));
    out[5] = ds<Shift>(_mm256_sub_epi32(tmp12, tmp1));
    out[3] = ds<Shift>(_mm256_add_epi32(tmp13, tmp0));
    out[4] = ds<Shift>(_mm256_sub_epi32(tmp13, tmp0));
}

// True when every lane is within +-kSimdLimit: then no sum a pass forms
// from them exceeds 32 bits (the largest, an input times the sum of the
// magnitudes of its constants, stays below 2^31), and the 32-bit results
// equal the 64-bit code's.
__attribute__((target("avx2"))) inline bool Within16(const __m256i* v)
{
    const __m256i hi = _mm256_set1_epi32(kSimdLimit), lo = _mm256_set1_epi32(-kSimdLimit);
    __m256i bad = _mm256_setzero_si256();
    for (int i = 0; i < 8; ++i)
        bad = _mm256_or_si256(bad, _mm256_or_si256(_mm256_cmpgt_epi32(v[i], hi), _mm256_cmpgt_epi32(lo, v[i])));
    return _mm256_testz_si256(bad, bad) != 0;
}

// The same transform eight lanes wide in 32-bit arithmetic. False (nothing
// written) when the block's values are too large for that; the caller then
// uses the scalar code.
// q16: every step of q fits 16 bits (then the dequantising products are
// multiply-adds of the coefficient by the step and of its sign by zero).
__attribute__((target("avx2"))) bool InverseDctAvx2(const int16_t* coef, const int32_t* q, bool q16,
                                                    uint8_t* out, int32_t stride)
{
    __m256i v[8], w[8];
    for (int i = 0; i < 8; ++i) {
        __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * i)));
        __m256i steps = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q + 8 * i));
        v[i] = q16 ? _mm256_madd_epi16(c, steps) : _mm256_mullo_epi32(c, steps);
    }
    if (!Within16(v))
        return false;
    Idct1D<kConstBits - kPass1Bits>(v, w); // w[k] = work row k, lanes = columns
    if (!Within16(w))
        return false;
    Transpose8(w); // w[j] = work column j, lanes = rows
    Idct1D<kConstBits + kPass1Bits + 3>(w, v); // v[k] = output column k, lanes = rows
    Transpose8(v); // v[r] = output row r
    // Range limit: the descaled value modulo 1024 read as signed, level
    // shifted and clamped (what the range-limit table holds).
    const __m256i centre = _mm256_set1_epi32(128);
    for (int r = 0; r < 8; r += 2) {
        __m256i a = _mm256_add_epi32(_mm256_srai_epi32(_mm256_slli_epi32(v[r], 22), 22), centre);
        __m256i b = _mm256_add_epi32(_mm256_srai_epi32(_mm256_slli_epi32(v[r + 1], 22), 22), centre);
        __m256i p16 = _mm256_packs_epi32(a, b); // a0-3 b0-3 | a4-7 b4-7
        __m256i p8 = _mm256_packus_epi16(p16, p16);
        __m128i lo = _mm256_castsi256_si128(p8), hi = _mm256_extracti128_si256(p8, 1);
        // lo: a0-3 b0-3 ..., hi: a4-7 b4-7 ...
        __m128i rows = _mm_unpacklo_epi32(lo, hi); // a0-3 a4-7 b0-3 b4-7
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), rows);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), _mm_srli_si128(rows, 8));
    }
    return true;
}
#endif

#if defined(__x86_64__) || defined(__i386__)
#define TV_JPEG_SSE2 1

// The same transform for processors with SSE2 only, in 16-bit lanes: each
// product pair of the 1-D pass is one multiply-add of two inputs by two
// constants (the pass rewritten as sums of single inputs times combined
// constants, so no 16-bit sum can overflow), giving exact 32-bit sums.
namespace sse2 {

// Two 16-bit constants per 32-bit lane for _mm_madd_epi16.
__attribute__((target("sse2"))) inline __m128i Pair(int32_t a, int32_t b)
{
    const uint32_t both = (static_cast<uint32_t>(b) << 16) | (static_cast<uint32_t>(a) & 0xFFFF);
    return _mm_set1_epi32(static_cast<int32_t>(both));
}

// a * ca + b * cb for eight lanes, as two vectors of four 32-bit sums.
struct Wide {
    __m128i lo, hi;
};
__attribute__((target("sse2"))) inline Wide Madd(__m128i a, __m128i b, __m128i c)
{
    return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), c), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), c)};
}
__attribute__((target("sse2"))) inline Wide Add(Wide a, Wide b)
{
    return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
}
__attribute__((target("sse2"))) inline Wide Sub(Wide a, Wide b)
{
    return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)};
}
template <int Shift> __attribute__((target("sse2"))) inline Wide Descale(Wide x)
{
    const __m128i r = _mm_set1_epi32(1 << (Shift - 1));
    return {_mm_srai_epi32(_mm_add_epi32(x.lo, r), Shift), _mm_srai_epi32(_mm_add_epi32(x.hi, r), Shift)};
}

// One 1-D pass over eight lanes; out[k] = descaled output k in 32 bits.
template <int Shift> __attribute__((target("sse2"))) inline void Idct1D(const __m128i* in, Wide* out)
{
    constexpr int32_t c0541 = static_cast<int32_t>(FIX_0_541196100);
    constexpr int32_t c0765 = static_cast<int32_t>(FIX_0_765366865);
    constexpr int32_t c1847 = static_cast<int32_t>(FIX_1_847759065);
    constexpr int32_t one = 1 << kConstBits;
    // Even part: tmp2 = z2*c0541 + z3*(c0541 - c1847), tmp3 = z2*(c0541 + c0765) + z3*c0541.
    const Wide tmp2 = Madd(in[2], in[6], Pair(c0541, c0541 - c1847));
    const Wide tmp3 = Madd(in[2], in[6], Pair(c0541 + c0765, c0541));
    const Wide tmp0 = Madd(in[0], in[4], Pair(one, one));
    const Wide tmp1 = Madd(in[0], in[4], Pair(one, -one));
    const Wide tmp10 = Add(tmp0, tmp3), tmp13 = Sub(tmp0, tmp3);
    const Wide tmp11 = Add(tmp1, tmp2), tmp12 = Sub(tmp1, tmp2);

    // Odd part with t0..t3 = in[7], in[5], in[3], in[1]; z5 folded into
    // z3' = (t0 + t2)*(c1175 - c1961) + (t1 + t3)*c1175 and
    // z4' = (t0 + t2)*c1175 + (t1 + t3)*(c1175 - c0390).
    constexpr int32_t c0298 = static_cast<int32_t>(FIX_0_298631336);
    constexpr int32_t c0390 = static_cast<int32_t>(FIX_0_390180644);
    constexpr int32_t c0899 = static_cast<int32_t>(FIX_0_899976223);
    constexpr int32_t c1175 = static_cast<int32_t>(FIX_1_175875602);
    constexpr int32_t c1501 = static_cast<int32_t>(FIX_1_501321110);
    constexpr int32_t c1961 = static_cast<int32_t>(FIX_1_961570560);
    constexpr int32_t c2053 = static_cast<int32_t>(FIX_2_053119869);
    constexpr int32_t c2562 = static_cast<int32_t>(FIX_2_562915447);
    constexpr int32_t c3072 = static_cast<int32_t>(FIX_3_072711026);
    const __m128i t0 = in[7], t1 = in[5], t2 = in[3], t3 = in[1];
    const __m128i k3 = Pair(c1175 - c1961, c1175), k4 = Pair(c1175, c1175 - c0390);
    const Wide z3 = Add(Madd(t0, t1, k3), Madd(t2, t3, k3));
    const Wide z4 = Add(Madd(t0, t1, k4), Madd(t2, t3, k4));
    const Wide o0 = Add(Madd(t0, t3, Pair(c0298 - c0899, -c0899)), z3);
    const Wide o3 = Add(Madd(t0, t3, Pair(-c0899, c1501 - c0899)), z4);
    const Wide o1 = Add(Madd(t1, t2, Pair(c2053 - c2562, -c2562)), z4);
    const Wide o2 = Add(Madd(t1, t2, Pair(-c2562, c3072 - c2562)), z3);

    out[0] = Descale<Shift>(Add(tmp10, o3));
    out[7] = Descale<Shift>(Sub(tmp10, o3));
    out[1] = Descale<Shift>(Add(tmp11, o2));
    out[6] = Descale<Shift>(Sub(tmp11, o2));
    out[2] = Descale<Shift>(Add(tmp12, o1));
    out[5] = Descale<Shift>(Sub(tmp12, o1));
    out[3] = Descale<Shift>(Add(tmp13, o0));
    out[4] = Descale<Shift>(Sub(tmp13, o0));
}

// 8x8 transpose of 16-bit lanes.
__attribute__((target("sse2"))) inline void Transpose8(__m128i* r)
{
    __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Lanes outside +-kSimdLimit, accumulated into bad.
__attribute__((target("sse2"))) inline __m128i OutOfRange(__m128i v, __m128i bad)
{
    const __m128i hi = _mm_set1_epi16(kSimdLimit), lo = _mm_set1_epi16(-kSimdLimit);
    return _mm_or_si128(bad, _mm_or_si128(_mm_cmpgt_epi16(v, hi), _mm_cmpgt_epi16(lo, v)));
}

} // namespace sse2

// The transform with SSE2 for tables whose steps fit 16 bits. False
// (nothing written) when a value is too large; the caller then uses the
// scalar code.
__attribute__((target("sse2"))) bool InverseDctSse2(const int16_t* coef, const int16_t* q, uint8_t* out,
                                                    int32_t stride)
{
    using namespace sse2;
    __m128i v[8];
    __m128i bad = _mm_setzero_si128();
    for (int i = 0; i < 8; ++i) {
        // The exact 32-bit product is in range when its high half is the
        // sign of its low half and the low half is in range.
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + 8 * i));
        const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8 * i));
        const __m128i lo = _mm_mullo_epi16(c, k), hi = _mm_mulhi_epi16(c, k);
        const __m128i exact = _mm_cmpeq_epi16(hi, _mm_srai_epi16(lo, 15));
        bad = _mm_or_si128(bad, _mm_xor_si128(exact, _mm_set1_epi16(-1)));
        bad = OutOfRange(lo, bad);
        v[i] = lo;
    }
    if (_mm_movemask_epi8(bad) != 0)
        return false;
    Wide w[8];
    Idct1D<kConstBits - kPass1Bits>(v, w); // w[k] = work row k, lanes = columns
    for (int k = 0; k < 8; ++k) {
        // Saturation keeps a value that is too large too large.
        v[k] = _mm_packs_epi32(w[k].lo, w[k].hi);
        bad = OutOfRange(v[k], bad);
    }
    if (_mm_movemask_epi8(bad) != 0)
        return false;
    Transpose8(v); // v[j] = work column j, lanes = rows
    Idct1D<kConstBits + kPass1Bits + 3>(v, w); // w[k] = output column k, lanes = rows
    // Range limit: the descaled value modulo 1024 read as signed, level
    // shifted (what the range-limit table holds); clamped by the packing.
    const __m128i centre = _mm_set1_epi32(128);
    for (int k = 0; k < 8; ++k) {
        const __m128i a = _mm_add_epi32(_mm_srai_epi32(_mm_slli_epi32(w[k].lo, 22), 22), centre);
        const __m128i b = _mm_add_epi32(_mm_srai_epi32(_mm_slli_epi32(w[k].hi, 22), 22), centre);
        v[k] = _mm_packs_epi32(a, b);
    }
    Transpose8(v); // v[r] = output row r
    for (int r = 0; r < 8; r += 2) {
        const __m128i rows = _mm_packus_epi16(v[r], v[r + 1]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r * stride), rows);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (r + 1) * stride), _mm_srli_si128(rows, 8));
    }
    return true;
}
#endif

// 0 scalar, 1 the best the processor has, 2 at most SSE2.
int32_t g_simd = JPEG_SIMD_BEST;

void BuildTables(SJpegState* s)
{
#ifdef TV_JPEG_AVX2
    s->avx2 = g_simd == JPEG_SIMD_BEST && __builtin_cpu_supports("avx2") != 0;
#endif
#ifdef TV_JPEG_SSE2
    s->sse2 = g_simd != JPEG_SIMD_NONE && __builtin_cpu_supports("sse2") != 0;
#endif
    for (int t = 0; t < 4; ++t) {
        s->quant16[t] = true;
        for (int i = 0; i < 64; ++i) {
            const int32_t v = s->quant[t][i];
            s->quant16[t] = s->quant16[t] && v >= -32768 && v <= 32767;
            s->quantS[t][i] = static_cast<int16_t>(v);
        }
    }
    // Post-IDCT range limit: the index is the descaled value modulo 1024,
    // read as signed, plus the 128 level shift, limited to 0..255.
    for (int i = 0; i < 1024; ++i) {
        int v = (i < 512 ? i : i - 1024) + 128;
        s->rangeIdct[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    for (int i = 0; i < 1024; ++i) {
        int v = i - 384;
        s->clamp[i] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    constexpr int kScale = 16;
    constexpr int32_t kHalf = 1 << (kScale - 1);
    auto fix = [](double x) { return static_cast<int32_t>(x * (1 << kScale) + 0.5); };
    for (int i = 0; i < 256; ++i) {
        int32_t x = i - 128;
        s->crR[i] = (fix(1.40200) * x + kHalf) >> kScale;
        s->cbB[i] = (fix(1.77200) * x + kHalf) >> kScale;
        s->crG[i] = -fix(0.71414) * x;
        s->cbG[i] = -fix(0.34414) * x + kHalf;
    }
    s->yccFix[0] = fix(1.40200);
    s->yccFix[1] = fix(1.77200);
    s->yccFix[2] = -fix(0.34414);
    s->yccFix[3] = -fix(0.71414);
}

} // namespace

// ------------------------------------------------------------------ header

void CJpegDecoder::EnableSimd(int32_t level) { g_simd = level; }

int32_t CJpegDecoder::Fail(const char* text)
{
    Reset();
    m_error = text;
    return FALSE;
}

void CJpegDecoder::Reset()
{
    if (m_state != nullptr) {
        for (int i = 0; i < kMaxComponents; ++i) {
            XFREE(m_state->comp[i].plane);
            XFREE(m_state->comp[i].wide);
        }
        XDELETE(m_state);
        m_state = nullptr;
    }
}

namespace {

// Reads one marker: 0xFF, any fill bytes, a non-zero code. -1 at the end
// of the file, 0 when the bytes are not a marker.
int ReadMarker(SJpegState* s)
{
    int b = GetByte(s);
    if (b != 0xFF)
        return b < 0 ? -1 : 0;
    do
        b = GetByte(s);
    while (b == 0xFF);
    return b;
}

} // namespace

int32_t CJpegDecoder::ReadHeader(CFile* file, int32_t scrambled)
{
    if (glb != nullptr && glb->loadDataCallback != nullptr)
        glb->loadDataCallback();
    Reset();
    m_error = nullptr;
    m_width = m_height = m_components = 0;
    if (file == nullptr)
        return Fail(JPGERR_READ);

    uint32_t pos = 0, size = 0;
    if (!file->GetPos(&pos, 0) || !file->GetSize(&size))
        return Fail(JPGERR_READ);
    if (file->boundsSize != 0 && size > file->boundsSize)
        size = file->boundsSize;

    m_state = XNEW(SJpegState);
    if (m_state == nullptr)
        return Fail(JPGERR_MEMORY);
    SJpegState* s = m_state;
    std::memset(static_cast<void*>(s), 0, sizeof *s);
    s->file = file;
    s->fileLeft = size > pos ? size - pos : 0;
    s->scrambled = scrambled != 0;

    const char* eofOr = JPGERR_EOF;
    auto fail = [&](const char* text) {
        bool readErr = s->readFailed;
        return Fail(readErr ? JPGERR_READ : text);
    };

    // SOI, then the JFIF APP0 segment.
    if (GetWord(s) != 0xFFD8)
        return fail(JPGERR_NOT_JPEG);
    if (ReadMarker(s) != 0xE0)
        return fail(JPGERR_NOT_JFIF);
    {
        int len = GetWord(s);
        if (len < 0)
            return fail(eofOr);
        if ((len & 1) != 0 || len < 2 + 5 + 2)
            return fail(JPGERR_NOT_JFIF);
        uint8_t id[7];
        for (int i = 0; i < 7; ++i) {
            int b = GetByte(s);
            if (b < 0)
                return fail(eofOr);
            id[i] = static_cast<uint8_t>(b);
        }
        if (std::memcmp(id, "JFIF\0", 5) != 0 || id[5] != 1)
            return fail(JPGERR_NOT_JFIF);
        if (!Skip(s, static_cast<uint32_t>(len - 2 - 7)))
            return fail(eofOr);
    }

    // Markers up to the frame header, then up to the scan header.
    for (;;) {
        int m = ReadMarker(s);
        if (m < 0)
            return fail(eofOr);
        if (m == 0)
            return fail(JPGERR_CORRUPT);
        if (m == 0xD9)
            return fail(JPGERR_NO_FRAME);
        if (m == 0x01 || (m >= 0xD0 && m <= 0xD7))
            continue; // no length
        if (m == 0xD8)
            return fail(JPGERR_CORRUPT);
        if ((m >= 0xC1 && m <= 0xCF) && m != 0xC4 && m != 0xC8 && m != 0xCC) {
            Reset();
            m_error = nullptr;
            return xErrorTxt_Func(JPGERR_BASELINE, __FILE__, __LINE__);
        }
        int len = GetWord(s);
        if (len < 0)
            return fail(eofOr);
        if (len < 2)
            return fail(JPGERR_CORRUPT);
        int left = len - 2;
        if (m == 0xC4) {
            while (left > 0) {
                if (left < 17)
                    return fail(JPGERR_CORRUPT);
                int tc = GetByte(s);
                uint8_t bits[17] = {};
                int count = 0;
                for (int l = 1; l <= 16; ++l) {
                    int b = GetByte(s);
                    if (b < 0)
                        return fail(eofOr);
                    bits[l] = static_cast<uint8_t>(b);
                    count += b;
                }
                if (tc < 0)
                    return fail(eofOr);
                left -= 17;
                if ((tc >> 4) > 1 || (tc & 15) > 3 || count > 256 || count > left)
                    return fail(JPGERR_CORRUPT);
                SHuffTable* t = (tc >> 4) == 0 ? &s->dcTab[tc & 15] : &s->acTab[tc & 15];
                for (int i = 0; i < count; ++i) {
                    int b = GetByte(s);
                    if (b < 0)
                        return fail(eofOr);
                    t->vals[i] = static_cast<uint8_t>(b);
                }
                left -= count;
                t->dc = (tc >> 4) == 0;
                t->defined = BuildHuffman(t, bits, count);
                if (!t->defined)
                    return fail(JPGERR_CORRUPT);
            }
        } else if (m == 0xDB) {
            while (left > 0) {
                int pt = GetByte(s);
                if (pt < 0)
                    return fail(eofOr);
                int pq = pt >> 4, tq = pt & 15;
                if (pq > 1 || tq > 3 || left < 1 + 64 * (pq + 1))
                    return fail(JPGERR_CORRUPT);
                for (int i = 0; i < 64; ++i) {
                    int v = pq != 0 ? GetWord(s) : GetByte(s);
                    if (v < 0)
                        return fail(eofOr);
                    s->quant[tq][kNatural[i]] = v;
                }
                s->quantDefined[tq] = true;
                left -= 1 + 64 * (pq + 1);
            }
        } else if (m == 0xDD || m == 0xDC) {
            if (left != 2)
                return fail(JPGERR_CORRUPT);
            int v = GetWord(s);
            if (v < 0)
                return fail(eofOr);
            (m == 0xDD ? s->restartInterval : s->dnlLines) = v;
        } else if (m == 0xC0) {
            if (s->frame)
                return fail(JPGERR_CORRUPT);
            s->frame = true;
            int p = GetByte(s);
            int hgt = GetWord(s);
            int wid = GetWord(s);
            int nc = GetByte(s);
            if (nc < 0)
                return fail(eofOr);
            if (p != 8)
                return fail(JPGERR_PRECISION);
            if (nc == 0 || left != 6 + 3 * nc)
                return fail(JPGERR_CORRUPT);
            if (nc > kMaxComponents)
                return fail(JPGERR_COMPONENTS);
            s->height = hgt;
            s->width = wid;
            s->nc = nc;
            for (int i = 0; i < nc; ++i) {
                int id = GetByte(s), hv = GetByte(s), tq = GetByte(s);
                if (tq < 0)
                    return fail(eofOr);
                s->comp[i].id = id;
                s->comp[i].h = hv >> 4;
                s->comp[i].v = hv & 15;
                s->comp[i].tq = tq;
            }
        } else if (m == 0xDA) {
            if (!s->frame)
                return fail(JPGERR_NO_FRAME);
            int ns = GetByte(s);
            if (ns < 0)
                return fail(eofOr);
            if (ns < 1 || ns > 4 || left != 4 + 2 * ns)
                return fail(JPGERR_CORRUPT);
            bool used[kMaxComponents] = {};
            for (int i = 0; i < ns; ++i) {
                int cs = GetByte(s), t = GetByte(s);
                if (t < 0)
                    return fail(eofOr);
                int k = 0;
                while (k < s->nc && (s->comp[k].id != cs || used[k]))
                    ++k;
                if (k == s->nc)
                    return fail(JPGERR_CORRUPT);
                used[k] = true;
                s->order[i] = k;
                s->comp[k].td = t >> 4;
                s->comp[k].ta = t & 15;
            }
            int ss = GetByte(s), se = GetByte(s), a = GetByte(s);
            if (a < 0)
                return fail(eofOr);
            if (ns != s->nc || ss != 0 || se != 63 || a != 0)
                return fail(JPGERR_SCAN);
            break;
        } else if (!Skip(s, static_cast<uint32_t>(left))) {
            return fail(eofOr);
        }
    }

    // Set-up checks, all before anything sized by the frame is allocated.
    if (s->height == 0)
        s->height = s->dnlLines;
    if (s->width <= 0 || s->height <= 0 || s->width > kMaxDimension || s->height > kMaxDimension)
        return fail(JPGERR_SIZE);
    if (s->nc != 1 && s->nc != 3)
        return fail(JPGERR_COMPONENTS);
    if (s->nc == 1) {
        // A single-component scan is not interleaved: one block per MCU.
        s->comp[0].h = s->comp[0].v = 1;
    }
    s->hmax = s->vmax = 1;
    for (int i = 0; i < s->nc; ++i) {
        SComponent& c = s->comp[i];
        if (c.h < 1 || c.h > 4 || c.v < 1 || c.v > 4)
            return fail(JPGERR_SAMPLING);
        if (c.h > s->hmax)
            s->hmax = c.h;
        if (c.v > s->vmax)
            s->vmax = c.v;
    }
    int blocksPerMcu = 0;
    for (int i = 0; i < s->nc; ++i) {
        SComponent& c = s->comp[i];
        if (s->hmax % c.h != 0 || s->vmax % c.v != 0)
            return fail(JPGERR_SAMPLING);
        c.rh = s->hmax / c.h;
        c.rv = s->vmax / c.v;
        if (c.tq > 3 || !s->quantDefined[c.tq] || c.td > 3 || c.ta > 3 || !s->dcTab[c.td].defined ||
            !s->acTab[c.ta].defined)
            return fail(JPGERR_TABLE);
        blocksPerMcu += c.h * c.v;
    }
    s->mcusX = (s->width + 8 * s->hmax - 1) / (8 * s->hmax);
    s->mcusY = (s->height + 8 * s->vmax - 1) / (8 * s->vmax);
    // Every block takes at least two bits of entropy data.
    uint64_t blocks = static_cast<uint64_t>(s->mcusX) * static_cast<uint64_t>(s->mcusY) *
                      static_cast<uint64_t>(blocksPerMcu);
    if (blocks > BytesLeft(s) * 4)
        return fail(JPGERR_TOO_LARGE);

    m_width = s->width;
    m_height = s->height;
    m_components = s->nc;
    return TRUE;
}

// ------------------------------------------------------------------ scan

namespace {

// One block: DC difference and AC run/size codes into natural order.
// False for a code that is not in its table.
// *acSeen: whether any coefficient after the DC one was decoded.
// Zeroes a block's 64 coefficients (16-byte aligned). Written as plain
// vector stores: compilers turn a 128-byte memset into a string instruction
// whose start-up alone costs about as much as decoding a sparse block.
inline void ClearBlock(int16_t* coef)
{
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8)
        _mm_store_si128(reinterpret_cast<__m128i*>(coef + i), zero);
#else
    std::memset(coef, 0, 64 * sizeof(int16_t));
#endif
}

inline bool DecodeBlock(SJpegState* s, SComponent& c, int16_t* coef, bool* acSeen)
{
    bool seen = false;
    ClearBlock(coef);
    const SHuffTable* dc = &s->dcTab[c.td];
    const SHuffTable* ac = &s->acTab[c.ta];
    if (s->nbits < 32)
        FillBits(s);
    int t = DecodeSymbol(s, dc);
    if (t < 0)
        return false;
    if (t != 0)
        c.pred += static_cast<uint32_t>(Extend(s, t));
    coef[0] = static_cast<int16_t>(c.pred);
    // The bit reader's state stays in registers through the common cases
    // (the fast run-and-value table, short codes, magnitude bits); it goes
    // back to the state only around the refill and the long-code decoder.
    uint64_t acc = s->acc;
    int nbits = s->nbits;
    for (int k = 1; k < 64; ++k) {
        if (nbits < 32) {
            s->acc = acc;
            s->nbits = nbits;
            FillBits(s);
            acc = s->acc;
            nbits = s->nbits;
        }
        int32_t f = ac->fastAc[acc >> (64 - kLookBits)];
        if (f != 0) {
            const int used = f & 0xFF;
            acc <<= used;
            nbits -= used;
            k += (f >> 8) & 15;
            coef[kNatural[k]] = static_cast<int16_t>(f >> 16);
            seen = true;
            continue;
        }
        int rs;
        const uint32_t look = ac->look[acc >> (64 - kLookBits)];
        if (look != 0) {
            const int used = static_cast<int>(look >> 8);
            acc <<= used;
            nbits -= used;
            rs = static_cast<int>(look & 0xFF);
        } else {
            s->acc = acc;
            s->nbits = nbits;
            rs = DecodeSymbol(s, ac);
            if (rs < 0)
                return false;
            acc = s->acc;
            nbits = s->nbits;
        }
        const int r = rs >> 4, n = rs & 15;
        if (n != 0) {
            // n magnitude bits (at least 16 are left after the symbol).
            int32_t v = static_cast<int32_t>(acc >> (64 - n));
            acc <<= n;
            nbits -= n;
            k += r;
            coef[kNatural[k]] = static_cast<int16_t>(v < (1 << (n - 1)) ? v - ((1 << n) - 1) : v);
            seen = true;
        } else if (r != 15) {
            break; // end of block
        } else {
            k += 15;
        }
    }
    s->acc = acc;
    s->nbits = nbits;
    *acSeen = seen;
    return true;
}

// A block with only its DC coefficient is one flat value: what the 64-bit
// transform computes for it (first pass: the dequantised value times four in
// 32 bits; second pass: descaled and range limited), without the transform.
inline void FlatBlock(int16_t dc, int32_t q, const uint8_t* range, uint8_t* out, int32_t stride)
{
    const int32_t w = static_cast<int32_t>(static_cast<uint32_t>(dc * q) << kPass1Bits);
    const uint8_t v = range[static_cast<int32_t>(Descale(w, kPass1Bits + 3)) & 1023];
    for (int r = 0; r < 8; ++r)
        std::memset(out + static_cast<ptrdiff_t>(r) * stride, v, 8);
}

// Drops the rest of the interval's bits and expects the next restart
// marker (bytes before it are skipped, as encoders may leave some).
bool ProcessRestart(SJpegState* s, int expected)
{
    s->acc = 0;
    s->nbits = 0;
    s->padBits = 0;
    if (s->marker == 0 && !s->hitEnd) {
        for (;;) {
            int b = GetByte(s);
            if (b < 0)
                return false;
            if (b != 0xFF)
                continue;
            int m;
            do
                m = GetByte(s);
            while (m == 0xFF);
            if (m < 0)
                return false;
            if (m != 0) {
                s->marker = m;
                break;
            }
        }
    }
    if (s->marker != 0xD0 + expected)
        return false;
    s->marker = 0;
    for (int i = 0; i < s->nc; ++i)
        s->comp[i].pred = 0;
    return true;
}

// YCbCr to blue, green, red for one row; chroma samples cover R pixels each.
template <int R>
inline void YccRow(const SJpegState* s, const uint8_t* yy, const uint8_t* cb, const uint8_t* cr, uint8_t* o,
                   int32_t w, int32_t x0)
{
    yy += x0;
    cb += x0 / R;
    cr += x0 / R;
    o += 3 * x0;
    w -= x0;
    const uint8_t* lim = s->clamp + 384;
    const int32_t* cbB = s->cbB;
    const int32_t* crR = s->crR;
    const int32_t* cbG = s->cbG;
    const int32_t* crG = s->crG;
    int32_t x = 0;
    for (int32_t i = 0; x + R <= w; ++i) {
        int b = cb[i], r = cr[i];
        int db = cbB[b], dr = crR[r], dg = (cbG[b] + crG[r]) >> 16;
        for (int k = 0; k < R; ++k, ++x, o += 3) {
            int y = yy[x];
            o[0] = lim[y + db];
            o[1] = lim[y + dg];
            o[2] = lim[y + dr];
        }
    }
    for (int32_t i = x / R; x < w; ++x, o += 3) {
        int y = yy[x], b = cb[i], r = cr[i];
        o[0] = lim[y + cbB[b]];
        o[1] = lim[y + ((cbG[b] + crG[r]) >> 16)];
        o[2] = lim[y + crR[r]];
    }
}

#ifdef TV_JPEG_AVX2
// pshufb masks that interleave 16 blue, green and red bytes into 48 bytes
// of pixels: [output chunk][channel].
struct SInterleave {
    uint8_t m[3][3][16];
    constexpr SInterleave() : m()
    {
        for (int j = 0; j < 48; ++j)
            for (int ch = 0; ch < 3; ++ch)
                m[j / 16][ch][j % 16] = static_cast<uint8_t>(j % 3 == ch ? j / 3 : 0x80);
    }
};
constexpr SInterleave kInterleave;

// Eight pixels of one channel: y + (sum >> 16), as 32-bit lanes.
__attribute__((target("avx2"))) inline __m256i Channel(__m256i y, __m256i sum)
{
    return _mm256_add_epi32(y, _mm256_srai_epi32(sum, 16));
}

// 16 lanes of 32 bits (two vectors, in order) to 16 bytes, saturated to 0..255.
__attribute__((target("avx2"))) inline __m128i Pack16(__m256i lo, __m256i hi)
{
    __m256i p = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
    return _mm_packus_epi16(_mm256_castsi256_si128(p), _mm256_extracti128_si256(p, 1));
}

// Sixteen blue, green and red bytes interleaved into 48 bytes of pixels at o.
__attribute__((target("avx2"))) inline void StorePixels(__m128i b, __m128i g, __m128i r, uint8_t* o)
{
    const __m128i* m = reinterpret_cast<const __m128i*>(kInterleave.m);
    for (int j = 0; j < 3; ++j) {
        __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, _mm_loadu_si128(m + 3 * j)),
                                              _mm_shuffle_epi8(g, _mm_loadu_si128(m + 3 * j + 1))),
                                 _mm_shuffle_epi8(r, _mm_loadu_si128(m + 3 * j + 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * j), v);
    }
}

// The table conversion computed sixteen pixels at a time with the same
// constants and rounding, for chroma at full width (4:4:4); returns how
// many pixels it wrote.
__attribute__((target("avx2"))) int32_t YccRowAvx2(const int32_t* k, const uint8_t* yy, const uint8_t* cb,
                                                   const uint8_t* cr, uint8_t* o, int32_t w)
{
    const __m256i kCrR = _mm256_set1_epi32(k[0]), kCbB = _mm256_set1_epi32(k[1]);
    const __m256i kCbG = _mm256_set1_epi32(k[2]), kCrG = _mm256_set1_epi32(k[3]);
    const __m256i half = _mm256_set1_epi32(1 << 15), centre = _mm256_set1_epi32(128);
    int32_t x = 0;
    for (; x + 16 <= w; x += 16, o += 48) {
        __m128i y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yy + x));
        const __m128i b8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + x));
        const __m128i r8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + x));
        __m256i bo[2], go[2], ro[2];
        for (int h = 0; h < 2; ++h) {
            __m256i y = _mm256_cvtepu8_epi32(h == 0 ? y8 : _mm_srli_si128(y8, 8));
            __m256i b = _mm256_sub_epi32(_mm256_cvtepu8_epi32(h == 0 ? b8 : _mm_srli_si128(b8, 8)), centre);
            __m256i r = _mm256_sub_epi32(_mm256_cvtepu8_epi32(h == 0 ? r8 : _mm_srli_si128(r8, 8)), centre);
            ro[h] = Channel(y, _mm256_add_epi32(_mm256_mullo_epi32(r, kCrR), half));
            bo[h] = Channel(y, _mm256_add_epi32(_mm256_mullo_epi32(b, kCbB), half));
            go[h] = Channel(y, _mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(b, kCbG), half),
                                                _mm256_mullo_epi32(r, kCrG)));
        }
        StorePixels(Pack16(bo[0], bo[1]), Pack16(go[0], go[1]), Pack16(ro[0], ro[1]), o);
    }
    return x;
}

// Eight 32-bit terms as sixteen 16-bit ones, each twice.
__attribute__((target("avx2"))) inline __m256i Spread(__m256i t)
{
    const __m128i t16 = _mm_packs_epi32(_mm256_castsi256_si128(t), _mm256_extracti128_si256(t, 1));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(t16, t16)),
                                   _mm_unpackhi_epi16(t16, t16), 1);
}

// Sixteen 16-bit lanes to bytes, clamped to 0..255.
__attribute__((target("avx2"))) inline __m128i Bytes(__m256i v)
{
    return _mm_packus_epi16(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// Half-width chroma (4:2:x): the terms of eight chroma samples serve
// sixteen pixels of each luma row given (one, or two sharing the chroma
// row, as in 4:2:0). Each term is computed once per sample as in the table
// conversion, then added in 16-bit lanes (luma plus a term always lies
// within -227..482, so nothing saturates before the final clamp to bytes).
// Returns how many pixels of each row it wrote.
__attribute__((target("avx2"))) int32_t YccPairAvx2(const int32_t* k, const uint8_t* yy0, const uint8_t* yy1,
                                                    const uint8_t* cb, const uint8_t* cr, uint8_t* o0,
                                                    uint8_t* o1, int32_t w)
{
    const __m256i kCrR = _mm256_set1_epi32(k[0]), kCbB = _mm256_set1_epi32(k[1]);
    const __m256i kCbG = _mm256_set1_epi32(k[2]), kCrG = _mm256_set1_epi32(k[3]);
    const __m256i half = _mm256_set1_epi32(1 << 15), centre = _mm256_set1_epi32(128);
    int32_t x = 0;
    for (; x + 16 <= w; x += 16) {
        const __m256i b = _mm256_sub_epi32(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb + x / 2))), centre);
        const __m256i r = _mm256_sub_epi32(
            _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr + x / 2))), centre);
        const __m256i dr = Spread(_mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(r, kCrR), half), 16));
        const __m256i db = Spread(_mm256_srai_epi32(_mm256_add_epi32(_mm256_mullo_epi32(b, kCbB), half), 16));
        const __m256i dg =
            Spread(_mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(_mm256_mullo_epi32(b, kCbG), half),
                                                      _mm256_mullo_epi32(r, kCrG)),
                                     16));
        for (int row = 0; row < 2; ++row) {
            const uint8_t* yy = row == 0 ? yy0 : yy1;
            if (yy == nullptr)
                break;
            uint8_t* o = (row == 0 ? o0 : o1) + 3 * x;
            const __m256i y = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(yy + x)));
            StorePixels(Bytes(_mm256_add_epi16(y, db)), Bytes(_mm256_add_epi16(y, dg)),
                        Bytes(_mm256_add_epi16(y, dr)), o);
        }
    }
    return x;
}
#endif

void ConvertRows(SJpegState* s, const SJpegImage& out, int32_t y0, int rows)
{
    const int32_t w = s->width;
    // Luma at full size and both chroma components at half width (the
    // common 4:2:x case) convert without an upsampled copy.
    bool pairs = s->nc == 3 && s->comp[0].rh == 1 && s->comp[1].rh == 2 && s->comp[2].rh == 2;
#ifdef TV_JPEG_AVX2
    if (pairs && s->avx2) {
        const SComponent* c = s->comp;
        auto line = [](const SComponent& k, int r) {
            return k.plane + static_cast<size_t>(r / k.rv) * k.planeW;
        };
        for (int r = 0; r < rows;) {
            // The next row goes along when it reads the same chroma rows.
            const bool two =
                r + 1 < rows && (r + 1) / c[1].rv == r / c[1].rv && (r + 1) / c[2].rv == r / c[2].rv;
            const uint8_t* yy0 = line(c[0], r);
            const uint8_t* yy1 = two ? line(c[0], r + 1) : nullptr;
            const uint8_t* cb = line(c[1], r);
            const uint8_t* cr = line(c[2], r);
            uint8_t* o0 = out.pixels + static_cast<size_t>(y0 + r) * static_cast<size_t>(out.pitch);
            uint8_t* o1 = two ? o0 + out.pitch : nullptr;
            const int32_t x0 = YccPairAvx2(s->yccFix, yy0, yy1, cb, cr, o0, o1, w);
            YccRow<2>(s, yy0, cb, cr, o0, w, x0);
            if (two)
                YccRow<2>(s, yy1, cb, cr, o1, w, x0);
            r += two ? 2 : 1;
        }
        return;
    }
#endif
    for (int r = 0; r < rows; ++r) {
        const uint8_t* src[3] = {};
        for (int i = 0; i < s->nc; ++i) {
            SComponent& c = s->comp[i];
            const uint8_t* row = c.plane + static_cast<size_t>(r / c.rv) * c.planeW;
            if (c.rh == 1 || pairs) {
                src[i] = row;
                continue;
            }
            uint8_t* d = c.wide;
            const int rh = c.rh;
            const int32_t n = (w + rh - 1) / rh;
            for (int32_t x = 0; x < n; ++x)
                for (int k = 0; k < rh; ++k)
                    *d++ = row[x];
            src[i] = c.wide;
        }
        uint8_t* o = out.pixels + static_cast<size_t>(y0 + r) * static_cast<size_t>(out.pitch);
        if (s->nc == 1) {
            const uint8_t* g = src[0];
            for (int32_t x = 0; x < w; ++x, o += 3)
                o[0] = o[1] = o[2] = g[x];
        } else if (pairs) {
            YccRow<2>(s, src[0], src[1], src[2], o, w, 0);
        } else {
            int32_t x0 = 0;
#ifdef TV_JPEG_AVX2
            if (s->avx2)
                x0 = YccRowAvx2(s->yccFix, src[0], src[1], src[2], o, w);
#endif
            YccRow<1>(s, src[0], src[1], src[2], o, w, x0);
        }
    }
}

} // namespace

int32_t CJpegDecoder::Decode(const SJpegImage& out)
{
    SJpegState* s = m_state;
    m_error = nullptr;
    if (s == nullptr)
        return Fail(JPGERR_NO_FRAME);
    if (out.pixels == nullptr || out.width != s->width || out.height != s->height ||
        out.pitch < 3 * s->width)
        return Fail(JPGERR_OUTPUT);

    // Colour conversion takes the components in frame order (Y, Cb, Cr);
    // blocks arrive in scan order.
    for (int i = 0; i < s->nc; ++i) {
        SComponent& c = s->comp[i];
        c.planeW = s->mcusX * c.h * 8;
        c.plane = static_cast<uint8_t*>(XALLOC(static_cast<uint32_t>(c.planeW) * c.v * 8));
        if (c.plane == nullptr)
            return Fail(JPGERR_MEMORY);
        if (c.rh > 1) {
            c.wide = static_cast<uint8_t*>(XALLOC(static_cast<uint32_t>(c.planeW) * c.rh));
            if (c.wide == nullptr)
                return Fail(JPGERR_MEMORY);
        }
        c.pred = 0;
    }
    BuildTables(s);

    alignas(16) int16_t coef[64];
    int32_t restartsLeft = s->restartInterval;
    int nextRestart = 0;
    int32_t rowsSinceCall = 0;
    const int mcuRows = 8 * s->vmax;
    for (int32_t my = 0; my < s->mcusY; ++my) {
        for (int32_t mx = 0; mx < s->mcusX; ++mx) {
            if (s->restartInterval != 0) {
                if (restartsLeft == 0) {
                    if (!ProcessRestart(s, nextRestart))
                        return Fail(s->readFailed ? JPGERR_READ : s->hitEnd ? JPGERR_EOF : JPGERR_CORRUPT);
                    nextRestart = (nextRestart + 1) & 7;
                    restartsLeft = s->restartInterval;
                }
                --restartsLeft;
            }
            for (int k = 0; k < s->nc; ++k) {
                SComponent& c = s->comp[s->order[k]];
                const int32_t* q = s->quant[c.tq];
                for (int by = 0; by < c.v; ++by) {
                    uint8_t* row = c.plane + static_cast<size_t>(by) * 8 * c.planeW +
                                   static_cast<size_t>(mx) * c.h * 8;
                    for (int bx = 0; bx < c.h; ++bx) {
                        bool acSeen = false;
                        if (!DecodeBlock(s, c, coef, &acSeen))
                            return Fail(JPGERR_CORRUPT);
                        if (!acSeen) {
                            FlatBlock(coef[0], q[0], s->rangeIdct, row + bx * 8, c.planeW);
                            continue;
                        }
#ifdef TV_JPEG_AVX2
                        if (s->avx2 && InverseDctAvx2(coef, q, s->quant16[c.tq], row + bx * 8, c.planeW))
                            continue;
#endif
#ifdef TV_JPEG_SSE2
                        if (!s->avx2 && s->sse2 && s->quant16[c.tq] &&
                            InverseDctSse2(coef, s->quantS[c.tq], row + bx * 8, c.planeW))
                            continue;
#endif
                        InverseDct(coef, q, s->rangeIdct, row + bx * 8, c.planeW);
                    }
                }
            }
            // Decoding into the stand-in zero bits means the data ran out.
            if (s->nbits < s->padBits)
                return Fail(s->readFailed ? JPGERR_READ : s->hitEnd ? JPGERR_EOF : JPGERR_CORRUPT);
        }
        int32_t y0 = my * mcuRows;
        int rows = s->height - y0 < mcuRows ? s->height - y0 : mcuRows;
        ConvertRows(s, out, y0, rows);
        rowsSinceCall += rows;
        if (rowsSinceCall > 32) {
            rowsSinceCall = 0;
            if (glb != nullptr && glb->loadDataCallback != nullptr)
                glb->loadDataCallback();
        }
    }
    Reset();
    return TRUE;
}
