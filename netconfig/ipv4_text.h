#pragma once
// Dotted IPv4 text and addresses in network byte order.

#include <cstdint>
#include <string>
#include <string_view>

// Four decimal numbers 0-255 without leading zeros (no octal or short forms);
// false for anything else.
bool ParseDottedIPv4(std::string_view text, uint32_t* address);
std::string DottedIPv4(uint32_t address);
