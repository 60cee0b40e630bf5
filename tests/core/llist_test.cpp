// CLList: cursor, insertion, removal, the position stack and MoveFirst.
#include "tarvex_test.h"

#include <string>

namespace
{
// The list's data as text, each element a char stored in the pointer.
std::string Walk(CLList& l)
{
    std::string s;
    for (l.First(); l.Exists(); l.Next())
        s += static_cast<char>(reinterpret_cast<uintptr_t>(l.Get()));
    return s;
}
void* P(char c) { return reinterpret_cast<void*>(static_cast<uintptr_t>(c)); }

void Fill(CLList& l, const char* items)
{
    for (; *items; ++items)
        l.InsertLast(P(*items));
}
} // namespace

TEST(LList, CursorPastTheEnd)
{
    CLList l;
    EXPECT_EQ(l.First(), FALSE);
    EXPECT_EQ(l.Next(), FALSE);
    Fill(l, "AB");
    l.Last();
    EXPECT_EQ(l.Next(), FALSE);
    EXPECT_EQ(l.Exists(), FALSE);
    EXPECT_EQ(l.Get(), nullptr);
    EXPECT_EQ(l.index, 2);
    EXPECT_EQ(l.Prev(), FALSE); // nothing changes without a current node
    EXPECT_EQ(l.index, 2);
    EXPECT_EQ(l.Get(1), P('B'));
    EXPECT_EQ(l.Get(7), nullptr);
}

TEST(LList, Insertions)
{
    CLList l;
    l.InsertBefore(P('C')); // empty list: only node, current
    EXPECT_EQ(l.Get(), P('C'));
    l.InsertFirst(P('A'));
    EXPECT_EQ(l.index, 1); // the cursor moved one place back with its node
    l.InsertBefore(P('B'));
    EXPECT_EQ(l.Get(), P('C'));
    EXPECT_EQ(l.index, 2);
    l.InsertAfter(P('D'));
    EXPECT_EQ(l.Get(), P('D'));
    EXPECT_EQ(l.index, 3);
    l.InsertLast(P('E'));
    EXPECT_EQ(Walk(l), "ABCDE");
    EXPECT_EQ(l.IfNotInsertLast(P('A')), TRUE);
    EXPECT_EQ(l.GetNumNodes(), 5);

    // A node taken out keeps its data when linked in again.
    l.First();
    SLListNode* n = l.RemoveNode();
    EXPECT_EQ(Walk(l), "BCDE");
    l.InsertLast(n, 1);
    EXPECT_EQ(Walk(l), "BCDEA");
}

TEST(LList, Deletion)
{
    CLList l;
    Fill(l, "ABC");
    l.Last();
    EXPECT_EQ(l.Delete(), TRUE);
    EXPECT_EQ(l.Get(), P('B')); // moved to the node before
    EXPECT_EQ(l.index, 1);
    l.First();
    EXPECT_EQ(l.Delete(), TRUE);
    EXPECT_EQ(l.Get(), P('B'));
    EXPECT_EQ(l.Delete(), FALSE); // the only node: list reset
    EXPECT_EQ(l.GetNumNodes(), 0);
    EXPECT_EQ(l.first, nullptr);
    EXPECT_EQ(l.Delete(), FALSE);

    Fill(l, "XYZ");
    EXPECT_EQ(l.DeleteItem(P('Y')), TRUE);
    EXPECT_EQ(l.DeleteItem(P('Q')), FALSE);
    EXPECT_EQ(Walk(l), "XZ");
}

TEST(LList, StackDepth)
{
    CLList l;
    Fill(l, "AB");
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(l.Push(), TRUE);
    EXPECT_EQ(l.Push(), FALSE);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(l.Pop(), TRUE);
    EXPECT_EQ(l.Pop(), FALSE);

    l.Get(1);
    l.Push();
    l.First();
    l.Pop();
    EXPECT_EQ(l.Get(), P('B'));
    EXPECT_EQ(l.index, 1);
}

TEST(LList, MoveFirst)
{
    struct {
        const char* items;
        int at, n;
        bool ok;
        const char* after;
    } cases[] = {
        {"ABCDE", 2, 2, true, "CDABE"},
        {"ABCDE", 3, 2, true, "DEABC"},  // run reaches the end
        {"ABCDE", 0, 1, false, "ABCDE"}, // already first
        {"ABCDE", 3, 3, false, "ABCDE"}, // not enough nodes left
    };
    for (const auto& c : cases) {
        CLList l;
        Fill(l, c.items);
        l.Get(c.at);
        EXPECT_EQ(l.MoveFirst(c.n), c.ok ? TRUE : FALSE) << c.after;
        if (c.ok) {
            EXPECT_EQ(l.index, 0);
            EXPECT_EQ(l.Get(), P(c.after[0]));
        }
        EXPECT_EQ(Walk(l), c.after);
        l.Last();
        EXPECT_EQ(l.Get(), P(c.after[4]));
    }
}

class LListData : public tvtest::TarvexTest
{
};

TEST_F(LListData, OwnedData)
{
    CLList l;
    l.InsertLast(XALLOC(8));
    l.InsertLast(XALLOC(8));
    l.First();
    EXPECT_EQ(l.DeleteData(), TRUE);
    EXPECT_EQ(l.DeleteData(), FALSE);
    l.KillAllData();
    EXPECT_EQ(l.GetNumNodes(), 0);
}

TEST_F(LListData, UnlinkKeepsTheListConsistent)
{
    CLList l;
    Fill(l, "ABCD");
    l.Get(3);
    l.Unlink(l.first->next); // B, not current
    EXPECT_EQ(Walk(l), "ACD");
    l.Get(1);
    l.Unlink(l.current);
    EXPECT_EQ(l.Get(), P('D'));
    EXPECT_EQ(Walk(l), "AD");
    l.Unlink(l.last);
    l.Unlink(l.first);
    EXPECT_EQ(l.GetNumNodes(), 0);
    EXPECT_EQ(l.last, nullptr);
}
