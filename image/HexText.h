#pragma once
// Hexadecimal text as the loader writes and reads it: upper-case digits with
// leading zeros to a minimum width (never cut), and conversion of digit text
// in either case, failing with EConvertError on anything else.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

class EConvertError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Upper-case hex of value, zero-padded to at least `digits` digits.
std::string IntToHex(std::uint32_t value, int digits);

// Value of the text "$" + digits read as a hexadecimal integer.
// Throws EConvertError ("'$xy' is not a valid integer value") for an empty
// text, a non-hex character or a value beyond 32 bits.
std::uint32_t HexToInt(std::string_view digits);

// The value of a hex digit 0-9, A-F or a-f; -1 for any other character.
// Inline: the update-file check runs it over every character of a file.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
// True when c is 0-9, A-F or a-f.
inline bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }
