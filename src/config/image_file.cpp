#include "config/image_file.h"

#include <cstring>

namespace kova {

RawRead LoadImageFile(const std::string& path, uint8_t* image, int32_t capacity, int32_t& len,
                      Oversize oversize) {
  int32_t count = 0;
  const RawRead read = ReadRawFile(path, image, capacity, count, oversize);
  if (read.status == RawReadStatus::kOpenFailed || read.status == RawReadStatus::kTooLarge) {
    return read;
  }
  // A failed read may have overwritten part of the old image, so the old
  // length no longer describes the buffer: it becomes an empty image.
  len = count;
  std::memset(image + count, 0xFF, static_cast<size_t>(capacity - count));
  return read;
}

}  // namespace kova
