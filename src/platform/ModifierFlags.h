// The modifier keys the features test, as one set of bits shared by pointer reads and mouse events.
#pragma once

#include <cstdint>

namespace velaro {

// Bits of a modifier set: the values the features were written against, so stored tables stay as they are.
namespace ModifierFlag {
inline constexpr std::uint32_t shift = 0x20000;
inline constexpr std::uint32_t control = 0x40000;
inline constexpr std::uint32_t option = 0x80000;    // Alt
inline constexpr std::uint32_t command = 0x100000;  // Super
}  // namespace ModifierFlag

}  // namespace velaro
