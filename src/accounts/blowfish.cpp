#include "accounts/blowfish.h"

#include <utility>

#include "accounts/blowfish_tables.h"

namespace talvek::accounts {

Blowfish::Blowfish(std::span<const uint8_t> key) {
  for (size_t i = 0; i < 18; ++i) p_[i] = kBlowfishInitialP[i];
  for (size_t box = 0; box < 4; ++box)
    for (size_t i = 0; i < 256; ++i) s_[box][i] = kBlowfishInitialS[box][i];
  if (key.empty()) return;
  size_t next = 0;
  for (auto& word : p_) {
    uint32_t mixed = 0;
    for (int byte = 0; byte < 4; ++byte) {
      mixed = (mixed << 8) | key[next];
      next = (next + 1) % key.size();
    }
    word ^= mixed;
  }
  uint32_t left = 0, right = 0;
  for (size_t i = 0; i < 18; i += 2) {
    encryptBlock(left, right);
    p_[i] = left;
    p_[i + 1] = right;
  }
  for (auto& box : s_)
    for (size_t i = 0; i < 256; i += 2) {
      encryptBlock(left, right);
      box[i] = left;
      box[i + 1] = right;
    }
}

uint32_t Blowfish::round(uint32_t half) const {
  return ((s_[0][half >> 24] + s_[1][(half >> 16) & 0xff]) ^ s_[2][(half >> 8) & 0xff]) + s_[3][half & 0xff];
}

void Blowfish::encryptBlock(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (size_t i = 0; i < 16; ++i) {
    l ^= p_[i];
    r ^= round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[16];
  l ^= p_[17];
  left = l;
  right = r;
}

void Blowfish::decryptBlock(uint32_t& left, uint32_t& right) const {
  uint32_t l = left, r = right;
  for (size_t i = 17; i > 1; --i) {
    l ^= p_[i];
    r ^= round(l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= p_[1];
  l ^= p_[0];
  left = l;
  right = r;
}

}  // namespace talvek::accounts
