#include "isp/app_image_dump.h"
#include "common/hex_digit.h"

#include "common/format.h"
#include "common/message_log.h"
#include "common/shared_buffers.h"

namespace kova {

namespace {

constexpr int kDumpRows = 8;
constexpr int kDumpBytesPerRow = 16;

}  // namespace

void DumpAppImage(MessageLog& log, const SharedBuffers& buf) {
  log.ClearMessages(0);
  std::string text =
      Format("\nApplication Firmware(%x) = ", static_cast<unsigned>(buf.AppImageLen));
  for (int row = 0; row < kDumpRows; ++row) {
    text += "\n  ";
    for (int col = 0; col < kDumpBytesPerRow; ++col) {
      const uint8_t byte = buf.AppImage[row * kDumpBytesPerRow + col];
      text += Format("%c%c ", HexHigh(byte), HexLow(byte));
    }
  }
  // Runs on the front end's thread: MsgText belongs to the worker.
  log.AppendMessage(0, text);
}

}  // namespace kova
