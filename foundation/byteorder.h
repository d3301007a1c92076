// 32-bit words stored little-endian in byte buffers (the handshake's words
// and identity record), whatever the host's own byte order.
//
//   uint8_t word[4];
//   StoreLe32(word, 460);        // CC 01 00 00
//   LoadLe32(word)               // 460
#pragma once

#include <cstdint>

namespace tarvixlib {

constexpr uint32_t LoadLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

inline void StoreLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace tarvixlib
