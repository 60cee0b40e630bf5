// CLList: the library's one container. A doubly linked list of untyped data
// pointers with a built-in cursor and a 32-deep stack of saved positions.
// The list owns its nodes, never its data (except DeleteData / KillAllData,
// which release data through the tracked allocator).
#pragma once

#include <tarvex/export.h>

#include <tarvex/types.h>

struct TARVEX_API SLListNode {
    SLListNode* next;
    SLListNode* prev;
    void* data;
};

class TARVEX_API CLList
{
  public:
    static constexpr int32_t STACK_DEPTH = 32;

    int32_t count = 0;
    int32_t index = 0;
    SLListNode* first = nullptr;
    SLListNode* last = nullptr;
    SLListNode* current = nullptr;
    struct {
        int32_t index;
        SLListNode* node;
    } stack[STACK_DEPTH] = {};
    int32_t depth = 0;

    CLList() = default;
    // Copies share the nodes: only one of them may be used or destroyed.
    CLList(const CLList&) = default;
    CLList& operator=(const CLList&) = default;
    ~CLList();

    // Cursor.
    int16_t First();
    int16_t Last();
    int16_t Next();
    int16_t Prev();
    int16_t Exists() const { return current != nullptr ? TRUE : FALSE; }
    void* Get() const { return current != nullptr ? current->data : nullptr; }
    void* Get(uint32_t n);
    int32_t GetNumNodes() const { return count; }
    int32_t Push();
    int32_t Pop();

    // Insertion. With isNode non-zero, data is a node taken out by RemoveNode.
    int16_t InsertFirst(void* data, int32_t isNode = 0);
    int16_t InsertLast(void* data, int32_t isNode = 0);
    int16_t InsertBefore(void* data, int32_t isNode = 0);
    int16_t InsertAfter(void* data, int32_t isNode = 0);
    int32_t IfNotInsertFirst(void* data);
    int32_t IfNotInsertLast(void* data);
    int32_t IfNotInsertBefore(void* data);
    int32_t IfNotInsertAfter(void* data);

    // Search and removal.
    int32_t IsItemInList(void* data);
    int16_t ItemExists(void* data) { return static_cast<int16_t>(IsItemInList(data)); }
    int16_t Delete(int32_t freeNode = 1);
    SLListNode* RemoveNode();
    int16_t DeleteData();
    int16_t DeleteItem(void* data);
    void KillAll();
    void KillAllData();
    int32_t MoveFirst(int32_t n);

    // Unlinks and releases one node of this list in constant time. When the
    // node was current the cursor moves as with Delete; otherwise the cursor
    // is left past the end.
    void Unlink(SLListNode* node);
    // Unlinks one node without releasing it (for nodes that live inside
    // their data). A current node leaves the cursor on the node before it;
    // otherwise the cursor stays.
    void Detach(SLListNode* node);

  private:
    SLListNode* NewNode(void* data, int32_t isNode);
    void Reset();
};
