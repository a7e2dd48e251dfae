#include "isp/app_image_dump.h"

#include <gtest/gtest.h>

#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "recording_panel.h"

namespace kova {
namespace {

TEST(DumpAppImageTest, TracesLengthAndFirst128BytesOnly) {
  SharedBuffers buf;
  buf.AllocSharedBuffers();
  for (int i = 0; i < 130; ++i) {
    buf.AppImage[i] = static_cast<uint8_t>(i);
  }
  buf.AppImage[0] = 0xFF;
  buf.AppImage[127] = 0xAB;
  buf.AppImageLen = 0xABCDE;
  test::RecordingPanel panel;
  MessageLog log(panel);

  DumpAppImage(log, buf);

  const std::string want =
      "\nApplication Firmware(abcde) = "
      "\n  FF 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F "
      "\n  10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F "
      "\n  20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F "
      "\n  30 31 32 33 34 35 36 37 38 39 3A 3B 3C 3D 3E 3F "
      "\n  40 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F "
      "\n  50 51 52 53 54 55 56 57 58 59 5A 5B 5C 5D 5E 5F "
      "\n  60 61 62 63 64 65 66 67 68 69 6A 6B 6C 6D 6E 6F "
      "\n  70 71 72 73 74 75 76 77 78 79 7A 7B 7C 7D 7E AB ";
  EXPECT_EQ(panel.traces, std::vector<std::string>{want});
  EXPECT_TRUE(panel.shown.empty());
  EXPECT_EQ(panel.clears, 0);
  EXPECT_TRUE(log.MsgText.empty()) << "the dump must not touch the worker's MsgText";
}

}  // namespace
}  // namespace kova
