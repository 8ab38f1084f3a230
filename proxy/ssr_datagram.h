#pragma once
// One Shadowsocks/ShadowsocksR UDP datagram through the protocol plug-in and
// the cryptor. Every datagram carries its own IV (or salt): the cryptor is
// reset before each one, in both directions. The obfuscation plug-in takes no
// part in UDP.

#include <cstdint>
#include <vector>

class CCryptor;
class CObfs;

// Plain datagram (ATYP, address, port, payload) -> wire bytes. `protocol`
// may be null. False when a step fails.
bool SsrEncodeDatagram(CCryptor* cryptor, CObfs* protocol, const uint8_t* plain, int length,
                       std::vector<uint8_t>* wire);
// Wire bytes -> plain datagram; false when decryption or the protocol step
// fails or nothing is left.
bool SsrDecodeDatagram(CCryptor* cryptor, CObfs* protocol, const uint8_t* wire, int length,
                       std::vector<uint8_t>* plain);

// The length of the address header (ATYP, address, port) at the front of a
// Shadowsocks datagram of `length` bytes, `atypOffset` bytes in (0 for
// Shadowsocks, 3 for a SOCKS 5 UDP header); 0 when the type is unknown or the
// header does not fit. ATYP 3 carries a length byte and that many name bytes.
int RelayHeaderLength(const uint8_t* data, int length, int atypOffset);
