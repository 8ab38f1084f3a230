#pragma once
// The engine's core: packets read from the TUN device go to udpgw (UDP) or
// into the stack; what the stack sends and the datagrams udpgw returns are
// written to the device. Also the stack's start-up job, its TCP timer and the
// reactions to device failure and console events. Engine thread only.

#include <cstdint>

#include "engine/base/baddr.h"

void lwip_init_job_hadler(void* unused);
void tcp_timer_handler(void* unused);
void device_error_handler(void* unused);
void signal_handler(void* unused);
// The device-input interface's send handler: one packet read from the device.
void device_read_handler_send(void* unused, uint8_t* data, int data_len);
// 1 when the packet went to udpgw, 0 when it belongs to the stack.
int process_device_udp_packet(uint8_t* data, int data_len);
// Writes out the TCP segments held back to be joined.
void tcp_batch_job_handler(void* unused);
void udpgw_client_handler_received(void* unused, BAddr local_addr, BAddr remote_addr, const uint8_t* data,
                                   int data_len);
