#pragma once
// Result codes of the TCP/IP stack and its assertion convention.

#include <cstdint>

typedef int8_t err_t;

enum : err_t {
    ERR_OK = 0,       // success
    ERR_MEM = -1,     // out of memory, or a queue limit reached
    ERR_BUF = -2,     // no room to prepend a header
    ERR_RTE = -4,     // no route to the destination
    ERR_VAL = -6,     // illegal value
    ERR_USE = -8,     // address or interface already in use
    ERR_ISCONN = -9,  // already connected
    ERR_ABRT = -10,   // connection aborted, the control block is gone
    ERR_RST = -11,    // connection reset by the peer
    ERR_CLSD = -12,   // connection closed
    ERR_CONN = -13,   // not connected
    ERR_ARG = -14,    // illegal argument
    ERR_IF = -15,     // interface error
};

// Prints "<function>: lwip assertion failure: <message>" and ends the process.
// Only programming errors reach it; packet contents never do.
[[noreturn]] void lwip_assert_fail(const char* function, const char* message);

#define LWIP_ASSERT(message, condition)                          \
    do {                                                         \
        if (!(condition)) lwip_assert_fail(__func__, (message)); \
    } while (0)
