#include "common/operation_events.h"

#include <cstdio>

namespace kova {

std::string DottedText(const uint8_t* ip) {
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3]);
  return text;
}

std::string MacBytesText(const uint8_t* mac) {
  char text[20];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

const char* FailReasonName(FailReason reason) {
  switch (reason) {
    case FailReason::kNone:
      return "";
    case FailReason::kFailed:
      return "failed";
    case FailReason::kLoadFailed:
      return "load-failed";
    case FailReason::kBadInput:
      return "bad-input";
    case FailReason::kNoReply:
      return "no-reply";
    case FailReason::kUnexpectedReply:
      return "unexpected-reply";
    case FailReason::kBadSignature:
      return "bad-signature";
    case FailReason::kImageTooLarge:
      return "image-too-large";
    case FailReason::kNeighbourDenied:
      return "neighbour-denied";
    case FailReason::kNeighbourFailed:
      return "neighbour-failed";
    case FailReason::kSocketFailed:
      return "socket-failed";
    case FailReason::kPortInUse:
      return "port-in-use";
    case FailReason::kPortDenied:
      return "port-denied";
    case FailReason::kResendLimit:
      return "resend-limit";
    case FailReason::kTransferStalled:
      return "transfer-stalled";
  }
  return "failed";
}

const char* PhaseName(OperationPhase phase) {
  switch (phase) {
    case OperationPhase::kLoad:
      return "load";
    case OperationPhase::kIdentify:
      return "identify";
    case OperationPhase::kJump:
      return "jump";
    case OperationPhase::kWait:
      return "wait";
    case OperationPhase::kErase:
      return "erase";
    case OperationPhase::kProgram:
      return "program";
    case OperationPhase::kBootServer:
      return "boot-server";
    case OperationPhase::kRemote:
      return "remote";
    case OperationPhase::kDone:
      return "done";
  }
  return "done";
}

}  // namespace kova
