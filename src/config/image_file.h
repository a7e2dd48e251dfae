#pragma once

#include <cstdint>
#include <string>

#include "config/raw_file.h"

namespace kova {

// Loads a firmware image into its buffer and fills the rest of the buffer with
// 0xFF (erased flash), so nothing of an earlier, longer image is programmed
// past a short one. An image that cannot be opened, or is refused as too
// large, keeps its buffer and length; one that fails to read counts as empty.
// The image is loaded in full only when the result's status is kOk and its
// size fits the capacity.
RawRead LoadImageFile(const std::string& path, uint8_t* image, int32_t capacity, int32_t& len,
                      Oversize oversize);

}  // namespace kova
