// The one helper for the one-byte fields of the protocol and the lists.
#pragma once

#include <cstdint>
#include <type_traits>

namespace p50x {

// The low eight bits of a number: what a byte of the protocol carries of it.
template <typename T>
constexpr std::uint8_t low8(T value) {
  static_assert(std::is_integral_v<T>);
  return static_cast<std::uint8_t>(value & 0xFF);
}

}  // namespace p50x
