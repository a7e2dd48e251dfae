#include <algorithm>
#include <cstring>

#include "common/countdown_slots.h"
#include "common/format.h"
#include "controller/engine.h"
#include "procedures/procedures.h"
#include "protocol/command_tables.h"

namespace kova {

namespace {

constexpr int32_t kFinishTicks = 1200;  // 120 s from the first status request
constexpr int32_t kPollTicks = 100;     // 10 s between status requests
constexpr int kReplyRemoteAck = 286;
constexpr int kAddressBytes = 4;
constexpr uint8_t kArgumentEnd = 0xFF;
// A longer line would be cut by the SEND_FILE template.
constexpr int32_t kMaxLineLength = kSendFileArgumentCount;
static_assert(kMaxLineLength < static_cast<int32_t>(sizeof(Link::UDPCmdArgs)),
              "a line and its end byte fit the argument area");

// States, numbered as the procedure's table counts them.
constexpr uint8_t kStart = 1;
constexpr uint8_t kAskAddress = 2;
constexpr uint8_t kAddress = 3;
constexpr uint8_t kErase = 4;
constexpr uint8_t kErased = 5;
constexpr uint8_t kSendFirst = 6;
constexpr uint8_t kFirstSent = 7;
constexpr uint8_t kSendLine = 8;
constexpr uint8_t kLineSent = 9;
constexpr uint8_t kInstall = 10;
constexpr uint8_t kInstalled = 11;
constexpr uint8_t kAskFinish = 12;
constexpr uint8_t kAwaitFinish = 13;

// The image as the procedure reads it: every search stops at its end.
struct Text {
  const uint8_t* bytes;
  int32_t length;

  // Where the line starting at `from` ends: at its CR LF, or at the end of
  // the image for a last line without one.
  int32_t LineEnd(int32_t from) const {
    for (int32_t i = from; i + 1 < length; ++i) {
      if (bytes[i] == '\r' && bytes[i + 1] == '\n') {
        return i;
      }
    }
    return length;
  }

  // The next record: the first "S" at or after `from`, or the end.
  int32_t NextRecord(int32_t from) const {
    const uint8_t* end = bytes + length;
    const uint8_t* found = std::find(bytes + std::min(from, length), end, 'S');
    return static_cast<int32_t>(found - bytes);
  }

  // The record type of the line at `at`: its second character.
  uint8_t TypeAt(int32_t at) const { return at + 1 < length ? bytes[at + 1] : 0; }

  int LineNumber(int32_t at) const {
    return 1 + static_cast<int>(std::count(bytes, bytes + std::min(at, length), '\n'));
  }
};

struct Refusal {
  const char* why = nullptr;
  int32_t at = 0;
};

// What is wrong with the line [from, end) as a line to send.
const char* LineProblem(const Text& t, int32_t from, int32_t end) {
  for (int32_t i = from; i < end; ++i) {
    if (t.bytes[i] == '\r' || t.bytes[i] == '\n') {
      return "lines must end in CR LF";
    }
  }
  if (end - from > kMaxLineLength) {
    return "line too long";
  }
  for (int32_t i = from; i < end; ++i) {
    // 0xFF would end the argument early; nothing else unprintable belongs in
    // a record either.
    if (t.bytes[i] < 0x20 || t.bytes[i] > 0x7E) {
      return "not an S-record file";
    }
  }
  return nullptr;
}

// Walks the file exactly as the transfer will: the first line, every S3
// record after it, then the record that ends the transfer. The transfer
// installs whatever it has sent once that record is acknowledged, so a file
// is only sent when every one of those lines arrives whole and the last one
// is an end record (S5 to S9).
Refusal CheckFile(const Text& t) {
  if (t.length <= 0) {
    return {"empty file", 0};
  }
  int32_t line = 0;
  for (bool first = true;; first = false) {
    const int32_t end = t.LineEnd(line);
    if (const char* problem = LineProblem(t, line, end)) {
      return {problem, line};
    }
    const uint8_t type = t.TypeAt(line);
    if (first) {
      if (t.bytes[line] != 'S' || end - line < 2 || type < '0' || type > '9') {
        return {"not an S-record file", line};
      }
    } else if (type != '3') {
      if (type >= '5' && type <= '9') {
        return {};
      }
      return {(type == '1' || type == '2') ? "not an S3 file" : "no end record", line};
    }
    line = t.NextRecord(end);
    if (line >= t.length) {
      return {"no end record", t.length};
    }
  }
}

Text ImageOf(const Engine& e) {
  return {e.Buf.AppImage.get(), e.Buf.AppImageLen};
}

bool Acknowledged(const Engine& e) {
  return e.EepromDone != 0 && e.Buf.UDPReply_Get(kReplyRemoteAck) == 1;
}

// Whether the command the unicast machine has finished went without its
// acknowledgement; noted as the failure (a silent board the machine has
// noted already).
bool Unacknowledged(Engine& e) {
  if (Acknowledged(e)) {
    return false;
  }
  e.NoteFailure(FailReason::kUnexpectedReply);
  return true;
}

// Puts the line at RemoteLine into the SEND_FILE argument, 0xFF after it,
// and posts the command.
void SendLine(Engine& e) {
  const Text t = ImageOf(e);
  e.RemoteLineEnd = t.LineEnd(e.RemoteLine);
  if (e.EepromState != 0) {
    return;  // the next state judges what the busy machine finishes
  }
  const int32_t n = std::min(e.RemoteLineEnd - e.RemoteLine, kMaxLineLength);
  std::memcpy(e.link.UDPCmdArgs, t.bytes + e.RemoteLine, static_cast<size_t>(n));
  e.link.UDPCmdArgs[n] = kArgumentEnd;
  e.PostEeprom(udp_cmd::kSendFile);
}

// The final wait: a status request every 10 s until one is acknowledged,
// for at most 120 s.
uint8_t AwaitFinish(Engine& e) {
  if (e.Countdown.Get(countdown::kRemoteFinish) == 0) {
    // The bound holds whatever the unicast machine is doing; a status
    // request still awaiting its answer ends with the wait.
    e.Countdown.Set(countdown::kUnicastReply, 0);
    e.NoteFailure(FailReason::kNoReply);
    return STEP_FAIL;
  }
  if (e.EepromState != 0) {
    return kAwaitFinish;
  }
  // An acknowledgement counts even when countdown 2 ran out while the
  // machine was closing its socket.
  if (Acknowledged(e)) {
    return STEP_OK;
  }
  if (e.Countdown.Get(countdown::kUnicastReply) == 0) {
    e.PostEeprom(udp_cmd::kCheckRemoteUpdate);
    e.Countdown.Set(countdown::kUnicastReply, kPollTicks);
  }
  return kAwaitFinish;
}

}  // namespace

// Hands a running board its new firmware as S-record text: learns the
// board's address, has it erase its flash, sends the file line by line,
// tells it to install what it received and polls until it has.
void RemoteUpdate_Step(Engine& e) {
  switch (e.StepBusy) {
    case 0:
      break;
    case kStart: {
      e.Log.Say(1, "\n======KOVA : Remote firmware update ... Start !======");
      e.StepDone = 0;
      const Text t = ImageOf(e);
      const Refusal refusal = CheckFile(t);
      if (refusal.why != nullptr) {
        e.RemoteRefusal =
            Format("\n    Firmware file line %d: %s !", t.LineNumber(refusal.at), refusal.why);
        e.NoteFailure(FailReason::kBadInput);
        e.StepBusy = STEP_FAIL;
      } else {
        e.RemoteRefusal.clear();
        e.StepBusy = kAskAddress;
      }
      break;
    }
    case kAskAddress:
      e.PostVerCfg(broadcast_cmd::kEthReq);
      e.StepBusy = kAddress;
      e.Log.Say(1, "\n======KOVA : Retrieve remote IP ... ");
      break;
    case kAddress:
      if (e.VerCfgState != 0) {
        break;
      }
      if (e.VerCfgDone == 0) {
        e.Log.Say(1, "Fail !======");
        e.NoteFailure(FailReason::kNoReply);
        e.StepBusy = STEP_FAIL;
        break;
      }
      for (int i = 0; i < kAddressBytes; ++i) {
        e.DeviceIP[i] = e.Buf.DeviceRecord_Get(i);
      }
      e.BoardAddressLearnt();
      e.Log.Say(1, Format("%d.%d.%d.%d !======", e.DeviceIP[0], e.DeviceIP[1], e.DeviceIP[2],
                          e.DeviceIP[3]));
      e.StepBusy = kErase;
      break;
    case kErase:
      e.PostEeprom(udp_cmd::kRemoteErase);
      e.StepBusy = kErased;
      e.Log.Say(1, "\n======KOVA : Erase remote FLASH ... ");
      break;
    case kErased:
      if (e.EepromState != 0) {
        break;
      }
      if (Unacknowledged(e)) {
        e.StepBusy = STEP_FAIL;
        break;
      }
      e.Log.Say(1, "Successful !======");
      e.RemoteLine = 0;
      e.RemoteLineEnd = 0;
      e.StepBusy = kSendFirst;
      break;
    case kSendFirst:
      SendLine(e);
      e.StepBusy = kFirstSent;
      e.Log.Say(1, "\n======KOVA : Send file to remote ... ");
      break;
    case kFirstSent:
      if (e.EepromState != 0) {
        break;
      }
      if (Unacknowledged(e)) {
        e.StepBusy = STEP_FAIL;
        break;
      }
      e.RemoteLine = ImageOf(e).NextRecord(e.RemoteLineEnd);
      e.StepBusy = kSendLine;
      break;
    case kSendLine:
      SendLine(e);
      e.StepBusy = kLineSent;
      break;
    case kLineSent: {
      if (e.EepromState != 0) {
        break;
      }
      if (Unacknowledged(e)) {
        e.StepBusy = STEP_FAIL;
        break;
      }
      const Text t = ImageOf(e);
      if (t.TypeAt(e.RemoteLine) != '3') {
        e.Log.Say(1, "Successful !======");
        e.StepBusy = kInstall;
        break;
      }
      e.Progress = static_cast<int32_t>(static_cast<int64_t>(e.RemoteLine) * 100 / t.length);
      e.RemoteLine = t.NextRecord(e.RemoteLineEnd);
      e.StepBusy = kSendLine;
      break;
    }
    case kInstall:
      e.PostEeprom(udp_cmd::kRemoteUpdate);
      e.StepBusy = kInstalled;
      e.Log.Say(1, "\n======KOVA : Update remote firmware ... ");
      break;
    case kInstalled:
      if (e.EepromState != 0) {
        break;
      }
      if (Unacknowledged(e)) {
        e.StepBusy = STEP_FAIL;
        break;
      }
      e.Log.Say(1, "Successful !======");
      e.StepBusy = kAskFinish;
      break;
    case kAskFinish:
      e.PostEeprom(udp_cmd::kCheckRemoteUpdate);
      e.StepBusy = kAwaitFinish;
      e.Log.Say(1, "\n======KOVA : Wait for remote finish ... ");
      e.Countdown.Set(countdown::kRemoteFinish, kFinishTicks);
      break;
    case kAwaitFinish:
      e.StepBusy = AwaitFinish(e);
      break;
    case STEP_OK:
      e.Log.Say(1, "Successful !======");
      e.StepDone = 1;
      e.StepBusy = STEP_END;
      break;
    case STEP_FAIL:
      e.Log.Say(1, "Failed !======");
      if (!e.RemoteRefusal.empty()) {
        e.Log.Say(1, e.RemoteRefusal);
        e.RemoteRefusal.clear();
      }
      e.link.BroadcastSocket_Close();
      e.StepBusy = STEP_END;
      break;
    default:
      e.StepBusy = 0;
      break;
  }
}

}  // namespace kova
