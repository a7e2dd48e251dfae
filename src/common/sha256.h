#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kova {

// SHA-256, for naming an image by its content in the operation log.
class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t size);
  // The digest of everything given; the object is spent afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  size_t buffered_ = 0;
  uint64_t totalBytes_ = 0;
};

// The digest of `data` as 64 lower-case hex digits.
std::string Sha256Hex(const uint8_t* data, size_t size);

}  // namespace kova
