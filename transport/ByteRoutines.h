// Big-endian and hexadecimal helpers used to build and show NPA packets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qor {

void writeU16BE(uint16_t value, uint8_t* out);
void writeU32BE(uint32_t value, uint8_t* out);
uint16_t readU16BE(const uint8_t* in);
uint32_t readU32BE(const uint8_t* in);
// Writes the low `count` bytes of `value`, most significant first; returns 0.
int uintToBytesBE(const uint32_t& value, uint8_t* out, const int& count);
int bytesToUintBE(uint32_t& value, const uint8_t* in, const int& count);

// Dumps bytes to standard error, 16 to a line: "%02X " each, padding, "|",
// the printable characters (others as '.').
void hexDump(const uint8_t* data, size_t size);
// The same, with the bytes whose `secret` flag is set shown as "**" in the
// hexadecimal column and '*' in the character column (passwords and keys).
// `secret` may be shorter than the data; missing flags count as clear.
void hexDump(const uint8_t* data, size_t size, const std::vector<bool>& secret);

// Decodes hexadecimal text. Returns length/2; `out` holds the bytes, or is
// empty when the text held a non-hexadecimal character (reported as
// "not valid Hex char?! '%X'\n" on standard output) or was empty.
int hexToBytes(const std::string& text, std::vector<uint8_t>& out);

}  // namespace qor
