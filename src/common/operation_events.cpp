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

const char* ReasonSentence(const std::string& code) {
  static const struct {
    const char* code;
    const char* sentence;
  } kSentences[] = {
      {"failed", "the operation failed"},
      {"load-failed", "the configuration file or an image file could not be loaded"},
      {"bad-input", "the board's MAC, its address or the interface is missing or not usable"},
      {"no-reply", "the board did not answer"},
      {"unexpected-reply", "the board answered something the tool did not expect"},
      {"bad-signature", "the image does not carry the signature of the board's platform"},
      {"image-too-large", "the image is larger than the board's flash"},
      {"neighbour-denied", "this process may not change the host's neighbour table"},
      {"neighbour-failed", "the board's neighbour entry could not be made"},
      {"socket-failed", "a network socket could not be opened or used"},
      {"port-in-use", "another program holds a port of the boot server"},
      {"port-denied", "this process may not open the boot server's ports"},
      {"resend-limit", "the board kept refusing a block of the image"},
      {"transfer-stalled", "the transfer of the image stopped"},
      {"interrupted", "the operation was interrupted before it ended"},
      {"interface-busy", "another operation holds the interface"},
      {"checks-failed", "a check of the workstation failed"},
      {"no-reply-after-upgrade", "the board did not answer after the upgrade"},
      {"not-restarted", "the board did not restart with its new firmware"},
  };
  for (const auto& s : kSentences) {
    if (code == s.code) {
      return s.sentence;
    }
  }
  return kSentences[0].sentence;
}

std::string ReasonLine(const std::string& code) {
  return std::string(ReasonSentence(code)) + " (" + code + ")";
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
