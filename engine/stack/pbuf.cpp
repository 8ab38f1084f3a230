#include "engine/stack/pbuf.h"

#include <cstring>

#include "engine/stack/memp.h"

namespace {

enum : uint8_t { MEM_SMALL, MEM_BIG, MEM_HEAP, MEM_REF };

uint8_t* DataArea(pbuf* p) {
    return reinterpret_cast<uint8_t*>(p) + sizeof(pbuf);
}

// 32 bits wide: rounding the largest lengths (65533 to 65535) up must not wrap to 0.
constexpr uint32_t Align4(uint32_t n) {
    return (n + 3U) & ~3U;
}

uint16_t LayerOffset(pbuf_layer layer) {
    switch (layer) {
        case PBUF_TRANSPORT:
            return static_cast<uint16_t>(Align4(PBUF_LINK_HLEN + PBUF_IP_HLEN + PBUF_TRANSPORT_HLEN));
        case PBUF_IP:
            return static_cast<uint16_t>(Align4(PBUF_LINK_HLEN + PBUF_IP_HLEN));
        case PBUF_LINK:
            return static_cast<uint16_t>(Align4(PBUF_LINK_HLEN));
        case PBUF_RAW:
            return 0;
    }
    LWIP_ASSERT("pbuf_alloc: bad pbuf layer", false);
}

pbuf* NewRecord(memp_t pool, uint8_t mem) {
    auto* p = static_cast<pbuf*>(memp_malloc(pool));
    if (p == nullptr) return nullptr;
    p->next = nullptr;
    p->payload = nullptr;
    p->tot_len = 0;
    p->len = 0;
    p->flags = 0;
    p->ref = 1;
    p->mem = mem;
    return p;
}

void Release(pbuf* p) {
    switch (p->mem) {
        case MEM_SMALL:
            memp_free(MEMP_PBUF_SMALL, p);
            break;
        case MEM_BIG:
            memp_free(MEMP_PBUF_BIG, p);
            break;
        case MEM_HEAP:
            memp_free(MEMP_PBUF_HEAP, p);
            break;
        default:
            memp_free(MEMP_PBUF_REF, p);
            break;
    }
}

}  // namespace

pbuf* pbuf_alloc(pbuf_layer layer, uint16_t length, pbuf_type type) {
    uint16_t offset = LayerOffset(layer);
    pbuf* p = nullptr;
    switch (type) {
        case PBUF_POOL: {
            p = NewRecord(MEMP_PBUF_BIG, MEM_BIG);
            if (p == nullptr) return nullptr;
            p->type = PBUF_POOL;
            p->payload = DataArea(p) + offset;
            p->tot_len = length;
            uint16_t first = PBUF_POOL_BUFSIZE - offset;
            p->len = length < first ? length : first;
            uint32_t rem = length - p->len;
            pbuf* r = p;
            while (rem > 0) {
                pbuf* q = NewRecord(MEMP_PBUF_BIG, MEM_BIG);
                if (q == nullptr) {
                    pbuf_free(p);
                    return nullptr;
                }
                q->type = PBUF_POOL;
                q->payload = DataArea(q);
                q->tot_len = static_cast<uint16_t>(rem);
                q->len = static_cast<uint16_t>(rem < PBUF_POOL_BUFSIZE ? rem : PBUF_POOL_BUFSIZE);
                r->next = q;
                r = q;
                rem -= q->len;
            }
            break;
        }
        case PBUF_RAM: {
            uint32_t need = offset + Align4(length);
            if (need <= PBUF_SMALL_BUFSIZE) {
                p = NewRecord(MEMP_PBUF_SMALL, MEM_SMALL);
            } else if (need <= PBUF_BIG_BUFSIZE) {
                p = NewRecord(MEMP_PBUF_BIG, MEM_BIG);
            } else {
                p = static_cast<pbuf*>(memp_heap_malloc(sizeof(pbuf) + need));
                if (p != nullptr) {
                    p->next = nullptr;
                    p->flags = 0;
                    p->ref = 1;
                    p->mem = MEM_HEAP;
                }
            }
            if (p == nullptr) return nullptr;
            p->type = PBUF_RAM;
            p->payload = DataArea(p) + offset;
            p->len = p->tot_len = length;
            break;
        }
        case PBUF_ROM:
        case PBUF_REF:
            p = NewRecord(MEMP_PBUF_REF, MEM_REF);
            if (p == nullptr) return nullptr;
            p->type = type;
            p->len = p->tot_len = length;
            break;
        default:
            LWIP_ASSERT("pbuf_alloc: erroneous type", false);
    }
    return p;
}

pbuf_custom_ref* pbuf_custom_ref_alloc() {
    auto* pcr = static_cast<pbuf_custom_ref*>(memp_malloc(MEMP_PBUF_REF));
    if (pcr != nullptr) std::memset(pcr, 0, sizeof(*pcr));
    return pcr;
}

void pbuf_custom_ref_free(pbuf_custom_ref* p) {
    memp_free(MEMP_PBUF_REF, p);
}

void pbuf_realloc(pbuf* p, uint16_t new_len) {
    if (new_len >= p->tot_len) return;
    int32_t grow = static_cast<int32_t>(new_len) - p->tot_len;
    uint16_t rem_len = new_len;
    pbuf* q = p;
    while (rem_len > q->len) {
        rem_len = static_cast<uint16_t>(rem_len - q->len);
        q->tot_len = static_cast<uint16_t>(q->tot_len + grow);
        q = q->next;
    }
    q->len = rem_len;
    q->tot_len = rem_len;
    if (q->next != nullptr) pbuf_free(q->next);
    q->next = nullptr;
}

uint8_t pbuf_header(pbuf* p, int16_t header_size_increment) {
    if (header_size_increment == 0 || p == nullptr) return 0;
    if (header_size_increment < 0 && -header_size_increment > p->len) return 1;
    auto* payload = static_cast<uint8_t*>(p->payload);
    if (p->type == PBUF_RAM || p->type == PBUF_POOL) {
        uint8_t* np = payload - header_size_increment;
        if (np < DataArea(p)) return 1;
        p->payload = np;
    } else {
        if (header_size_increment > 0) return 1;
        p->payload = payload - header_size_increment;
    }
    p->len = static_cast<uint16_t>(p->len + header_size_increment);
    p->tot_len = static_cast<uint16_t>(p->tot_len + header_size_increment);
    return 0;
}

int pbuf_free(pbuf* p) {
    int count = 0;
    while (p != nullptr) {
        LWIP_ASSERT("pbuf_free: p->ref > 0", p->ref > 0);
        if (--p->ref != 0) break;
        pbuf* q = p->next;
        if (p->flags & PBUF_FLAG_IS_CUSTOM) {
            reinterpret_cast<pbuf_custom*>(p)->custom_free_function(p);
        } else {
            Release(p);
        }
        ++count;
        p = q;
    }
    return count;
}

void pbuf_ref(pbuf* p) {
    if (p != nullptr) ++p->ref;
}

uint16_t pbuf_clen(const pbuf* p) {
    uint16_t n = 0;
    for (; p != nullptr; p = p->next) ++n;
    return n;
}

void pbuf_cat(pbuf* h, pbuf* t) {
    LWIP_ASSERT("(h != NULL) && (t != NULL) (programmer violates API)", h != nullptr && t != nullptr);
    pbuf* p = h;
    for (; p->next != nullptr; p = p->next) p->tot_len = static_cast<uint16_t>(p->tot_len + t->tot_len);
    p->tot_len = static_cast<uint16_t>(p->tot_len + t->tot_len);
    p->next = t;
}

err_t pbuf_copy(pbuf* p_to, const pbuf* p_from) {
    LWIP_ASSERT("pbuf_copy: target not big enough to hold source",
                p_to != nullptr && p_from != nullptr && p_to->tot_len >= p_from->tot_len);
    uint16_t off_to = 0, off_from = 0;
    while (p_from != nullptr) {
        uint16_t len = static_cast<uint16_t>(p_to->len - off_to);
        if (p_from->len - off_from < len) len = static_cast<uint16_t>(p_from->len - off_from);
        std::memcpy(static_cast<uint8_t*>(p_to->payload) + off_to,
                    static_cast<const uint8_t*>(p_from->payload) + off_from, len);
        off_to = static_cast<uint16_t>(off_to + len);
        off_from = static_cast<uint16_t>(off_from + len);
        if (off_from >= p_from->len) {
            off_from = 0;
            LWIP_ASSERT("pbuf_copy() does not allow packet queues!\n",
                        p_from->len != p_from->tot_len || p_from->next == nullptr);
            p_from = p_from->next;
        }
        if (off_to >= p_to->len) {
            off_to = 0;
            LWIP_ASSERT("pbuf_copy() does not allow packet queues!\n",
                        p_to->len != p_to->tot_len || p_to->next == nullptr);
            p_to = p_to->next;
            if (p_to == nullptr) break;
        }
    }
    return ERR_OK;
}

uint16_t pbuf_copy_partial(const pbuf* p, void* dataptr, uint16_t len, uint16_t offset) {
    auto* dst = static_cast<uint8_t*>(dataptr);
    uint16_t copied = 0;
    for (; p != nullptr && len != 0; p = p->next) {
        if (offset >= p->len) {
            offset = static_cast<uint16_t>(offset - p->len);
            continue;
        }
        uint16_t n = static_cast<uint16_t>(p->len - offset);
        if (n > len) n = len;
        std::memcpy(dst + copied, static_cast<const uint8_t*>(p->payload) + offset, n);
        copied = static_cast<uint16_t>(copied + n);
        len = static_cast<uint16_t>(len - n);
        offset = 0;
    }
    return copied;
}

err_t pbuf_take(pbuf* buf, const void* dataptr, uint16_t len) {
    if (buf == nullptr || buf->tot_len < len) return ERR_ARG;
    auto* src = static_cast<const uint8_t*>(dataptr);
    uint16_t done = 0;
    for (pbuf* p = buf; p != nullptr && done < len; p = p->next) {
        uint16_t n = static_cast<uint16_t>(len - done);
        if (n > p->len) n = p->len;
        std::memcpy(p->payload, src + done, n);
        done = static_cast<uint16_t>(done + n);
    }
    return ERR_OK;
}
