#include "config/image_file.h"

#include <cstring>

#include "config/raw_file.h"

namespace kova {

int LoadImageFile(const std::string& path, uint8_t* image, int32_t capacity, int32_t& len) {
  int32_t count = 0;
  const RawReadStatus status = ReadRawFile(path, image, capacity, count);
  if (status == RawReadStatus::kOpenFailed) {
    return 0;
  }
  // A failed read may have overwritten part of the old image, so the old
  // length no longer describes the buffer: it becomes an empty image.
  len = count;
  std::memset(image + count, 0xFF, static_cast<size_t>(capacity - count));
  return status == RawReadStatus::kOk ? 1 : 0;
}

}  // namespace kova
