#pragma once
// All captured UDP in one stream: every flow (application address, remote
// address) gets a 16-bit connection id and its own framed send buffer; a
// fair queue shares the stream among flows, an idle monitor sends keepalives,
// and a connector holds the send side while no server stream is attached.
// Flows survive a change of server stream and keep their ids; when the table
// is full the least recently used flow's id is given to the new flow.

#include "engine/base/baddr.h"
#include "engine/base/bavl.h"
#include "engine/base/linked_list.h"
#include "engine/flow/packet_fair_queue.h"
#include "engine/flow/packet_idle_monitor.h"
#include "engine/flow/packet_proto.h"
#include "engine/flow/packet_proto_flow.h"
#include "engine/flow/packet_sink_connector.h"
#include "engine/flow/packet_to_stream_sender.h"
#include "engine/socksclient/udpgw_proto.h"

typedef void (*UdpGwClient_handler_servererror)(void* user);
typedef void (*UdpGwClient_handler_received)(void* user, BAddr local_addr, BAddr remote_addr,
                                             const uint8_t* data, int data_len);

struct UdpGwClient;

struct UdpGwConnAddr {
    BAddr local_addr;
    BAddr remote_addr;
};

struct UdpGwConnection {
    UdpGwClient* client;
    UdpGwConnAddr conaddr;
    uint8_t first_flags;
    const uint8_t* first_data;
    int first_data_len;
    uint16_t conid;
    BJob first_job;
    PacketFairQueueFlow send_qflow;
    PacketProtoFlow send_ppflow;
    BAVLNode by_conaddr_node;
    BAVLNode by_conid_node;
    LinkedListNode lru_node;
};

struct UdpGwClient {
    int udp_mtu;
    int max_connections;
    int send_buffer_size;
    btime_t keepalive_time;
    BReactor* reactor;
    void* user;
    UdpGwClient_handler_servererror handler_servererror;
    UdpGwClient_handler_received handler_received;
    int udpgw_mtu;
    int frame_mtu;
    BAVL by_conaddr;
    BAVL by_conid;
    LinkedList lru;  // least recently used first
    int num_connections;
    int next_conid;
    // send chain: fair queue -> idle monitor -> connector -> server stream
    PacketFairQueue send_queue;
    PacketIdleMonitor send_monitor;
    PacketSinkConnector send_connector;
    PacketFairQueueFlow keepalive_qflow;
    uint8_t keepalive_packet[2 + UDPGW_HEADER_LEN];
    int keepalive_sending;
    // the attached server stream
    int have_server;
    PacketToStreamSender send_sender;
    PacketProtoDecoder recv_decoder;
    PacketSink recv_if;
};

int UdpGwClient_Init(UdpGwClient* o, int udp_mtu, int max_connections, int send_buffer_size,
                     btime_t keepalive_time, BReactor* reactor, void* user,
                     UdpGwClient_handler_servererror handler_servererror,
                     UdpGwClient_handler_received handler_received);
void UdpGwClient_Free(UdpGwClient* o);
int UdpGwClient_ConnectServer(UdpGwClient* o, StreamSink* send_if, StreamSource* recv_if);
void UdpGwClient_DropServer(UdpGwClient* o);
// A new flow sends its first datagram from a pending job: `data` must stay
// valid until the loop has run the jobs set before control returns to it.
void UdpGwClient_SendDatagram(UdpGwClient* o, BAddr local_addr, BAddr remote_addr, int is_dns,
                              const uint8_t* data, int data_len);
