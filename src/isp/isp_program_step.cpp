#include <cstring>

#include "common/format.h"
#include "common/step_states.h"
#include "isp/isp_dialogue.h"
#include "isp/isp_step_rows.h"
#include "isp/uu_encode.h"
#include "protocol/line_exchange.h"
#include "protocol/link.h"

namespace kova {

namespace {

constexpr uint32_t kBlockSize = 1024;
constexpr int32_t kHalfSize = 512;
constexpr uint32_t kRamFirstHalf = 268435968;   // 0x10000200
constexpr uint32_t kRamSecondHalf = 268436480;  // 0x10000400
constexpr int32_t kResends = 3;                 // a half goes out at most four times

// A half is sent as eleven lines of 45 bytes ("M", 60 characters) and one of
// 17 ("1", 24 characters).
constexpr int32_t kLinesPerHalf = 12;
constexpr int32_t kLastLine = kLinesPerHalf - 1;
constexpr int32_t kFullLineChars = 60;
constexpr int32_t kLastLineChars = 24;

// The step's states, in the order it passes through them.
constexpr uint8_t kStart = 1;
constexpr uint8_t kBegin = 2;
constexpr uint8_t kBlock = 3;
constexpr uint8_t kHalf = 4;
constexpr uint8_t kUnlock = 5;
constexpr uint8_t kUnlockAwait = 6;
constexpr uint8_t kWrite = 11;
constexpr uint8_t kWriteAwait = 12;
constexpr uint8_t kLinesBegin = 17;
constexpr uint8_t kLine = 18;
constexpr uint8_t kLineAwait = 19;
constexpr uint8_t kLineDone = 20;
constexpr uint8_t kChecksum = 21;
constexpr uint8_t kChecksumAwait = 22;
constexpr uint8_t kHalfDone = 27;
constexpr uint8_t kPrepare = 28;
constexpr uint8_t kPrepareAwait = 29;
constexpr uint8_t kCopy = 34;
constexpr uint8_t kCopyAwait = 35;
constexpr uint8_t kBlockDone = 40;
constexpr uint8_t kProgrammed = 41;

enum ChecksumReply : int { kChecksumOk = 0, kChecksumResend = 1 };

// Waits for the exchange; a success goes on to `next`.
void AwaitThen(IspDialogue& isp, uint8_t next) {
  const int reply = IspExchangeOutcome(isp);
  if (reply != kExchangeRunning) {
    isp.IspState = (reply == kExchangeFailed) ? STEP_FAIL : next;
  }
}

// The half's sum and its text.
void EncodeHalf(IspDialogue& isp) {
  SharedBuffers& b = isp.link.Buf;
  isp.IspHalfPtr = isp.Image + isp.IspBlockOffset + static_cast<uint32_t>(kHalfSize * isp.IspHalf);
  for (int32_t i = 0; i < kHalfSize; ++i) {
    isp.IspChecksum += isp.IspHalfPtr[i];
  }
  b.UUTextLen = UUEncode(kHalfSize, isp.IspHalfPtr, b.UUText.get(), 0);
}

// Builds text line IspLine of the half in UDPPacket.
void BuildLine(IspDialogue& isp) {
  SharedBuffers& b = isp.link.Buf;
  uint8_t* packet = b.UDPPacket.get();
  const bool last = isp.IspLine == kLastLine;
  const int32_t chars = last ? kLastLineChars : kFullLineChars;
  b.UDPPacketLen = 0;
  packet[b.UDPPacketLen++] = last ? '1' : 'M';
  std::memcpy(packet + b.UDPPacketLen, b.UUText.get() + isp.IspTextPos, static_cast<size_t>(chars));
  b.UDPPacketLen += chars;
  isp.IspTextPos += chars;
  packet[b.UDPPacketLen++] = '\r';
  packet[b.UDPPacketLen++] = '\n';
}

void BeginLines(IspDialogue& isp) {
  isp.IspLine = 0;
  isp.IspTextPos = 0;
}

}  // namespace

// (7) Writes the region block by block: each 1 KiB block goes into the
// chip's RAM in two halves of UU-encoded lines, each half confirmed by its
// checksum (and sent again on "RESEND"), then is copied to flash.
void RunIspProgramStep(IspDialogue& isp) {
  Link& link = isp.link;
  switch (isp.IspState) {
    case 0:
      break;
    case kStart:
      link.Log.Say(1, "\n======(7). Program ... ");
      isp.IspDone = 0;
      isp.IspState = kBegin;
      break;
    case kBegin:
      isp.progress.Progress = 0;
      isp.IspHalf = 0;
      isp.IspBlockOffset = 0;
      isp.IspChecksum = 0;
      isp.IspLine = 0;
      isp.IspState = kBlock;
      break;
    case kBlock:
      isp.IspHalf = 0;
      isp.IspState = kHalf;
      break;
    case kHalf:
      isp.IspState = kUnlock;
      isp.IspChecksum = 0;
      if (isp.Image != nullptr && (isp.IspHalf == 0 || isp.IspHalf == 1)) {
        EncodeHalf(isp);
      } else {
        isp.IspState = STEP_FAIL;
      }
      break;
    case kUnlock:
      IspPosted(isp, Line_Command(link, "U 23130", {"0\r\n"}), kUnlockAwait);
      break;
    case kUnlockAwait:
      AwaitThen(isp, kWrite);
      break;
    case kWrite:
      if (isp.IspHalf == 0 || isp.IspHalf == 1) {
        const uint32_t ram = (isp.IspHalf == 0) ? kRamFirstHalf : kRamSecondHalf;
        IspPosted(isp, Line_Command(link, Format("W %u %d", ram, kHalfSize), {"0\r\n"}),
                  kWriteAwait);
      } else {
        isp.IspState = STEP_FAIL;
      }
      break;
    case kWriteAwait:
      AwaitThen(isp, kLinesBegin);
      break;
    case kLinesBegin:
      BeginLines(isp);
      isp.IspRetries = kResends;
      isp.IspState = kLine;
      break;
    case kLine:
      if (isp.IspLine >= 0 && isp.IspLine <= kLastLine) {
        BuildLine(isp);
        IspPosted(isp, Line_SendData(link, link.Buf.UDPPacket.get(), link.Buf.UDPPacketLen),
                  kLineAwait);
      } else {
        isp.IspState = kChecksum;
      }
      break;
    case kLineAwait:
      AwaitThen(isp, kLineDone);
      break;
    case kLineDone:
      isp.IspLine += 1;
      isp.IspState = kLine;
      break;
    case kChecksum:
      IspPosted(isp, Line_Command(link, Format("%u", isp.IspChecksum), {"OK\r\n", "RESEND\r\n"}),
                kChecksumAwait);
      break;
    case kChecksumAwait: {
      const int reply = IspExchangeOutcome(isp);
      if (reply == kExchangeRunning) {
        break;
      }
      if (reply == kChecksumOk) {
        isp.IspState = kHalfDone;
      } else if (reply == kChecksumResend && isp.IspRetries > 0) {
        link.Log.Say(0, Format("\n      Block failed .. retry(%d) !", isp.IspRetries));
        BeginLines(isp);
        isp.IspRetries -= 1;
        isp.IspState = kLine;
      } else {
        if (reply == kChecksumResend) {
          isp.Reason = FailReason::kResendLimit;
        }
        isp.IspState = STEP_FAIL;
      }
      break;
    }
    case kHalfDone:
      if (isp.IspHalf == 0) {
        isp.IspHalf = 1;
        isp.IspState = kHalf;
      } else if (isp.IspHalf == 1) {
        isp.IspHalf = 0;
        isp.IspState = kPrepare;
      } else {
        isp.IspState = STEP_FAIL;
      }
      break;
    case kPrepare:
      IspPosted(isp, Line_Command(link, "P 0 29", {"0\r\n"}), kPrepareAwait);
      break;
    case kPrepareAwait:
      AwaitThen(isp, kCopy);
      break;
    case kCopy:
      IspPosted(isp,
                Line_Command(link,
                             Format("C %u %u %u", isp.IspBlockOffset + kIspRegionStart,
                                    kRamFirstHalf, kBlockSize),
                             {"0\r\n"}),
                kCopyAwait);
      break;
    case kCopyAwait:
      AwaitThen(isp, kBlockDone);
      break;
    case kBlockDone:
      isp.IspBlockOffset += kBlockSize;
      isp.progress.Progress = static_cast<int32_t>(isp.IspBlockOffset * 100 / kIspRegionSize);
      isp.IspState = (isp.IspBlockOffset < kIspRegionSize) ? kBlock : kProgrammed;
      break;
    case kProgrammed:
      isp.progress.Progress = 100;
      link.Log.Say(0, "\n      KOVA Application firmware upgrade ... completed !");
      isp.IspState = STEP_OK;
      break;
    case STEP_OK:
      IspStepOk(isp, true);
      break;
    case STEP_FAIL:
      IspStepFail(isp);
      break;
    default:
      // This step names its successor only as it falls idle, after a
      // failure too.
      isp.IspNextStep = 8;
      isp.IspState = 0;
      break;
  }
}

}  // namespace kova
