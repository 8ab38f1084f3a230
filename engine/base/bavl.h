#pragma once
// An intrusive AVL tree. Nodes live inside their records; the key of a record
// is found at a fixed offset from its node, and a caller-supplied comparator
// orders keys. Equal keys are refused on insertion. Nothing allocates.

#include <cstddef>
#include <cstdint>

struct BAVLNode {
    BAVLNode* parent;
    BAVLNode* link[2];
    int8_t balance;  // height(right) - height(left)
};

// Negative, zero or positive as key1 orders before, with or after key2.
typedef int (*BAVL_comparator)(void* user, const void* key1, const void* key2);

struct BAVL {
    BAVLNode* root;
    ptrdiff_t key_offset;  // key address = node address + key_offset
    BAVL_comparator comparator;
    void* user;
};

void BAVL_Init(BAVL* t, ptrdiff_t key_offset, BAVL_comparator comparator, void* user);
// 1 when inserted; 0 when an equal key is present (its node in *out_existing).
int BAVL_Insert(BAVL* t, BAVLNode* node, BAVLNode** out_existing);
void BAVL_Remove(BAVL* t, BAVLNode* node);
BAVLNode* BAVL_Lookup(const BAVL* t, const void* key);
BAVLNode* BAVL_GetFirst(const BAVL* t);
BAVLNode* BAVL_GetLast(const BAVL* t);
BAVLNode* BAVL_GetNext(const BAVL* t, BAVLNode* node);
BAVLNode* BAVL_GetPrev(const BAVL* t, BAVLNode* node);
inline bool BAVL_IsEmpty(const BAVL* t) {
    return t->root == nullptr;
}

// The offset to pass as key_offset for a record type with node and key members.
#define BAVL_KEY_OFFSET(type, node_member, key_member) \
    (static_cast<ptrdiff_t>(offsetof(type, key_member)) - static_cast<ptrdiff_t>(offsetof(type, node_member)))
#define BAVL_ENTRY(node, type, member) \
    reinterpret_cast<type*>(reinterpret_cast<char*>(node) - offsetof(type, member))
