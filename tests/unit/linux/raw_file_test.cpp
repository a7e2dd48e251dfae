// Linux only: glibc's error texts and a file made unreadable by its mode bits.
#include "config/raw_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kova {
namespace {

TEST(RawReadReasonTest, NamesWhyTheFileWasNotTaken) {
  struct Row {
    RawRead read;
    int32_t capacity;
    const char* reason;
  };
  // clang-format off
  const Row rows[] = {
    {{RawReadStatus::kOk, 0, false, 100}, 100, ""},
    {{RawReadStatus::kOk, 0, false, 200}, 100, ""},  // cut, which is no failure
    {{RawReadStatus::kOpenFailed, ENOENT, false, 0}, 100, "no such file"},
    {{RawReadStatus::kOpenFailed, EACCES, false, 0}, 100, "permission denied"},
    {{RawReadStatus::kOpenFailed, EPERM, false, 0}, 100, "permission denied"},
    {{RawReadStatus::kOpenFailed, 0, true, 0}, 100, "not a regular file"},
    {{RawReadStatus::kOpenFailed, ELOOP, false, 0}, 100, "too many levels of symbolic links"},
    {{RawReadStatus::kTooLarge, 0, false, 2000000}, 1572864,
     "too large: 2000000 bytes, the limit is 1572864"},
    {{RawReadStatus::kTooLarge, 0, false, 5000000000}, 1572864,
     "too large: 5000000000 bytes, the limit is 1572864"},
    {{RawReadStatus::kReadFailed, EIO, false, 10}, 100, "read failed: input/output error"},
  };
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(RawReadReason(row.read, row.capacity), row.reason) << row.reason;
  }
}

// As root the permission is not denied, so this runs only for other users.
TEST(ReadRawFileTest, UnreadableFileIsPermissionDenied) {
  if (geteuid() == 0) {
    GTEST_SKIP() << "root reads any file";
  }
  char name[] = "/tmp/kova-raw-XXXXXX";
  ASSERT_NE(mkdtemp(name), nullptr);
  const std::string path = std::string(name) + "/locked.bin";
  std::ofstream(path) << "data";
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  uint8_t buf[16] = {};
  int32_t count = 7;
  const RawRead read = ReadRawFile(path, buf, sizeof buf, count);
  std::filesystem::remove_all(name);
  EXPECT_EQ(read.status, RawReadStatus::kOpenFailed);
  EXPECT_EQ(RawReadReason(read, sizeof buf), "permission denied");
  EXPECT_EQ(count, 7);
}

}  // namespace
}  // namespace kova
