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
int HexDigitValue(char c);
// True when c is 0-9, A-F or a-f.
bool IsHexDigit(char c);
