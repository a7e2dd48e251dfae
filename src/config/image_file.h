#pragma once

#include <cstdint>
#include <string>

namespace kova {

// Loads a firmware image into its buffer and fills the rest of the buffer with
// 0xFF (erased flash), so nothing of an earlier, longer image is programmed
// past a short one. Returns 1 on success. An image that cannot be opened keeps
// its buffer and length; one that fails to read counts as empty.
int LoadImageFile(const std::string& path, uint8_t* image, int32_t capacity, int32_t& len);

}  // namespace kova
