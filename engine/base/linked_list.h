#pragma once
// An intrusive doubly linked list: nodes live inside the records they link,
// so adding and removing never allocates.

#include <cstddef>

struct LinkedListNode {
    LinkedListNode* prev;
    LinkedListNode* next;
};

struct LinkedList {
    LinkedListNode* first;
    LinkedListNode* last;
};

inline void LinkedList_Init(LinkedList* l) {
    l->first = nullptr;
    l->last = nullptr;
}

inline bool LinkedList_IsEmpty(const LinkedList* l) {
    return l->first == nullptr;
}

inline void LinkedList_Append(LinkedList* l, LinkedListNode* n) {
    n->prev = l->last;
    n->next = nullptr;
    if (l->last) {
        l->last->next = n;
    } else {
        l->first = n;
    }
    l->last = n;
}

inline void LinkedList_Prepend(LinkedList* l, LinkedListNode* n) {
    n->prev = nullptr;
    n->next = l->first;
    if (l->first) {
        l->first->prev = n;
    } else {
        l->last = n;
    }
    l->first = n;
}

inline void LinkedList_Remove(LinkedList* l, LinkedListNode* n) {
    if (n->prev) {
        n->prev->next = n->next;
    } else {
        l->first = n->next;
    }
    if (n->next) {
        n->next->prev = n->prev;
    } else {
        l->last = n->prev;
    }
    n->prev = nullptr;
    n->next = nullptr;
}

// The record that embeds `node` as `member`.
#define LINKED_LIST_ENTRY(node, type, member) \
    reinterpret_cast<type*>(reinterpret_cast<char*>(node) - offsetof(type, member))
