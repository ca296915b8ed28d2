#include "SessionState.h"

#include "HexText.h"

std::string FormatHexBytes(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text(count * 3, ' ');
  // Through a plain pointer: stores through the string's own operator[] may
  // alias its length and data, which are then read again for every byte.
  char* out = text.data();
  for (std::size_t i = 0; i < count; ++i, out += 3) {
    out[1] = kDigits[bytes[i] >> 4];
    out[2] = kDigits[bytes[i] & 0xF];
  }
  return text;
}

std::uint8_t ResponseByte(const std::string& response, int i) {
  const std::size_t at = 3 * static_cast<std::size_t>(i) + 1;
  // Too short: there are no digits to convert, which fails like any bad digit text.
  const std::string_view digits = at < response.size() ? std::string_view(response).substr(at, 2) : std::string_view();
  if (digits.size() < 2) throw EConvertError("'$" + std::string(digits) + "' is not a valid integer value");
  return static_cast<std::uint8_t>(HexToInt(digits));
}
