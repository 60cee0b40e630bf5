// Baseline sequential JPEG (JFIF) decoder behind the JPEG picture type.
// Two steps: ReadHeader parses the file up to the scan header and reports
// the frame size; the caller allocates the target pixels and Decode writes
// them as blue, green, red bytes, one MCU row at a time. Fixed-point
// integer arithmetic throughout; pixels match the accurate integer inverse
// DCT, replication upsampling and the table-driven JFIF colour conversion.
#pragma once

#include <tarvex/file.h>

#include <cstdint>

// Where Decode writes: width x height pixels of 3 bytes (blue, green, red),
// rows pitch bytes apart, top row first.
struct SJpegImage {
    int32_t width;
    int32_t height;
    uint8_t* pixels;
    int32_t pitch;
};

// Texts of the failures that belong to the picture type's own error.
#define JPGERR_NOT_JPEG "JPG - Not a JPEG file"
#define JPGERR_NOT_JFIF "JPG - Not a JFIF file"
#define JPGERR_EOF "JPG - Unexpected end of file"
#define JPGERR_READ "JPG - Read error"
#define JPGERR_CORRUPT "JPG - Corrupt JPEG data"
#define JPGERR_NO_FRAME "JPG - No image in file"
#define JPGERR_PRECISION "JPG - Unsupported sample precision"
#define JPGERR_SIZE "JPG - Invalid image size"
#define JPGERR_COMPONENTS "JPG - Unsupported number of components"
#define JPGERR_SAMPLING "JPG - Unsupported sampling factors"
#define JPGERR_SCAN "JPG - Unsupported scan"
#define JPGERR_TABLE "JPG - Missing quantisation or Huffman table"
#define JPGERR_TOO_LARGE "JPG - Image size does not fit the file size"
#define JPGERR_MEMORY "JPG - Out of memory"
#define JPGERR_OUTPUT "JPG - Invalid output buffer"
// Recorded in the globals' error (xErrorTxt_Func) for the refused frame types.
#define JPGERR_BASELINE "Unhandle jpeg format. We only support baseline jpegs!"

struct SJpegState;

enum : int32_t { JPEG_SIMD_NONE = 0, JPEG_SIMD_BEST = 1, JPEG_SIMD_SSE2 = 2 };

class CJpegDecoder {
public:
    CJpegDecoder() = default;
    CJpegDecoder(const CJpegDecoder&) = delete;
    CJpegDecoder& operator=(const CJpegDecoder&) = delete;
    ~CJpegDecoder() { Reset(); }

    // Calls the load-data callback, then reads from the file's current
    // position through the scan header (SOI, JFIF, tables, frame, SOS).
    // With scrambled set, every byte is unscrambled with XCRYPT_KEY.
    // TRUE: Width()/Height()/Components() are valid. FALSE: see GetError().
    int32_t ReadHeader(CFile* file, int32_t scrambled);
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    int32_t Components() const { return m_components; }

    // Decodes the scan into out (which must be at least Width() x Height()
    // with pitch >= 3 * Width()); calls the load-data callback whenever more
    // than 32 rows were written since its last call. Frees the decoder
    // state before returning, whatever the result.
    int32_t Decode(const SJpegImage& out);

    // The text of the last failure for the picture type's SetError, or null
    // when the failure was recorded in the globals' error instead (the
    // refused frame types) or nothing failed.
    const char* GetError() const { return m_error; }

    // Frees the decoder state (also done by the destructor).
    void Reset();

    // Vector code paths for the whole process: JPEG_SIMD_NONE (FALSE),
    // JPEG_SIMD_BEST (TRUE: the widest the processor has) or JPEG_SIMD_SSE2
    // (at most SSE2, as on processors without AVX2). The output is the same
    // whichever is used.
    static void EnableSimd(int32_t level);

private:
    int32_t Fail(const char* text);
    SJpegState* m_state = nullptr;
    const char* m_error = nullptr;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_components = 0;
};
