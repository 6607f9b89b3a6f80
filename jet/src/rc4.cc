#include "rc4.h"

#include <utility>

#include "binary.h"

namespace jet {

Rc4::Rc4(const uint8_t* key, std::size_t key_length) {
  for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + s_[k] + key[k % key_length]);
    std::swap(s_[k], s_[j]);
  }
}

void Rc4::apply(uint8_t* data, std::size_t n) {
  uint8_t i = i_, j = j_;
  for (std::size_t k = 0; k < n; ++k) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + s_[i]);
    std::swap(s_[i], s_[j]);
    data[k] ^= s_[static_cast<uint8_t>(s_[i] + s_[j])];
  }
  i_ = i;
  j_ = j;
}

void rc4_apply(uint32_t key, uint8_t* data, std::size_t n) {
  uint8_t k[4];
  put_le32(k, key);
  Rc4 rc4(k, 4);
  rc4.apply(data, n);
}

}  // namespace jet
