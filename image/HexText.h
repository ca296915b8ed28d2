#pragma once
// Hexadecimal text as the loader writes and reads it: upper-case digits with
// leading zeros to a minimum width (never cut), and conversion of digit text
// in either case, failing with EConvertError on anything else.
#include <array>
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

namespace hex_text_detail {
inline constexpr std::array<signed char, 256> kDigitValues = [] {
  std::array<signed char, 256> values{};
  for (auto& v : values) v = -1;
  for (int i = 0; i < 10; ++i) values['0' + i] = static_cast<signed char>(i);
  for (int i = 0; i < 6; ++i) {
    values['A' + i] = static_cast<signed char>(10 + i);
    values['a' + i] = static_cast<signed char>(10 + i);
  }
  return values;
}();
}  // namespace hex_text_detail

// The value of a hex digit 0-9, A-F or a-f; -1 for any other character.
// A table look-up, inline: the update-file check runs it over every character
// of a file, and every block frame over its 262 digits.
inline int HexDigitValue(char c) { return hex_text_detail::kDigitValues[static_cast<unsigned char>(c)]; }
// True when c is 0-9, A-F or a-f.
inline bool IsHexDigit(char c) { return HexDigitValue(c) >= 0; }
