// LZSS compression of files and memory blocks: a 4096-byte sliding window
// searched through a binary tree; the output is a most-significant-bit-first
// stream of literals (1 + 8 bits) and window references (0 + 12 + 4 bits),
// closed by the end item (0 + twelve zero bits). Other tools read and write
// this exact stream, so the encoder's choices are part of the format.
#pragma once

#include <tarvex/export.h>

#include <tarvex/file.h>

enum : int32_t {
    XLZSS_INDEX_BITS = 12,
    XLZSS_LENGTH_BITS = 4,
    XLZSS_WINDOW = 1 << XLZSS_INDEX_BITS,                          // 4096
    XLZSS_BREAK_EVEN = 1,                                          // longest match still sent as a literal
    XLZSS_LOOKAHEAD = (1 << XLZSS_LENGTH_BITS) + XLZSS_BREAK_EVEN, // 17
    XLZSS_END_OF_STREAM = 0,        // the reference position that ends a stream
    XLZSS_TREE_ROOT = XLZSS_WINDOW, // node 4096 is the root
    XLZSS_UNUSED = 0,               // an empty tree link
};

// Progress: (bytes done, total bytes, 1 on the first call of an operation).
using XLzssCallback = void (*)(int32_t done, int32_t total, int32_t starting);

// Links are window positions; child[0] is the smaller, child[1] the larger child.
struct TARVEX_API SLzssNode {
    uint16_t parent;
    uint16_t child[2];
};

class TARVEX_API CLzss
{
  public:
    // The window, with its first XLZSS_LOOKAHEAD bytes mirrored after the end
    // so a look-ahead string can be read without wrapping.
    uint8_t window[XLZSS_WINDOW + XLZSS_LOOKAHEAD];
    SLzssNode tree[XLZSS_WINDOW + 1];
    XLzssCallback callback = nullptr;
    int32_t interval = 0; // minimum milliseconds between progress calls
    uint8_t bitBuffer = 0;
    uint8_t bitCount = 0;
    const uint8_t* input = nullptr;
    uint8_t* output = nullptr;
    uint32_t outCount = 0;
    uint32_t outCapacity = 0;
    uint8_t countOnly = 0;

    CLzss();
    CLzss(const CLzss&) = default;
    CLzss& operator=(const CLzss&) = default;
    ~CLzss() = default;

    int32_t SetCallback(XLzssCallback func, int32_t interval);

    // Whole files. The destination of Compress is created with its folders.
    int32_t Compress(const char* srcFile, const char* dstFile);
    int32_t Expand(const char* srcFile, const char* dstFile);
    // From the current position of in to its end (or the end of its bounds
    // window). FALSE when writing fails; ExpandFile also when the stream
    // ends before its end item (the output then holds what was decoded).
    int32_t CompressFile(CFile* in, CBitFile* out);
    int32_t ExpandFile(CBitFile* in, CFile* out);

    // A new tracked block of exactly the packed size; *size in: bytes to
    // pack, out: packed size. Null for size 0 or when allocation fails.
    char* CompressBuffer(const char* data, uint32_t* size);
    // capacity 0: only counts (*size = packed size, null). Otherwise packs into
    // a new tracked block of capacity bytes (bytes beyond it are counted,
    // not stored) and returns it with *size = the packed size.
    char* CompressBuf(const char* data, uint32_t* size, int32_t capacity);

    // Trusted input only: src has no length, so it must be a complete stream
    // from this compressor; a corrupt stream makes it read past src.
    // *size in: capacity of dst (0 = only count), out: the expanded size.
    // TRUE when everything fitted; FALSE when counting or when it did not.
    int32_t ExpandBuffer(const char* src, char* dst, uint32_t* size);
    // The same for untrusted input: never reads beyond srcSize bytes of src
    // nor writes beyond *size bytes of dst. A stream that ends before its end
    // item fails with *size = 0 and an error text.
    int32_t ExpandBuffer(const char* src, uint32_t srcSize, char* dst, uint32_t* size);

  private:
    friend struct LzssCodec;

    // Bit operations of the memory forms (same meaning as CBitFile's).
    int16_t ReadBit();
    int16_t ReadBits(int16_t n);
    void WriteBit(uint8_t b);
    void WriteBits(uint32_t value, uint8_t n);
    void WriteByte(uint8_t b);
    void FlushBits();
    void FlushBitBuf();

    // The search tree over window positions.
    void ClearTree();
    void InitTree(int32_t r);
    int32_t AddString(int32_t newNode, int32_t* matchPosition);
    void DeleteString(int32_t p);
    void ContractNode(int32_t oldNode, int32_t newNode);
    void ReplaceNode(int32_t oldNode, int32_t newNode);
    int32_t FindNextNode(int32_t node);
    void DoCallback(int32_t done, int32_t total, int32_t starting);
};
