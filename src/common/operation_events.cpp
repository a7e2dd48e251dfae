#include "common/operation_events.h"

namespace kova {

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
