// Tracked and plain blocks, guard bytes, the leak list and the raw memory operations.
#include "tarvex_test.h"

#include <cstring>
#include <fstream>
#include <sstream>

using tvtest::LastError;

// The globals' own tables are tracked too: tests count from this baseline.
class MemoryTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        TarvexTest::SetUp();
        base = glb->memory->GetBytesAlloc();
        baseNodes = glb->memory->list.GetNumNodes();
    }
    SMemEntry* Newest() { return static_cast<SMemEntry*>(glb->memory->list.last->data); }
    uint32_t base = 0;
    int32_t baseNodes = 0;
};

TEST_F(MemoryTest, BlockKindsAndRelease)
{
    void* plain = xAllocMem(10, __FILE__, __LINE__);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(std::memcmp(static_cast<char*>(plain) - 4, "XFAL", 4), 0);
    EXPECT_EQ(xFreeMem(plain, __FILE__, __LINE__), TRUE);

    auto* tracked = static_cast<char*>(glb->memory->Alloc(10, "here.cpp", 7));
    ASSERT_NE(tracked, nullptr);
    EXPECT_EQ(std::memcmp(tracked - 4, "XCAL", 4), 0);
    EXPECT_EQ(tracked[10], 0x00);
    EXPECT_EQ(static_cast<uint8_t>(tracked[11]), 0xFF);
    EXPECT_STREQ(tracked + 12, "here.cpp");
    EXPECT_EQ(glb->memory->GetBytesAlloc(), base + 12u);
    EXPECT_EQ(xFreeMem(tracked, __FILE__, __LINE__), TRUE);
    EXPECT_EQ(glb->memory->GetBytesAlloc(), base);

    // The globals' allocation position wins over the arguments.
    glb->allocFile = "pos.cpp";
    glb->allocLine = 99;
    void* p = glb->memory->Alloc(1, "arg.cpp", 1);
    glb->allocFile = nullptr;
    glb->allocLine = 0;
    SMemEntry* e = Newest();
    EXPECT_STREQ(e->file, "pos.cpp");
    EXPECT_EQ(e->line, 99);
    XFREE(p);
}

TEST_F(MemoryTest, FreeFailures)
{
    // Null pointer.
    EXPECT_EQ(xFreeMem(nullptr, "f.cpp", 1), FALSE);
    EXPECT_EQ(LastError(), "xFreeMem: Invalid pointer (NULL pointer)");
    EXPECT_EQ(xFreeMemFunc(nullptr, "f.cpp", 1), FALSE);

    // A foreign block: neither header, nothing released.
    char foreign[16] = "ABCDxxxx";
    EXPECT_EQ(xFreeMem(foreign + 4, "caller.cpp", 42), FALSE);
    EXPECT_EQ(
        LastError(),
        "xFreeMem: invalid memory pointer (no XCAL or XFAL header)\nFreed in file caller.cpp at line 42");

    // A tracked-looking block the tracker does not know: the kind text right
    // in front of an aligned pointer with a zeroed header area before it.
    alignas(16) char area[256] = {};
    char* fake = area + 128 - 4;
    std::memcpy(fake, "XCAL", 4);
    EXPECT_EQ(xFreeMem(fake + 4, "who.cpp", 5), FALSE);
    EXPECT_EQ(LastError(), "Memory entry not found in file \"who.cpp\" at line 5");
    EXPECT_EQ(glb->memory->Free(fake + 4, nullptr, 0), FALSE);
    EXPECT_EQ(LastError(), "Memory entry not found");

    // An empty tracker frees nothing and reports success.
    CMemory empty;
    EXPECT_EQ(empty.Free(fake + 4, nullptr, 0), TRUE);
    EXPECT_EQ(glb->memory->GetAvail(nullptr), FALSE);
    EXPECT_EQ(LastError(), "Function not implemented yet!");
}

TEST_F(MemoryTest, OverwrittenGuardIsReportedAndBlockStillReleased)
{
    auto* p = static_cast<char*>(XALLOC(8));
    uint32_t before = glb->memory->GetBytesAlloc();
    p[8] = 1; // one byte past the end
    EXPECT_EQ(glb->memory->Free(p, nullptr, 0), FALSE);
    EXPECT_EQ(glb->error.GetErrCode(), XERR_OVERFLOW);
    EXPECT_EQ(glb->memory->GetBytesAlloc(), before - 10);
    EXPECT_EQ(glb->memory->list.GetNumNodes(), baseNodes);
}

TEST_F(MemoryTest, ManyBlocksFreedInAnyOrder)
{
    std::vector<void*> blocks;
    for (int i = 0; i < 2000; ++i)
        blocks.push_back(XALLOC(i % 37));
    for (size_t i = 0; i < blocks.size(); i += 2)
        EXPECT_EQ(XFREE(blocks[i]), TRUE);
    for (size_t i = blocks.size() - 1; i < blocks.size(); i -= 2)
        EXPECT_EQ(XFREE(blocks[i]), TRUE);
    EXPECT_EQ(glb->memory->GetBytesAlloc(), base);
}

TEST_F(MemoryTest, MemListAndLeakList)
{
    // A tracker of its own, so the listing holds exactly these two blocks.
    CMemory* own = glb->memory;
    CMemory mem;
    glb->memory = &mem;
    void* a = glb->memory->Alloc(5000, "a.cpp", 10);
    void* b = glb->memory->Alloc(10, nullptr, 20);
    ASSERT_EQ(glb->memory->PrintMemList("mem.txt"), TRUE);
    std::ifstream in("mem.txt");
    std::stringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    EXPECT_EQ(s.rfind("+------+----------+----------+----------+----------->\n"
                      "| Nr.  | Adress   | Size     | Line nr  | Allocated in file\n",
                      0),
              0u);
    EXPECT_NE(s.find("|     5000 |       10 | a.cpp\n"), std::string::npos);
    EXPECT_NE(s.find("|       10 |       20 | <File info missing>\n"), std::string::npos);
    EXPECT_NE(s.find("|    2 |        0 |     5014 |          |\n"), std::string::npos);
    EXPECT_NE(s.find("|   -  |        0 |     8192 |          |\n"), std::string::npos);

    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    glb->memory->PrintLeakList();
    xSetDprintfOutput(nullptr);
    const std::string& leak = tvtest::Trace();
    EXPECT_EQ(leak.rfind("\n------------ Memory leaked ------------\n\n", 0), 0u);
    EXPECT_NE(leak.find("|   2 |        0 |     5014 |          |\n"), std::string::npos);
    EXPECT_NE(leak.find("| XXX |        0 |     8192 |          |\n"), std::string::npos);
    XFREE(a);
    XFREE(b);
    glb->memory = own;
}

TEST_F(MemoryTest, TrackedObjectsRecordTheirCallSite)
{
    struct Thing {
        int v;
        explicit Thing(int x) : v(x) {}
    };
    Thing* t = XNEW(Thing, 7);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->v, 7);
    EXPECT_NE(std::strstr(Newest()->file, "memory_test.cpp"), nullptr);
    EXPECT_EQ(glb->allocFile, nullptr);
    XDELETE(t);
}

TEST(RawMemory, Operations)
{
    uint8_t buf[9] = {};
    xMemset24(buf, 0x112233, 2);
    const uint8_t want24[] = {0x11, 0x22, 0x33, 0x11, 0x22, 0x33, 0};
    EXPECT_EQ(std::memcmp(buf, want24, 7), 0);

    uint16_t words[7] = {};
    xMemset16(reinterpret_cast<uint8_t*>(words) + 0, 0xBEEF, 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(words[i], 0xBEEF);
    EXPECT_EQ(words[5], 0);

    EXPECT_EQ(xMemcmp("ab", "ac", 2), -1);
    EXPECT_EQ(xMemcmp("ac", "ab", 2), 1);
    EXPECT_EQ(xMemcmp("\x80", "\x01", 1), 1); // unsigned compare
    EXPECT_EQ(xMemcmp("x", "y", 0), 0);

    const char text[] = "hello";
    EXPECT_EQ(xCheckForCharInBlock(text, text + 5, 'l'), TRUE);
    EXPECT_EQ(xCheckForCharInBlock(text, text, 'h'), FALSE);
    EXPECT_EQ(xCheckForCharInBlock(text, 5u, 'o'), TRUE);
    EXPECT_EQ(xCheckForCharInBlock(text, 0u, 'h'), FALSE);
    EXPECT_EQ(xMemchr(text, 'l', 5), text + 2);
}

TEST(RawMemory, WithoutGlobalsPlainBlocksStillWork)
{
    ASSERT_EQ(glb, nullptr);
    void* p = XALLOC(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(XFREE(p), TRUE);
    EXPECT_EQ(xFreeMem(nullptr, nullptr, 0), FALSE);
}
