#pragma once
// A small set over an enumeration whose values are 0, 1, 2 …: the form of the
// window's shift states and navigation key sets.

#include <cstdint>
#include <initializer_list>

namespace app {

template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> values) {
    for (E v : values) bits_ |= Bit(v);
  }

  constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr void Include(E v) { bits_ |= Bit(v); }
  constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
  constexpr std::uint32_t Bits() const { return bits_; }

  constexpr bool operator==(const TSet&) const = default;

 private:
  static constexpr std::uint32_t Bit(E v) { return std::uint32_t{1} << static_cast<unsigned>(v); }
  std::uint32_t bits_ = 0;
};

}  // namespace app
