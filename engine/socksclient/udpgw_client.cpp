#include "engine/socksclient/udpgw_client.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/base/blog.h"

#define BLOG_CURRENT_CHANNEL BLOG_CHANNEL_UdpGwClient

namespace {

int CompareConAddr(void*, const void* a, const void* b) {
    const auto* x = static_cast<const UdpGwConnAddr*>(a);
    const auto* y = static_cast<const UdpGwConnAddr*>(b);
    int c = BAddr_Compare(&x->remote_addr, &y->remote_addr);
    if (c != 0) return c;
    return BAddr_Compare(&x->local_addr, &y->local_addr);
}

int CompareConId(void*, const void* a, const void* b) {
    uint16_t x = *static_cast<const uint16_t*>(a), y = *static_cast<const uint16_t*>(b);
    return (x > y) - (x < y);
}

UdpGwConnection* FindByConAddr(UdpGwClient* o, const UdpGwConnAddr* conaddr) {
    BAVLNode* n = BAVL_Lookup(&o->by_conaddr, conaddr);
    return n ? BAVL_ENTRY(n, UdpGwConnection, by_conaddr_node) : nullptr;
}

UdpGwConnection* FindByConId(UdpGwClient* o, uint16_t conid) {
    BAVLNode* n = BAVL_Lookup(&o->by_conid, &conid);
    return n ? BAVL_ENTRY(n, UdpGwConnection, by_conid_node) : nullptr;
}

void SendOnConnection(UdpGwConnection* con, uint8_t flags, const uint8_t* data, int data_len) {
    PacketWriter* writer = PacketProtoFlow_GetInput(&con->send_ppflow);
    uint8_t* out = PacketWriter_StartPacket(writer);
    if (!out) {
        BLog(BLOG_ERROR, "out of buffer");
        return;
    }
    int header_len = UdpGw_WriteHeader(out, flags, con->conid, &con->conaddr.remote_addr);
    std::memcpy(out + header_len, data, static_cast<size_t>(data_len));
    PacketWriter_EndPacket(writer, header_len + data_len);
}

void FirstJob(void* user) {
    auto* con = static_cast<UdpGwConnection*>(user);
    SendOnConnection(con, static_cast<uint8_t>(con->first_flags | UDPGW_CLIENT_FLAG_REBIND), con->first_data,
                     con->first_data_len);
}

uint16_t ChooseConId(UdpGwClient* o) {
    // There is a free id below the maximum: the table is not full.
    while (FindByConId(o, static_cast<uint16_t>(o->next_conid))) {
        o->next_conid = (o->next_conid + 1) % o->max_connections;
    }
    return static_cast<uint16_t>(o->next_conid);
}

void CreateConnection(UdpGwClient* o, const UdpGwConnAddr& conaddr, uint8_t flags, const uint8_t* data,
                      int data_len) {
    auto* con = static_cast<UdpGwConnection*>(std::malloc(sizeof(UdpGwConnection)));
    if (!con) {
        BLog(BLOG_ERROR, "malloc failed");
        return;
    }
    con->client = o;
    con->conaddr = conaddr;
    con->first_flags = flags;
    con->first_data = data;
    con->first_data_len = data_len;
    con->conid = ChooseConId(o);

    // Set before the flows so that the jobs the flows set while they start
    // (making their first buffer available) run first, and this one runs
    // before anything set earlier, such as the job that lets the caller reuse
    // the datagram's buffer.
    BJob_Init(&con->first_job, BReactor_JobStack(o->reactor), FirstJob, con);
    BJob_Set(&con->first_job);

    PacketFairQueueFlow_Init(&con->send_qflow, &o->send_queue);
    if (!PacketProtoFlow_Init(&con->send_ppflow, o->udpgw_mtu, o->send_buffer_size,
                              PacketFairQueueFlow_GetInput(&con->send_qflow),
                              BReactor_JobStack(o->reactor))) {
        BLog(BLOG_ERROR, "PacketProtoFlow_Init failed");
        PacketFairQueueFlow_Free(&con->send_qflow);
        BJob_Free(&con->first_job);
        std::free(con);
        return;
    }
    BAVL_Insert(&o->by_conaddr, &con->by_conaddr_node, nullptr);
    BAVL_Insert(&o->by_conid, &con->by_conid_node, nullptr);
    LinkedList_Append(&o->lru, &con->lru_node);
    o->num_connections++;
}

void FreeConnection(UdpGwClient* o, UdpGwConnection* con) {
    BAVL_Remove(&o->by_conaddr, &con->by_conaddr_node);
    BAVL_Remove(&o->by_conid, &con->by_conid_node);
    LinkedList_Remove(&o->lru, &con->lru_node);
    o->num_connections--;
    PacketProtoFlow_Free(&con->send_ppflow);
    PacketFairQueueFlow_Free(&con->send_qflow);
    BJob_Free(&con->first_job);
    std::free(con);
}

void KeepaliveDone(void* user) {
    static_cast<UdpGwClient*>(user)->keepalive_sending = 0;
}

void Idle(void* user) {
    auto* o = static_cast<UdpGwClient*>(user);
    BLog(BLOG_INFO, "keepalive");
    if (o->keepalive_sending) return;
    o->keepalive_sending = 1;
    PacketSink_Sender_Send(PacketFairQueueFlow_GetInput(&o->keepalive_qflow), o->keepalive_packet,
                           static_cast<int>(sizeof o->keepalive_packet));
}

void DecoderError(void* user) {
    auto* o = static_cast<UdpGwClient*>(user);
    BLog(BLOG_ERROR, "decoder error");
    o->handler_servererror(o->user);
}

void Received(void* user, uint8_t* data, int len) {
    auto* o = static_cast<UdpGwClient*>(user);
    // Done at once: the frame stays valid until the decoder's next step.
    PacketSink_Done(&o->recv_if);

    UdpGwHeader header;
    BAddr addr;
    const uint8_t* payload;
    int payload_len;
    switch (UdpGw_ParsePacket(data, len, &header, &addr, &payload, &payload_len)) {
        case UDPGW_PARSE_MISSING_HEADER:
            BLog(BLOG_ERROR, "missing header");
            return;
        case UDPGW_PARSE_MISSING_IPV6:
            BLog(BLOG_ERROR, "missing ipv6 address");
            return;
        case UDPGW_PARSE_MISSING_IPV4:
            BLog(BLOG_ERROR, "missing ipv4 address");
            return;
        default:
            break;
    }
    if (payload_len > o->udp_mtu) {
        BLog(BLOG_ERROR, "too much data");
        return;
    }
    UdpGwConnection* con = FindByConId(o, header.conid);
    if (!con) {
        BLog(BLOG_ERROR, "unknown conid");
        return;
    }
    if (BAddr_Compare(&addr, &con->conaddr.remote_addr) != 0) return;  // a late reply of an earlier flow

    LinkedList_Remove(&o->lru, &con->lru_node);
    LinkedList_Append(&o->lru, &con->lru_node);
    o->handler_received(o->user, con->conaddr.local_addr, con->conaddr.remote_addr, payload, payload_len);
}

}  // namespace

int UdpGwClient_Init(UdpGwClient* o, int udp_mtu, int max_connections, int send_buffer_size,
                     btime_t keepalive_time, BReactor* reactor, void* user,
                     UdpGwClient_handler_servererror handler_servererror,
                     UdpGwClient_handler_received handler_received) {
    if (udp_mtu < 0 || max_connections < 1 || max_connections > 65536 || send_buffer_size < 1) return 0;
    o->udpgw_mtu = UdpGw_PacketMtu(udp_mtu);
    if (o->udpgw_mtu < 0 || o->udpgw_mtu > PACKETPROTO_MAXPAYLOAD) return 0;
    o->udp_mtu = udp_mtu;
    o->max_connections = max_connections;
    o->send_buffer_size = send_buffer_size;
    o->keepalive_time = keepalive_time;
    o->reactor = reactor;
    o->user = user;
    o->handler_servererror = handler_servererror;
    o->handler_received = handler_received;
    o->frame_mtu = o->udpgw_mtu + PACKETPROTO_HEADER_LEN;

    BAVL_Init(&o->by_conaddr, BAVL_KEY_OFFSET(UdpGwConnection, by_conaddr_node, conaddr), CompareConAddr,
              nullptr);
    BAVL_Init(&o->by_conid, BAVL_KEY_OFFSET(UdpGwConnection, by_conid_node, conid), CompareConId, nullptr);
    LinkedList_Init(&o->lru);
    o->num_connections = 0;
    o->next_conid = 0;
    o->have_server = 0;

    BJobStack* jobs = BReactor_JobStack(reactor);
    PacketSinkConnector_Init(&o->send_connector, o->frame_mtu, jobs);
    PacketIdleMonitor_Init(&o->send_monitor, PacketSinkConnector_GetInput(&o->send_connector), reactor,
                           keepalive_time, Idle, o);
    if (!PacketFairQueue_Init(&o->send_queue, PacketIdleMonitor_GetInput(&o->send_monitor), jobs, 1)) {
        PacketIdleMonitor_Free(&o->send_monitor);
        PacketSinkConnector_Free(&o->send_connector);
        return 0;
    }
    // The keepalive: an empty udpgw packet with the keepalive flag, framed.
    o->keepalive_packet[0] = UDPGW_HEADER_LEN;
    o->keepalive_packet[1] = 0;
    o->keepalive_packet[2] = UDPGW_CLIENT_FLAG_KEEPALIVE;
    o->keepalive_packet[3] = 0;
    o->keepalive_packet[4] = 0;
    o->keepalive_sending = 0;
    PacketFairQueueFlow_Init(&o->keepalive_qflow, &o->send_queue);
    PacketSink_Sender_Init(PacketFairQueueFlow_GetInput(&o->keepalive_qflow), KeepaliveDone, o);
    return 1;
}

void UdpGwClient_Free(UdpGwClient* o) {
    PacketFairQueue_PrepareFree(&o->send_queue);
    while (!LinkedList_IsEmpty(&o->lru)) {
        FreeConnection(o, LINKED_LIST_ENTRY(o->lru.first, UdpGwConnection, lru_node));
    }
    if (o->have_server) UdpGwClient_DropServer(o);
    PacketFairQueueFlow_Free(&o->keepalive_qflow);
    PacketFairQueue_Free(&o->send_queue);
    PacketIdleMonitor_Free(&o->send_monitor);
    PacketSinkConnector_Free(&o->send_connector);
}

int UdpGwClient_ConnectServer(UdpGwClient* o, StreamSink* send_if, StreamSource* recv_if) {
    BJobStack* jobs = BReactor_JobStack(o->reactor);
    // Any frame a 2-byte length can describe is taken off the stream whole,
    // so that a reply too large for the UDP MTU is dropped on its own with
    // "too much data" instead of ending the stream for every flow.
    PacketSink_Init(&o->recv_if, PACKETPROTO_MAXPAYLOAD, Received, o, jobs);
    if (!PacketProtoDecoder_Init(&o->recv_decoder, recv_if, &o->recv_if, jobs, o, DecoderError)) {
        BLog(BLOG_ERROR, "PacketProtoDecoder_Init failed");
        PacketSink_Free(&o->recv_if);
        return 0;
    }
    PacketToStreamSender_Init(&o->send_sender, send_if, o->frame_mtu, jobs);
    PacketSinkConnector_ConnectOutput(&o->send_connector, PacketToStreamSender_GetInput(&o->send_sender));
    o->have_server = 1;
    return 1;
}

void UdpGwClient_DropServer(UdpGwClient* o) {
    PacketSinkConnector_DisconnectOutput(&o->send_connector);
    PacketToStreamSender_Free(&o->send_sender);
    PacketProtoDecoder_Free(&o->recv_decoder);
    PacketSink_Free(&o->recv_if);
    o->have_server = 0;
}

void UdpGwClient_SendDatagram(UdpGwClient* o, BAddr local_addr, BAddr remote_addr, int is_dns,
                              const uint8_t* data, int data_len) {
    if (data_len < 0 || data_len > o->udp_mtu) return;  // the caller keeps datagrams within the UDP MTU
    if (remote_addr.type != BADDR_TYPE_IPV4 && remote_addr.type != BADDR_TYPE_IPV6) return;
    UdpGwConnAddr conaddr{local_addr, remote_addr};
    uint8_t flags = is_dns ? UDPGW_CLIENT_FLAG_DNS : 0;

    UdpGwConnection* con = FindByConAddr(o, &conaddr);
    if (!con) {
        if (o->num_connections < o->max_connections) {
            CreateConnection(o, conaddr, flags, data, data_len);
            return;
        }
        // Full: the least recently used flow gives its id to this one.
        con = LINKED_LIST_ENTRY(o->lru.first, UdpGwConnection, lru_node);
        BAVL_Remove(&o->by_conaddr, &con->by_conaddr_node);
        con->conaddr = conaddr;
        BAVL_Insert(&o->by_conaddr, &con->by_conaddr_node, nullptr);
        flags |= UDPGW_CLIENT_FLAG_REBIND;
    }
    LinkedList_Remove(&o->lru, &con->lru_node);
    LinkedList_Append(&o->lru, &con->lru_node);
    SendOnConnection(con, flags, data, data_len);
}
