// Internal: RC4, which Jet uses to mask the page-0 header and, in files with
// the "encode" option, every other page.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

class Rc4 {
 public:
  Rc4(const uint8_t* key, std::size_t key_length);
  // XORs `n` bytes in place with the next n bytes of the key stream
  // (encrypting and decrypting are the same operation).
  void apply(uint8_t* data, std::size_t n);

 private:
  uint8_t s_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// Convenience: applies RC4 keyed with the 4 little-endian bytes of `key`.
void rc4_apply(uint32_t key, uint8_t* data, std::size_t n);

}  // namespace jet
