// CLzss: LZSS packing of files and memory blocks. The encoder keeps the
// binary-tree search exactly as the stream format's other users run it
// (including how ties and full-length matches are resolved, and what happens
// to the scratch node 0), since their files must come out byte for byte the
// same. Speed comes from around the tree: a search step that fetches both
// children before it has decided between them, 8-byte string comparisons on
// a window whose head is mirrored past its end, 64-bit bit accumulators, and
// buffered file input and output.
#include <tarvex/lzss.h>
#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace
{

constexpr uint32_t kMask = XLZSS_WINDOW - 1;
constexpr uint32_t kFileChunk = 64 * 1024;

inline uint64_t Load64(const uint8_t* p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// 8 bytes as a number that orders like the bytes compared one by one.
inline uint64_t ByteOrderKey(uint64_t v)
{
    if constexpr (std::endian::native == std::endian::little)
        return __builtin_bswap64(v);
    else
        return v;
}

// ---------------------------------------------------------------- byte sources

// A memory block of known length.
struct MemSource {
    const uint8_t* p;
    const uint8_t* end;
    int32_t Next() { return p < end ? *p++ : -1; }
};

// A memory block without a length (trusted streams): read as far as asked.
struct TrustedSource {
    const uint8_t* p;
    int32_t Next() { return *p++; }
};

// The rest of a file, read in chunks; left is what remains to be read.
struct FileSource {
    CFile* file;
    uint32_t left;
    uint8_t* buf;
    uint32_t pos = 0;
    uint32_t len = 0;
    uint32_t taken = 0; // bytes handed out
    int32_t Next()
    {
        if (pos == len && !Refill())
            return -1;
        ++taken;
        return buf[pos++];
    }
    bool Refill()
    {
        if (left == 0)
            return false;
        uint32_t n = std::min(left, kFileChunk);
        if (!file->Read(buf, n)) {
            left = 0;
            return false;
        }
        left -= n;
        len = n;
        pos = 0;
        return true;
    }
};

// ---------------------------------------------------------------- bit sinks

// Packs bits most significant first into whole bytes handed to Emit.
template <class Derived> struct BitSink {
    uint64_t acc = 0;
    int32_t count = 0;
    void Put(uint32_t value, int32_t bits)
    {
        acc = (acc << bits) | value;
        count += bits;
        while (count >= 8) {
            count -= 8;
            static_cast<Derived*>(this)->Emit(static_cast<uint8_t>(acc >> count));
        }
    }
    // Pads the last partial byte with zero bits.
    void Flush()
    {
        if (count != 0) {
            static_cast<Derived*>(this)->Emit(static_cast<uint8_t>(acc << (8 - count)));
            count = 0;
        }
    }
};

} // namespace

// ---------------------------------------------------------------- the tree
// Node 0 is never a window string (position 0 is the end mark), so it serves
// as the scratch slot every "unused" link points at; the writes it receives
// are part of the behaviour and are kept as they are.

namespace
{

inline void InitTreeAt(SLzssNode* tree, int32_t r)
{
    tree[XLZSS_TREE_ROOT].child[1] = static_cast<uint16_t>(r);
    tree[r].parent = XLZSS_TREE_ROOT;
    tree[r].child[1] = XLZSS_UNUSED;
    tree[r].child[0] = XLZSS_UNUSED;
}

inline void ContractNodeAt(SLzssNode* tree, int32_t oldNode, int32_t newNode)
{
    uint16_t parent = tree[oldNode].parent;
    tree[newNode].parent = parent;
    if (tree[parent].child[1] == oldNode)
        tree[parent].child[1] = static_cast<uint16_t>(newNode);
    else
        tree[parent].child[0] = static_cast<uint16_t>(newNode);
    tree[oldNode].parent = XLZSS_UNUSED;
}

inline void ReplaceNodeAt(SLzssNode* tree, int32_t oldNode, int32_t newNode)
{
    uint16_t parent = tree[oldNode].parent;
    if (tree[parent].child[0] == oldNode)
        tree[parent].child[0] = static_cast<uint16_t>(newNode);
    else
        tree[parent].child[1] = static_cast<uint16_t>(newNode);
    tree[newNode] = tree[oldNode];
    tree[tree[newNode].child[0]].parent = static_cast<uint16_t>(newNode);
    tree[tree[newNode].child[1]].parent = static_cast<uint16_t>(newNode);
    tree[oldNode].parent = XLZSS_UNUSED;
}

inline int32_t FindNextNodeAt(const SLzssNode* tree, int32_t node)
{
    int32_t next = tree[node].child[0];
    while (tree[next].child[1] != XLZSS_UNUSED)
        next = tree[next].child[1];
    return next;
}

inline void DeleteStringAt(SLzssNode* tree, int32_t p)
{
    if (tree[p].parent == XLZSS_UNUSED)
        return;
    if (tree[p].child[1] == XLZSS_UNUSED) {
        ContractNodeAt(tree, p, tree[p].child[0]);
    } else if (tree[p].child[0] == XLZSS_UNUSED) {
        ContractNodeAt(tree, p, tree[p].child[1]);
    } else {
        // The replacement has no larger child, so deleting it is a contraction.
        int32_t replacement = FindNextNodeAt(tree, p);
        if (tree[replacement].parent != XLZSS_UNUSED)
            ContractNodeAt(tree, replacement, tree[replacement].child[0]);
        ReplaceNodeAt(tree, p, replacement);
    }
}

// The search walks one level per step, and a step's cost is the wait for
// the next node's links and string. So each step loads both children's links
// and first 8 bytes before the current comparison is decided, and the
// comparison only picks one of the two (without a branch: the direction is
// a coin toss for the branch predictor). The first 8 bytes,
// byte-swapped, order like the bytes compared one by one and settle almost
// every comparison; their difference's leading zeros count the common prefix.
struct Probe {
    uint32_t links; // smaller child | larger child << 16
    uint64_t head;  // bytes 0-7 of the node's string, in byte order
};

inline Probe Fetch(const uint8_t* window, const SLzssNode* tree, size_t node)
{
    Probe p;
    std::memcpy(&p.links, &tree[node].child[0], sizeof p.links);
    p.head = ByteOrderKey(Load64(window + node));
    return p;
}

inline int32_t AddStringAt(const uint8_t* window, SLzssNode* tree, int32_t newNode, int32_t* matchPosition)
{
    if (newNode == XLZSS_END_OF_STREAM)
        return 0;
    const uint8_t* s = window + newNode;
    const uint64_t key0 = ByteOrderKey(Load64(s));
    const uint64_t key1 = ByteOrderKey(Load64(s + 8));
    size_t test = tree[XLZSS_TREE_ROOT].child[1];
    Probe cur = Fetch(window, tree, test);
    int32_t matchLength = 0;
    size_t position = 0;
    for (;;) {
        const size_t smaller = cur.links & 0xFFFF;
        const size_t largerChild = cur.links >> 16;
        const Probe a = Fetch(window, tree, smaller);
        const Probe b = Fetch(window, tree, largerChild);

        int32_t i;
        uint32_t larger;
        if (cur.head != key0) [[likely]] {
            i = std::countl_zero(key0 ^ cur.head) >> 3;
            larger = key0 > cur.head ? 1u : 0u;
        } else {
            const uint64_t other1 = ByteOrderKey(Load64(window + test + 8));
            if (other1 != key1) {
                i = 8 + (std::countl_zero(key1 ^ other1) >> 3);
                larger = key1 > other1 ? 1u : 0u;
            } else if (s[16] != window[test + 16]) {
                i = 16;
                larger = s[16] > window[test + 16] ? 1u : 0u;
            } else {
                *matchPosition = static_cast<int32_t>(test);
                ReplaceNodeAt(tree, static_cast<int32_t>(test), newNode);
                return XLZSS_LOOKAHEAD;
            }
        }
        const bool better = i >= matchLength;
        matchLength = better ? i : matchLength;
        position = better ? test : position;

        // The pick between the children is the step's critical path: one
        // conditional move each where the compiler would emit a branch.
        size_t next = smaller;
        uint64_t nextLinks = a.links;
        uint64_t nextHead = a.head;
#if defined(__x86_64__)
        asm("test %[larger], %[larger]\n\t"
            "cmovnz %[bNode], %[node]\n\t"
            "cmovnz %[bLinks], %[links]\n\t"
            "cmovnz %[bHead], %[head]"
            : [node] "+r"(next), [links] "+r"(nextLinks), [head] "+r"(nextHead)
            : [larger] "r"(larger), [bNode] "r"(largerChild), [bLinks] "r"(static_cast<uint64_t>(b.links)),
              [bHead] "r"(b.head)
            : "cc");
#else
        const uint64_t pick = 0 - static_cast<uint64_t>(larger); // all ones: the larger child
        next = (smaller & ~pick) | (largerChild & pick);
        nextLinks = (nextLinks & ~pick) | (b.links & pick);
        nextHead = (nextHead & ~pick) | (b.head & pick);
#endif
        if (next == XLZSS_UNUSED) {
            tree[test].child[larger] = static_cast<uint16_t>(newNode);
            tree[newNode].parent = static_cast<uint16_t>(test);
            tree[newNode].child[0] = XLZSS_UNUSED;
            tree[newNode].child[1] = XLZSS_UNUSED;
            *matchPosition = static_cast<int32_t>(position);
            return matchLength;
        }
        test = next;
        cur.links = static_cast<uint32_t>(nextLinks);
        cur.head = nextHead;
    }
}

} // namespace

void CLzss::ClearTree() { std::memset(tree, 0, sizeof tree); }
void CLzss::InitTree(int32_t r) { InitTreeAt(tree, r); }
int32_t CLzss::AddString(int32_t newNode, int32_t* matchPosition)
{
    return AddStringAt(window, tree, newNode, matchPosition);
}
void CLzss::DeleteString(int32_t p) { DeleteStringAt(tree, p); }
void CLzss::ContractNode(int32_t oldNode, int32_t newNode) { ContractNodeAt(tree, oldNode, newNode); }
void CLzss::ReplaceNode(int32_t oldNode, int32_t newNode) { ReplaceNodeAt(tree, oldNode, newNode); }
int32_t CLzss::FindNextNode(int32_t node) { return FindNextNodeAt(tree, node); }

// The encoder and decoder loops, shared by the file and memory forms.
struct LzssCodec {
    struct MemBits : BitSink<MemBits> {
        CLzss* z;
        explicit MemBits(CLzss* lz) : z(lz) {}
        void Emit(uint8_t b) { z->WriteByte(b); }
    };

    struct FileBits : BitSink<FileBits> {
        CBitFile* file;
        uint8_t* buf;
        uint32_t used = 0;
        bool failed = false;
        FileBits(CBitFile* f, uint8_t* b) : file(f), buf(b)
        {
            // Continue after bits the file object still holds.
            acc = f->bitBuffer;
            count = f->bitCount;
        }
        void Emit(uint8_t b)
        {
            buf[used++] = b;
            if (used == kFileChunk)
                Drain();
        }
        void Drain()
        {
            if (used != 0 && !failed && !file->Write(buf, used))
                failed = true;
            used = 0;
        }
        void Finish()
        {
            Flush();
            Drain();
            file->bitBuffer = 0;
            file->bitCount = 0;
        }
    };

    struct MemBytes {
        CLzss* z;
        void Put(uint8_t b)
        {
            if (z->outCount < z->outCapacity)
                z->output[z->outCount] = b;
            ++z->outCount;
        }
    };

    struct FileBytes {
        CFile* file;
        uint8_t* buf;
        uint32_t used = 0;
        bool failed = false;
        void Put(uint8_t b)
        {
            buf[used++] = b;
            if (used == kFileChunk)
                Drain();
        }
        void Drain()
        {
            if (used != 0 && !failed && !file->Write(buf, used))
                failed = true;
            used = 0;
        }
    };

    static void Store(CLzss& z, uint32_t pos, uint8_t c)
    {
        z.window[pos] = c;
        if (pos < static_cast<uint32_t>(XLZSS_LOOKAHEAD))
            z.window[XLZSS_WINDOW + pos] = c;
    }

    template <class Src, class Sink>

    static void Encode(CLzss& z, Src& src, Sink& sink, int32_t total)
    {
        z.DoCallback(0, total, 1);
        uint32_t lastCall = z.callback != nullptr ? xGetTime() : 0;
        int32_t done = 0;

        // The window starts as zeros so that the bytes past the end of a short
        // input, which the search compares, never depend on earlier use.
        std::memset(z.window, 0, sizeof z.window);
        z.ClearTree();
        uint32_t current = 1;
        int32_t lookAhead = 0;
        for (; lookAhead < XLZSS_LOOKAHEAD; ++lookAhead) {
            int32_t c = src.Next();
            if (c < 0)
                break;
            ++done;
            Store(z, current + lookAhead, static_cast<uint8_t>(c));
        }
        InitTreeAt(z.tree, static_cast<int32_t>(current));

        int32_t matchLength = 0;
        int32_t matchPosition = 0;
        while (lookAhead > 0) {
            if (matchLength > lookAhead)
                matchLength = lookAhead;
            int32_t replace;
            if (matchLength <= XLZSS_BREAK_EVEN) {
                sink.Put(0x100u | z.window[current], 9);
                replace = 1;
            } else {
                sink.Put((static_cast<uint32_t>(matchPosition) << XLZSS_LENGTH_BITS) |
                             static_cast<uint32_t>(matchLength - (XLZSS_BREAK_EVEN + 1)),
                         1 + XLZSS_INDEX_BITS + XLZSS_LENGTH_BITS);
                replace = matchLength;
            }
            for (int32_t i = 0; i < replace; ++i) {
                uint32_t ahead = (current + XLZSS_LOOKAHEAD) & kMask;
                DeleteStringAt(z.tree, static_cast<int32_t>(ahead));
                int32_t c = src.Next();
                if (c < 0) {
                    --lookAhead;
                } else {
                    ++done;
                    Store(z, ahead, static_cast<uint8_t>(c));
                }
                current = (current + 1) & kMask;
                if (lookAhead != 0)
                    matchLength =
                        AddStringAt(z.window, z.tree, static_cast<int32_t>(current), &matchPosition);
            }
            if (z.callback != nullptr) {
                uint32_t now = xGetTime();
                if (xTimeDiff(lastCall, now) > static_cast<uint32_t>(z.interval)) {
                    z.DoCallback(done, total, 0);
                    lastCall = now;
                }
            }
        }
        z.DoCallback(total, total, 0);
        sink.Put(XLZSS_END_OF_STREAM, 1 + XLZSS_INDEX_BITS);
        sink.Flush();
    }

    // Bits are taken from whole bytes only as far as each field needs, so a
    // decoder never reads a byte past the one that holds the end item.
    // Returns false when the source ran out before the end item.
    template <class Src, class Sink>
    static bool Decode(CLzss& z, Src& src, Sink& sink, uint64_t& acc, int32_t& count)
    {
        std::memset(z.window, 0, sizeof z.window);
        z.ClearTree();
        auto need = [&](int32_t bits) {
            while (count < bits) {
                int32_t b = src.Next();
                if (b < 0)
                    return false;
                acc = (acc << 8) | static_cast<uint32_t>(b);
                count += 8;
            }
            return true;
        };
        auto take = [&](int32_t bits) {
            count -= bits;
            return static_cast<uint32_t>(acc >> count) & ((1u << bits) - 1);
        };
        uint8_t* window = z.window;
        uint32_t current = 1;
        for (;;) {
            // Every item is followed by at least the 13-bit end item, so asking
            // for 13 bits never reaches past a complete stream.
            if (!need(1 + XLZSS_INDEX_BITS))
                return false;
            if (take(1) != 0) {
                if (!need(8))
                    return false;
                uint8_t c = static_cast<uint8_t>(take(8));
                sink.Put(c);
                window[current] = c;
                current = (current + 1) & kMask;
                continue;
            }
            uint32_t position = take(XLZSS_INDEX_BITS);
            if (position == XLZSS_END_OF_STREAM)
                return true;
            if (!need(XLZSS_LENGTH_BITS))
                return false;
            uint32_t length = take(XLZSS_LENGTH_BITS) + XLZSS_BREAK_EVEN + 1;
            for (uint32_t i = 0; i < length; ++i) {
                uint8_t c = window[(position + i) & kMask];
                sink.Put(c);
                window[current] = c;
                current = (current + 1) & kMask;
            }
        }
    }
};

// ---------------------------------------------------------------- CLzss

CLzss::CLzss()
{
    std::memset(window, 0, sizeof window);
    std::memset(tree, 0, sizeof tree);
}

int32_t CLzss::SetCallback(XLzssCallback func, int32_t ms)
{
    callback = func;
    interval = ms;
    return TRUE;
}

void CLzss::DoCallback(int32_t done, int32_t total, int32_t starting)
{
    if (callback != nullptr)
        callback(done, total, starting);
}

int32_t CLzss::Compress(const char* srcFile, const char* dstFile)
{
    CFile in;
    CBitFile out;
    if (!in.Open(srcFile, XFILE_READ))
        return FALSE;
    if (!out.Open(dstFile, XFILE_WRITE | XFILE_CREATE_DIRS))
        return FALSE;
    int32_t ok = CompressFile(&in, &out);
    out.Close();
    in.Close();
    return ok;
}

int32_t CLzss::Expand(const char* srcFile, const char* dstFile)
{
    CBitFile in;
    CFile out;
    if (!in.Open(srcFile, XFILE_READ))
        return FALSE;
    if (!out.Open(dstFile, XFILE_WRITE))
        return FALSE;
    int32_t ok = ExpandFile(&in, &out);
    out.Close();
    in.Close();
    return ok;
}

namespace
{
// Bytes from the current position to the end of the file (or its window).
bool RemainingBytes(CFile* f, uint32_t* total, uint32_t* left)
{
    uint32_t pos = 0;
    if (!f->GetSize(total) || !f->GetPos(&pos, 0))
        return false;
    *left = pos < *total ? *total - pos : 0;
    return true;
}
} // namespace

int32_t CLzss::CompressFile(CFile* in, CBitFile* out)
{
    if (in == nullptr || out == nullptr)
        return xErrorTxt_Func("CLzss::CompressFile: Missing file pointer.", __FILE__, __LINE__);
    uint32_t total = 0;
    uint32_t left = 0;
    if (!RemainingBytes(in, &total, &left))
        return FALSE;
    auto* buffers = static_cast<uint8_t*>(XALLOC(2 * kFileChunk));
    if (buffers == nullptr)
        return FALSE;
    FileSource src{in, left, buffers};
    LzssCodec::FileBits sink(out, buffers + kFileChunk);
    LzssCodec::Encode(*this, src, sink, static_cast<int32_t>(total));
    sink.Finish();
    XFREE(buffers);
    return sink.failed ? FALSE : TRUE;
}

int32_t CLzss::ExpandFile(CBitFile* in, CFile* out)
{
    if (in == nullptr || out == nullptr)
        return xErrorTxt_Func("CLzss::ExpandFile: Missing file pointer.", __FILE__, __LINE__);
    uint32_t total = 0;
    uint32_t left = 0;
    uint32_t start = 0;
    if (!RemainingBytes(in, &total, &left) || !in->GetPos(&start, 0))
        return FALSE;
    auto* buffers = static_cast<uint8_t*>(XALLOC(2 * kFileChunk));
    if (buffers == nullptr)
        return FALSE;
    FileSource src{in, left, buffers};
    LzssCodec::FileBytes sink{out, buffers + kFileChunk};
    // Bits the file object already holds come first.
    uint64_t acc = in->bitCount != 0 ? (in->bitBuffer >> (8 - in->bitCount)) : 0;
    int32_t count = in->bitCount;
    bool complete = LzssCodec::Decode(*this, src, sink, acc, count);
    sink.Drain();
    XFREE(buffers);
    // Leave the input just after the last byte used, its unused bits pending.
    in->bitCount = static_cast<uint8_t>(count);
    in->bitBuffer = static_cast<uint8_t>(count != 0 ? acc << (8 - count) : 0);
    in->Seek(static_cast<int32_t>(start + src.taken), XSEEK_SET);
    if (sink.failed)
        return FALSE;
    if (!complete)
        return xErrorTxt_Func("CLzss::ExpandFile: The packed data ends before its end mark.", __FILE__,
                              __LINE__);
    return TRUE;
}

char* CLzss::CompressBuf(const char* data, uint32_t* size, int32_t capacity)
{
    if (size == nullptr || (data == nullptr && *size != 0)) {
        xErrorTxt_Func("CLzss::CompressBuf: Missing data.", __FILE__, __LINE__);
        return nullptr;
    }
    char* block = nullptr;
    countOnly = capacity <= 0 ? 1 : 0;
    if (!countOnly) {
        block = static_cast<char*>(XALLOC(static_cast<uint32_t>(capacity)));
        if (block == nullptr)
            return nullptr;
    }
    output = reinterpret_cast<uint8_t*>(block);
    outCapacity = countOnly ? 0 : static_cast<uint32_t>(capacity);
    outCount = 0;
    bitBuffer = bitCount = 0;
    input = reinterpret_cast<const uint8_t*>(data);
    MemSource src{input, input + *size};
    LzssCodec::MemBits sink(this);
    LzssCodec::Encode(*this, src, sink, static_cast<int32_t>(*size));
    input = src.p;
    *size = outCount;
    return block;
}

char* CLzss::CompressBuffer(const char* data, uint32_t* size)
{
    if (size == nullptr || *size == 0 || data == nullptr)
        return nullptr;
    // Literals cost 9 bits a byte and references less, so one pass into a
    // block of that bound, then an exact copy, replaces a counting pass.
    uint64_t bound = (uint64_t{*size} * 9 + 13 + 7) / 8;
    uint32_t packed = *size;
    char* result = nullptr;
    if (bound <= 0x7FFFFFFF) {
        char* tmp = CompressBuf(data, &packed, static_cast<int32_t>(bound));
        if (tmp == nullptr)
            return nullptr;
        result = static_cast<char*>(XALLOC(packed));
        if (result != nullptr)
            std::memcpy(result, tmp, packed);
        XFREE(tmp);
    } else {
        CompressBuf(data, &packed, 0);
        uint32_t counted = packed;
        if (counted > 0x7FFFFFFF)
            return nullptr;
        packed = *size;
        result = CompressBuf(data, &packed, static_cast<int32_t>(counted));
    }
    if (result != nullptr)
        *size = packed;
    return result;
}

int32_t CLzss::ExpandBuffer(const char* src, char* dst, uint32_t* size)
{
    if (src == nullptr || size == nullptr)
        return xErrorTxt_Func("CLzss::ExpandBuffer: Missing data.", __FILE__, __LINE__);
    countOnly = *size == 0 ? 1 : 0;
    output = reinterpret_cast<uint8_t*>(dst);
    outCapacity = dst != nullptr ? *size : 0;
    outCount = 0;
    input = reinterpret_cast<const uint8_t*>(src);
    TrustedSource in{input};
    LzssCodec::MemBytes sink{this};
    uint64_t acc = 0;
    int32_t count = 0;
    LzssCodec::Decode(*this, in, sink, acc, count);
    input = in.p;
    uint32_t capacity = *size;
    *size = outCount;
    return !countOnly && outCount <= capacity && dst != nullptr ? TRUE : FALSE;
}

int32_t CLzss::ExpandBuffer(const char* src, uint32_t srcSize, char* dst, uint32_t* size)
{
    if ((src == nullptr && srcSize != 0) || size == nullptr)
        return xErrorTxt_Func("CLzss::ExpandBuffer: Missing data.", __FILE__, __LINE__);
    countOnly = *size == 0 ? 1 : 0;
    output = reinterpret_cast<uint8_t*>(dst);
    outCapacity = dst != nullptr ? *size : 0;
    outCount = 0;
    input = reinterpret_cast<const uint8_t*>(src);
    MemSource in{input, input + srcSize};
    LzssCodec::MemBytes sink{this};
    uint64_t acc = 0;
    int32_t count = 0;
    bool complete = LzssCodec::Decode(*this, in, sink, acc, count);
    input = in.p;
    uint32_t capacity = *size;
    if (!complete) {
        *size = 0;
        return xErrorTxt_Func("CLzss::ExpandBuffer: The packed data ends before its end mark.", __FILE__,
                              __LINE__);
    }
    *size = outCount;
    return !countOnly && outCount <= capacity && dst != nullptr ? TRUE : FALSE;
}

// ---------------------------------------------------------------- bit operations

int16_t CLzss::ReadBit()
{
    if (bitCount == 0) {
        bitBuffer = *input++;
        bitCount = 8;
    }
    int16_t bit = (bitBuffer & 0x80) != 0 ? 1 : 0;
    bitBuffer = static_cast<uint8_t>(bitBuffer << 1);
    --bitCount;
    return bit;
}

int16_t CLzss::ReadBits(int16_t n)
{
    int16_t v = 0;
    for (int16_t i = 0; i < n && i < 16; ++i)
        v = static_cast<int16_t>((v << 1) | ReadBit());
    return v;
}

void CLzss::WriteBit(uint8_t b)
{
    bitBuffer = static_cast<uint8_t>(bitBuffer * 2 + (b & 1));
    if (++bitCount == 8) {
        WriteByte(bitBuffer);
        bitBuffer = 0;
        bitCount = 0;
    }
}

void CLzss::WriteBits(uint32_t value, uint8_t n)
{
    for (int32_t i = n - 1; i >= 0; --i)
        WriteBit(static_cast<uint8_t>((value >> i) & 1));
}

void CLzss::WriteByte(uint8_t b)
{
    if (outCount < outCapacity && !countOnly)
        output[outCount] = b;
    ++outCount;
}

void CLzss::FlushBits()
{
    if (bitCount != 0) {
        WriteByte(static_cast<uint8_t>(bitBuffer << (8 - bitCount)));
        bitBuffer = 0;
        bitCount = 0;
    }
}

void CLzss::FlushBitBuf()
{
    bitBuffer = 0;
    bitCount = 0;
}
