#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kova {

// The hidden IP field: four dotted decimal octets. An empty octet counts as 0
// ("1..2.3" is 1.0.2.3); more than three digits, a value above 255, a wrong
// number of dots, a foreign character or more than 15 characters fail.
// Returns 1 and fills `ip` on success; 0 leaves `ip` untouched.
int ReadIPField(const std::string& text, uint8_t ip[4]);

// The six MAC fields, one or two hexadecimal digits each. Returns 1 and
// fills `mac` with the address; returns 0 and zeroes `mac` when a field is
// empty, holds anything but one or two hexadecimal digits, or when all six
// bytes are 0.
int ReadMACFields(const std::array<std::string, 6>& fields, uint8_t mac[6]);

// The board's address next to the host's on the same segment: the last octet
// follows the host's, kept inside 2..253 and never equal to the host's own.
void DeriveDeviceIP(const uint8_t host[4], uint8_t device[4]);

}  // namespace kova
