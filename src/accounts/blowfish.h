// The Blowfish block cipher, from its published description: a key
// schedule and the encryption and decryption of one 64-bit block given as
// two 32-bit halves (the algorithm's own big-endian view of the block).
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace talvek::accounts {

class Blowfish {
 public:
  // Keys of 1 to 56 bytes; an empty key leaves the initial state.
  explicit Blowfish(std::span<const uint8_t> key);

  void encryptBlock(uint32_t& left, uint32_t& right) const;
  void decryptBlock(uint32_t& left, uint32_t& right) const;

 private:
  uint32_t round(uint32_t half) const;

  std::array<uint32_t, 18> p_;
  std::array<std::array<uint32_t, 256>, 4> s_;
};

}  // namespace talvek::accounts
