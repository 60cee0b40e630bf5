// Tracked blocks: alignment of what the tracker hands out, its leak records,
// and what a release of a foreign or overrun block reports.
#include "core/textcopy.h"
#include "tarvex_test.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace
{

class MemoryTracker : public tvtest::TarvexTest
{
};

TEST_F(MemoryTracker, BlocksAreAlignedAndRecorded)
{
    CMemory* m = glb->memory;
    int32_t before = m->list.GetNumNodes();
    uint32_t bytes = m->GetBytesAlloc();
    void* a = XALLOC(3);
    void* b = XALLOC(100);
    CLList* obj = XNEW(CLList);
    for (void* p : {a, b, static_cast<void*>(obj)})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
    ASSERT_EQ(m->list.GetNumNodes(), before + 3);
    auto* last = static_cast<SMemEntry*>(m->list.last->data);
    EXPECT_EQ(last->address, obj);
    EXPECT_EQ(last->size, sizeof(CLList));
    EXPECT_NE(std::string(last->file).find("memory_tracker_test.cpp"), std::string::npos);
    EXPECT_EQ(m->GetBytesAlloc(), bytes + 3 + 2 + 100 + 2 + sizeof(CLList) + 2);
    EXPECT_TRUE(XFREE(b)); // from the middle of the list
    XDELETE(obj);
    EXPECT_TRUE(XFREE(a));
    EXPECT_EQ(m->list.GetNumNodes(), before);
    EXPECT_EQ(m->GetBytesAlloc(), bytes);
}

TEST_F(MemoryTracker, ForeignAndOverrunBlocksAreReported)
{
    void* plain = xAllocMem(8, __FILE__, __LINE__);
    EXPECT_TRUE(xFreeMem(plain, __FILE__, __LINE__)); // plain blocks go back to the heap
    auto* p = static_cast<char*>(XALLOC(64));
    char* inner = p + 32;              // not a block start: its header is no tracker's
    std::memcpy(inner - 4, "XCAL", 4); // even when it looks like one
    EXPECT_FALSE(glb->memory->Free(inner, "f.cpp", 7));
    EXPECT_EQ(tvtest::LastError(), "Memory entry not found in file \"f.cpp\" at line 7");
    p[64] = 1; // overwrite the guard behind the data
    EXPECT_FALSE(XFREE(p));
    EXPECT_EQ(glb->error.GetErrCode(), XERR_OVERFLOW);
}

// A text copy is recorded at the line that asked for it, so a leaked copy
// leads to the code that made it rather than to the helper.
TEST_F(MemoryTracker, TextCopiesNameTheirCaller)
{
    CMemory* m = glb->memory;
    const int32_t line = __LINE__ + 1;
    char* copy = tvcore::CopyText("name");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "name");
    auto* last = static_cast<SMemEntry*>(m->list.last->data);
    EXPECT_EQ(last->address, copy);
    EXPECT_NE(std::string(last->file).find("memory_tracker_test.cpp"), std::string::npos) << last->file;
    EXPECT_EQ(last->line, line);
    tvcore::FreeText(copy);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(tvcore::CopyText(nullptr), nullptr);
}

} // namespace
