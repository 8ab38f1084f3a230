#pragma once
// The engine's core: the TUN device and the stack's interface. Packets read
// from the device go to the UDP relay or into the stack; what the stack sends
// is written to the device, TCP segments of one burst joined into one write.
// Also the stack's start-up job, its TCP timer and the reactions to device
// failure and console events. Engine thread only, except the init functions,
// which the start runs before the engine thread exists.

#include <cstdint>

#include "engine/flow/flow_interfaces.h"
#include "engine/flow/single_packet_buffer.h"
#include "engine/stack/netif.h"
#include "engine/system/breactor.h"
#include "engine/tun2socks/tcp_batch.h"
#include "engine/tuntap/btap.h"

// The core's state. Each part is built by its init function and released by
// the matching free, which does nothing for a part that was not built.
struct EngineCore {
    // The device and its read path.
    int have_device;
    BTap device;
    PacketSink device_input;
    int have_device_reader;
    SinglePacketBuffer device_read_buffer;

    // The stack and its interface, brought up by the start-up job.
    int have_stack;
    BJob lwip_init_job;
    int have_netif;
    netif the_netif;

    // The write path: a device-MTU buffer for chained packets and UDP
    // replies, and the joining of TCP segments.
    int have_writer;
    uint8_t* device_write_buf;
    uint8_t* device_read_more_buf;  // packets read in the same pass as the one the reactor delivered
    TcpBatch tcp_batch;
    int batching;        // whether segments are joined at all
    BJob tcp_batch_job;  // writes the batch out once the current burst is over

    int have_tcp_timer;
    BReactorTimer tcp_timer;
    uint8_t tcp_timer_ticks;
    BReactorTimer rexmit_timer;   // runs while some connection has data in flight
    BReactorTimer release_timer;  // gives memory no longer in use back to the system
};

// Opens the device and its input interface; 0 when the device could not be opened.
int core_init_device(void);
void core_free_device(void);
// The buffer that carries each packet read from the device to the core; 1 or 0.
int core_init_device_reader(void);
void core_free_device_reader(void);
// Sets the job that brings the stack up on the engine thread. The free takes
// the interface out and releases the stack's memory.
void core_init_stack(void);
void core_free_stack(void);
// The device write buffer and the segment batch; 1 or 0 (out of memory).
int core_init_writer(void);
void core_free_writer(void);
// Starts the 250 ms TCP timer.
void core_init_tcp_timer(void);
void core_free_tcp_timer(void);

int core_device_mtu(void);
// Writes a packet built outside the stack (a UDP reply) after whatever TCP
// segments are held back to be joined.
void core_write_packet(const uint8_t* data, int len);

void lwip_init_job_hadler(void* unused);
void tcp_timer_handler(void* unused);
void rexmit_timer_handler(void* unused);
void release_timer_handler(void* unused);
void device_error_handler(void* unused);
void signal_handler(void* unused);
// The device-input interface's send handler: one packet read from the device.
void device_read_handler_send(void* unused, uint8_t* data, int data_len);
// Writes out the TCP segments held back to be joined.
void tcp_batch_job_handler(void* unused);
