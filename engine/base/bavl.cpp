#include "engine/base/bavl.h"

namespace {

const void* KeyOf(const BAVL* t, const BAVLNode* n) {
    return reinterpret_cast<const char*>(n) + t->key_offset;
}

void ReplaceChild(BAVL* t, BAVLNode* parent, BAVLNode* old_child, BAVLNode* new_child) {
    if (!parent) {
        t->root = new_child;
    } else {
        parent->link[parent->link[1] == old_child] = new_child;
    }
    if (new_child) new_child->parent = parent;
}

// Rotates `x` down to side `dir` (0: left rotation, its right child rises);
// balances follow the general formulas so any valid balances stay exact.
BAVLNode* Rotate(BAVL* t, BAVLNode* x, int dir) {
    int other = !dir;
    BAVLNode* y = x->link[other];
    x->link[other] = y->link[dir];
    if (y->link[dir]) y->link[dir]->parent = x;
    ReplaceChild(t, x->parent, x, y);
    y->link[dir] = x;
    x->parent = y;
    int xb = x->balance, yb = y->balance;
    if (dir == 0) {
        xb = xb - 1 - (yb > 0 ? yb : 0);
        yb = yb - 1 + (xb < 0 ? xb : 0);
    } else {
        xb = xb + 1 - (yb < 0 ? yb : 0);
        yb = yb + 1 + (xb > 0 ? xb : 0);
    }
    x->balance = static_cast<int8_t>(xb);
    y->balance = static_cast<int8_t>(yb);
    return y;
}

// Restores balance at a node whose balance is +-2; returns the subtree's new root.
BAVLNode* Fix(BAVL* t, BAVLNode* p) {
    if (p->balance > 0) {
        if (p->link[1]->balance < 0) Rotate(t, p->link[1], 1);
        return Rotate(t, p, 0);
    }
    if (p->link[0]->balance > 0) Rotate(t, p->link[0], 0);
    return Rotate(t, p, 1);
}

BAVLNode* Extreme(BAVLNode* n, int side) {
    if (!n) return nullptr;
    while (n->link[side]) n = n->link[side];
    return n;
}

BAVLNode* Step(BAVLNode* n, int side) {
    if (n->link[side]) return Extreme(n->link[side], !side);
    BAVLNode* p = n->parent;
    while (p && p->link[side] == n) {
        n = p;
        p = p->parent;
    }
    return p;
}

}  // namespace

void BAVL_Init(BAVL* t, ptrdiff_t key_offset, BAVL_comparator comparator, void* user) {
    t->root = nullptr;
    t->key_offset = key_offset;
    t->comparator = comparator;
    t->user = user;
}

int BAVL_Insert(BAVL* t, BAVLNode* node, BAVLNode** out_existing) {
    node->link[0] = node->link[1] = nullptr;
    node->balance = 0;
    if (!t->root) {
        node->parent = nullptr;
        t->root = node;
        return 1;
    }
    BAVLNode* c = t->root;
    int side;
    for (;;) {
        int cmp = t->comparator(t->user, KeyOf(t, node), KeyOf(t, c));
        if (cmp == 0) {
            if (out_existing) *out_existing = c;
            return 0;
        }
        side = cmp > 0;
        if (!c->link[side]) break;
        c = c->link[side];
    }
    c->link[side] = node;
    node->parent = c;

    // Retrace: the subtree of `n` grew by one.
    BAVLNode* n = node;
    BAVLNode* p = c;
    while (p) {
        p->balance = static_cast<int8_t>(p->balance + (p->link[1] == n ? 1 : -1));
        if (p->balance == 0) break;
        if (p->balance == 2 || p->balance == -2) {
            Fix(t, p);
            break;
        }
        n = p;
        p = p->parent;
    }
    return 1;
}

void BAVL_Remove(BAVL* t, BAVLNode* a) {
    BAVLNode* p;
    int side;
    if (a->link[0] && a->link[1]) {
        // Put the successor in a's place; the height loss starts where it was.
        BAVLNode* s = Extreme(a->link[1], 0);
        if (s->parent == a) {
            p = s;
            side = 1;
        } else {
            p = s->parent;
            side = 0;
            p->link[0] = s->link[1];
            if (s->link[1]) s->link[1]->parent = p;
            s->link[1] = a->link[1];
            s->link[1]->parent = s;
        }
        s->link[0] = a->link[0];
        s->link[0]->parent = s;
        s->balance = a->balance;
        ReplaceChild(t, a->parent, a, s);
    } else {
        BAVLNode* child = a->link[0] ? a->link[0] : a->link[1];
        p = a->parent;
        side = p ? (p->link[1] == a) : 0;
        ReplaceChild(t, p, a, child);
    }

    // Retrace: the subtree on `side` of `p` shrank by one.
    while (p) {
        p->balance = static_cast<int8_t>(p->balance + (side ? -1 : 1));
        if (p->balance == 1 || p->balance == -1) break;
        if (p->balance == 2 || p->balance == -2) {
            p = Fix(t, p);
            if (p->balance != 0) break;
        }
        BAVLNode* up = p->parent;
        if (up) side = (up->link[1] == p);
        p = up;
    }
    a->parent = a->link[0] = a->link[1] = nullptr;
    a->balance = 0;
}

BAVLNode* BAVL_Lookup(const BAVL* t, const void* key) {
    BAVLNode* c = t->root;
    while (c) {
        int cmp = t->comparator(t->user, key, KeyOf(t, c));
        if (cmp == 0) return c;
        c = c->link[cmp > 0];
    }
    return nullptr;
}

BAVLNode* BAVL_GetFirst(const BAVL* t) {
    return Extreme(t->root, 0);
}

BAVLNode* BAVL_GetLast(const BAVL* t) {
    return Extreme(t->root, 1);
}

BAVLNode* BAVL_GetNext(const BAVL*, BAVLNode* node) {
    return Step(node, 1);
}

BAVLNode* BAVL_GetPrev(const BAVL*, BAVLNode* node) {
    return Step(node, 0);
}
