#pragma once
// A small set over an enumeration, stored as a bit mask (bit n: value n):
// the serial component's option and event sets and the widgets' option sets.
#include <cstdint>
#include <initializer_list>

template <typename E, typename Bits = std::uint32_t>
class TEnumSet {
public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> values) {
    for (E v : values) Include(v);
  }
  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr TEnumSet& Include(E v) {
    bits_ = static_cast<Bits>(bits_ | Bit(v));
    return *this;
  }
  constexpr TEnumSet& Exclude(E v) {
    bits_ = static_cast<Bits>(bits_ & ~Bit(v));
    return *this;
  }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr Bits ToBits() const { return bits_; }
  constexpr bool operator==(const TEnumSet&) const = default;

private:
  static constexpr Bits Bit(E v) { return static_cast<Bits>(Bits{1} << static_cast<unsigned>(v)); }
  Bits bits_ = 0;
};
