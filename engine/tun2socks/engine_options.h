#pragma once
// The engine's option record and the values derived from it.

// Fills the option record from the start arguments (private copies of the
// texts) and checks that the required ones are there. A failure writes one
// line to standard error and returns 0.
int InitEngineOptions(const char* device, const char* netif_ipaddr, const char* netif_netmask,
                      const char* socks_server, const char* username, const char* password,
                      const char* udpgw_server, int transparent_dns);
// Releases the option texts; safe to call more than once.
void FreeEngineOptions(void);

// Derives the addresses and the SOCKS authentication list; failures are
// logged. 1 or 0.
int process_arguments(void);
