// CLList: doubly linked list of data pointers with a cursor and a stack of
// saved cursor positions. Nodes come from the untracked runtime heap so the
// memory tracker can use lists itself.
#include <tarvex/llist.h>
#include <tarvex/memory.h>

#include "platform/platform.h"

CLList::~CLList() { KillAll(); }

void CLList::Reset()
{
    count = 0;
    index = 0;
    first = last = current = nullptr;
    depth = 0;
    for (auto& s : stack)
        s = {0, nullptr};
}

SLListNode* CLList::NewNode(void* data, int32_t isNode)
{
    if (isNode != 0)
        return static_cast<SLListNode*>(data);
    auto* n = static_cast<SLListNode*>(tvp::HeapAlloc(sizeof(SLListNode)));
    if (n != nullptr)
        *n = {nullptr, nullptr, data};
    return n;
}

int16_t CLList::First()
{
    current = first;
    index = 0;
    return first != nullptr ? TRUE : FALSE;
}

int16_t CLList::Last()
{
    current = last;
    index = count - 1;
    return last != nullptr ? TRUE : FALSE;
}

int16_t CLList::Next()
{
    if (current == nullptr)
        return FALSE;
    current = current->next;
    ++index;
    return current != nullptr ? TRUE : FALSE;
}

int16_t CLList::Prev()
{
    if (current == nullptr)
        return FALSE;
    current = current->prev;
    --index;
    return current != nullptr ? TRUE : FALSE;
}

void* CLList::Get(uint32_t n)
{
    First();
    for (uint32_t i = 0; i < n && current != nullptr; ++i)
        Next();
    return Get();
}

int32_t CLList::Push()
{
    if (depth >= STACK_DEPTH)
        return FALSE;
    stack[depth++] = {index, current};
    return TRUE;
}

int32_t CLList::Pop()
{
    if (depth <= 0)
        return FALSE;
    --depth;
    index = stack[depth].index;
    current = stack[depth].node;
    return TRUE;
}

int16_t CLList::InsertFirst(void* data, int32_t isNode)
{
    SLListNode* n = NewNode(data, isNode);
    if (n == nullptr)
        return FALSE;
    n->prev = nullptr;
    n->next = first;
    if (first == nullptr) {
        first = last = current = n;
        index = 0;
    } else {
        first->prev = n;
        first = n;
        ++index;
    }
    ++count;
    return TRUE;
}

int16_t CLList::InsertLast(void* data, int32_t isNode)
{
    SLListNode* n = NewNode(data, isNode);
    if (n == nullptr)
        return FALSE;
    n->next = nullptr;
    n->prev = last;
    if (last == nullptr) {
        first = last = current = n;
        index = 0;
    } else {
        last->next = n;
        last = n;
    }
    ++count;
    return TRUE;
}

int16_t CLList::InsertBefore(void* data, int32_t isNode)
{
    if (first == nullptr)
        return InsertFirst(data, isNode);
    if (current == nullptr) // cursor past the end: append
        return InsertLast(data, isNode);
    SLListNode* n = NewNode(data, isNode);
    if (n == nullptr)
        return FALSE;
    n->next = current;
    n->prev = current->prev;
    if (current->prev != nullptr)
        current->prev->next = n;
    else
        first = n;
    current->prev = n;
    ++index;
    ++count;
    return TRUE;
}

int16_t CLList::InsertAfter(void* data, int32_t isNode)
{
    if (first == nullptr)
        return InsertFirst(data, isNode);
    if (current == nullptr) { // cursor past the end: append and make it current
        if (InsertLast(data, isNode) == FALSE)
            return FALSE;
        current = last;
        index = count - 1;
        return TRUE;
    }
    SLListNode* n = NewNode(data, isNode);
    if (n == nullptr)
        return FALSE;
    n->prev = current;
    n->next = current->next;
    if (current->next != nullptr)
        current->next->prev = n;
    else
        last = n;
    current->next = n;
    current = n;
    ++index;
    ++count;
    return TRUE;
}

int32_t CLList::IfNotInsertFirst(void* data) { return IsItemInList(data) ? TRUE : InsertFirst(data); }
int32_t CLList::IfNotInsertLast(void* data) { return IsItemInList(data) ? TRUE : InsertLast(data); }
int32_t CLList::IfNotInsertBefore(void* data) { return IsItemInList(data) ? TRUE : InsertBefore(data); }
int32_t CLList::IfNotInsertAfter(void* data) { return IsItemInList(data) ? TRUE : InsertAfter(data); }

int32_t CLList::IsItemInList(void* data)
{
    for (First(); current != nullptr; Next())
        if (current->data == data)
            return TRUE;
    return FALSE;
}

int16_t CLList::Delete(int32_t freeNode)
{
    if (current == nullptr)
        return FALSE;
    SLListNode* n = current;
    if (count == 1) {
        if (freeNode == 1)
            tvp::HeapFree(n);
        Reset();
        return FALSE;
    }
    if (n->prev != nullptr)
        n->prev->next = n->next;
    else
        first = n->next;
    if (n->next != nullptr) {
        n->next->prev = n->prev;
        current = n->next;
    } else {
        last = n->prev;
        current = n->prev;
        --index; // the cursor stepped back onto the previous node
    }
    --count;
    n->next = n->prev = nullptr;
    if (freeNode == 1)
        tvp::HeapFree(n);
    return TRUE;
}

SLListNode* CLList::RemoveNode()
{
    SLListNode* n = current;
    if (n == nullptr)
        return nullptr;
    Delete(0);
    n->next = n->prev = nullptr;
    return n;
}

int16_t CLList::DeleteData()
{
    if (current == nullptr || current->data == nullptr)
        return FALSE;
    xFreeMem(current->data, __FILE__, __LINE__);
    current->data = nullptr;
    return TRUE;
}

int16_t CLList::DeleteItem(void* data)
{
    if (!IsItemInList(data))
        return FALSE;
    Delete(1);
    return TRUE;
}

void CLList::KillAll()
{
    SLListNode* n = first;
    while (n != nullptr) {
        SLListNode* next = n->next;
        tvp::HeapFree(n);
        n = next;
    }
    Reset();
}

void CLList::KillAllData()
{
    for (SLListNode* n = first; n != nullptr; n = n->next)
        if (n->data != nullptr)
            xFreeMem(n->data, __FILE__, __LINE__);
    KillAll();
}

int32_t CLList::MoveFirst(int32_t n)
{
    if (current == nullptr || current == first || n <= 0 || count - index < n)
        return FALSE;
    SLListNode* runFirst = current;
    SLListNode* runLast = current;
    for (int32_t i = 1; i < n; ++i)
        runLast = runLast->next;
    // Cut the run out.
    SLListNode* before = runFirst->prev;
    SLListNode* after = runLast->next;
    before->next = after;
    if (after != nullptr)
        after->prev = before;
    else
        last = before;
    // Put it in front.
    runFirst->prev = nullptr;
    runLast->next = first;
    first->prev = runLast;
    first = runFirst;
    current = first;
    index = 0;
    return TRUE;
}

void CLList::Detach(SLListNode* node)
{
    if (node->prev != nullptr)
        node->prev->next = node->next;
    else
        first = node->next;
    if (node->next != nullptr)
        node->next->prev = node->prev;
    else
        last = node->prev;
    --count;
    if (current == node) {
        current = node->prev;
        --index;
    }
    node->next = node->prev = nullptr;
}

void CLList::Unlink(SLListNode* node)
{
    if (node == nullptr)
        return;
    if (node == current) {
        Delete(1);
        return;
    }
    if (count == 1) {
        tvp::HeapFree(node);
        Reset();
        return;
    }
    Detach(node);
    tvp::HeapFree(node);
    // Finding the cursor's new index would cost a walk: park it past the end.
    current = nullptr;
    index = count;
}
