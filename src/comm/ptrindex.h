// A lookup beside a CLList of distinct pointers: which list node holds a
// given pointer. A connection lists the nodes registered with it and a node
// the connections it is registered with; a server with many clients, each
// owning nodes of its own, holds thousands of entries in both, and a walk
// per registration made setting up and tearing down every client cost time
// in proportion to the square of their number.
//
// The lookup is built only once a list grows past a few entries and let go
// when it shrinks again. Should memory for it run out it is dropped, and the
// list is walked as before: the list stays the one record of what is there.
#pragma once

#include <tarvex/llist.h>

#include <new>
#include <unordered_map>

struct SPtrIndex {
    std::unordered_map<const void*, SLListNode*> nodes;
};

namespace tvcomm
{

// Lists shorter than this are walked.
constexpr int32_t kIndexFrom = 32;
// An index whose list fell below this is let go.
constexpr int32_t kIndexDropBelow = 8;

inline void DropIndex(SPtrIndex*& index)
{
    delete index;
    index = nullptr;
}

// Builds the index of list once it is long enough. Returns whether there is one.
inline bool EnsureIndex(const CLList& list, SPtrIndex*& index)
{
    if (index != nullptr)
        return true;
    if (list.count < kIndexFrom)
        return false;
    index = new (std::nothrow) SPtrIndex;
    if (index == nullptr)
        return false;
    try {
        index->nodes.reserve(static_cast<size_t>(list.count) * 2);
        for (SLListNode* n = list.first; n != nullptr; n = n->next)
            index->nodes.emplace(n->data, n);
    } catch (...) {
        DropIndex(index);
        return false;
    }
    return true;
}

// The list node holding p, or null.
inline SLListNode* FindInList(const CLList& list, SPtrIndex*& index, const void* p)
{
    if (EnsureIndex(list, index)) {
        auto it = index->nodes.find(p);
        return it != index->nodes.end() ? it->second : nullptr;
    }
    for (SLListNode* n = list.first; n != nullptr; n = n->next)
        if (n->data == p)
            return n;
    return nullptr;
}

// Appends p (which the caller made sure is not in the list yet).
inline bool AppendToList(CLList& list, SPtrIndex*& index, void* p)
{
    if (!list.InsertLast(p))
        return false;
    if (index != nullptr) {
        try {
            index->nodes.emplace(p, list.last);
        } catch (...) {
            DropIndex(index);
        }
    }
    return true;
}

// Takes p out of the list. Returns whether it was there.
inline bool RemoveFromList(CLList& list, SPtrIndex*& index, const void* p)
{
    SLListNode* n = FindInList(list, index, p);
    if (n == nullptr)
        return false;
    if (index != nullptr)
        index->nodes.erase(p);
    list.Unlink(n);
    if (index != nullptr && list.count < kIndexDropBelow)
        DropIndex(index);
    return true;
}

// The list was emptied.
inline void ListEmptied(SPtrIndex*& index) { DropIndex(index); }

} // namespace tvcomm
