#include "HexText.h"

#include <algorithm>

namespace {

[[noreturn]] void ThrowNotInteger(std::string_view digits) {
  throw EConvertError("'$" + std::string(digits) + "' is not a valid integer value");
}

}  // namespace

std::string IntToHex(std::uint32_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::string text;
  text.reserve(static_cast<std::size_t>(std::max(n, digits)));
  for (int pad = n; pad < digits; ++pad) text.push_back('0');
  while (n > 0) text.push_back(buffer[--n]);
  return text;
}

std::uint32_t HexToInt(std::string_view digits) {
  if (digits.empty() || digits.size() > 8) ThrowNotInteger(digits);
  std::uint32_t value = 0;
  for (char c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0) ThrowNotInteger(digits);
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  return value;
}
