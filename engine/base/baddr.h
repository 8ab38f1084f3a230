#pragma once
// The engine's address values: BIPAddr (an IP address) and BAddr (an IP
// endpoint), with addresses and ports kept in network byte order, their text
// forms, parsing and a total order.

#include <cstddef>
#include <cstdint>

enum {
    BADDR_TYPE_NONE = 0,
    BADDR_TYPE_IPV4 = 1,
    BADDR_TYPE_IPV6 = 2,
};

// Longest BAddr_ToText / BIPAddr_ToText output, terminator included.
#define BADDR_MAX_PRINT_LEN 46
#define BIPADDR_MAX_PRINT_LEN 40

// Longest name BIPAddr_Resolve looks up.
#define BADDR_MAX_NAME_LEN 128

struct BIPAddr {
    int type;
    union {
        uint32_t ipv4;  // network order
        uint8_t ipv6[16];
    };
};

struct BAddr {
    int type;  // values other than IPv4 and IPv6 count as none
    union {
        struct {
            uint32_t ip;    // network order
            uint16_t port;  // network order
        } ipv4;
        struct {
            uint8_t ip[16];
            uint16_t port;  // network order
        } ipv6;
    };
};

void BIPAddr_InitInvalid(BIPAddr* addr);
void BIPAddr_InitIPv4(BIPAddr* addr, uint32_t ip);
void BIPAddr_InitIPv6(BIPAddr* addr, const uint8_t* ip);

// A name of at most 128 characters, "[...]" for IPv6, else IPv4, through
// getaddrinfo of that family; with `noresolve` only literal addresses are
// accepted. Returns 1 on success, 0 otherwise.
int BIPAddr_Resolve(const char* str, BIPAddr* out, int noresolve);
// "(none)", dotted quad, or eight uncompressed lower-case hex groups; `out`
// holds at least BIPADDR_MAX_PRINT_LEN bytes. Other types write nothing.
void BIPAddr_ToText(const BIPAddr* addr, char* out);

void BAddr_InitNone(BAddr* addr);
void BAddr_InitIPv4(BAddr* addr, uint32_t ip, uint16_t port);
void BAddr_InitIPv6(BAddr* addr, const uint8_t* ip, uint16_t port);
void BAddr_InitFromIPAddr(BAddr* addr, const BIPAddr* ip, uint16_t port);
uint16_t BAddr_GetPort(const BAddr* addr);  // network order; 0 for none

// "host:port" or "[host]:port"; 1 on success, 0 otherwise.
int BAddr_Parse2(const char* str, BAddr* out, int noresolve);
// The address as BIPAddr_ToText, then ":" and the port in decimal; `out`
// holds at least BADDR_MAX_PRINT_LEN bytes. Other types write nothing.
void BAddr_ToText(const BAddr* addr, char* out);
// -1, 0 or 1: by type, then address, then port (host order).
int BAddr_Compare(const BAddr* a, const BAddr* b);

// RFC 4291 text (with "::" and a dotted IPv4 tail) into 16 bytes; 1 or 0.
int IPv6Text_Parse(const char* str, size_t len, uint8_t* out);

int DecimalDigitValue(char c);
int HexDigitValue(char c);
