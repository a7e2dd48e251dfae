#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kova {

// Why an operation failed, in a form a script can test: set by the machine
// that saw the failure; the first one of an operation is kept.
enum class FailReason : uint8_t {
  kNone,
  kFailed,  // no machine said more
  kLoadFailed,
  kBadInput,
  kNoReply,
  kUnexpectedReply,
  kBadSignature,
  kImageTooLarge,
  kNeighbourDenied,
  kNeighbourFailed,
  kSocketFailed,
  kPortInUse,
  kPortDenied,
  kResendLimit,
  kTransferStalled,
};

// "no-reply", "bad-signature", ...; "" for kNone.
const char* FailReasonName(FailReason reason);

// Why an operation failed, in words: "the board did not answer" for
// "no-reply". Every code a front end reports has one: the engine's names
// above, and the front ends' own ("interrupted", "interface-busy",
// "checks-failed", "no-reply-after-upgrade", "not-restarted"). A code it
// does not know gets a sentence that says only that the operation failed.
const char* ReasonSentence(const std::string& code);

// "the board did not answer (no-reply)": the sentence, then the code.
std::string ReasonLine(const std::string& code);

// "192.168.100.2" and "00:1A:2B:3C:4D:5E": how the front ends write the
// board's address and MAC.
std::string DottedText(const uint8_t* ip);
std::string MacBytesText(const uint8_t* mac);

// The stretches of an operation a front end may show or log.
enum class OperationPhase : uint8_t {
  kLoad,
  kIdentify,
  kJump,
  kWait,
  kErase,  // the bootloader dialogue up to and including the erase
  kProgram,
  kBootServer,
  kRemote,
  kDone,
};

// "load", "identify", ..., "boot-server", "remote", "done".
const char* PhaseName(OperationPhase phase);

struct PhaseNote {
  OperationPhase phase = OperationPhase::kLoad;
  bool macKnown = false;
  std::array<uint8_t, 6> mac{};
  bool addressKnown = false;
  std::array<uint8_t, 4> address{};  // first octet first
  // What the phase sends of the image, when it sends one; else 0.
  uint32_t imageBytes = 0;
};

// Answers of the board that a front end may show.
enum class BoardAnswer : uint8_t {
  kVersion,    // major, minor
  kModelName,  // the 16 bytes of the name field
  kEeprom,     // 256 bytes
};

// What a dry run found: the board, the configuration and the road an
// upgrade would take.
struct UpgradePlan {
  int32_t jumpSetting = 0;  // 0 ENABLE, 3 DISABLE, 4 REMOTE
  bool newPlatform = false;
  bool versionKnown = false;
  std::array<uint8_t, 2> version{};
  std::array<uint8_t, 6> mac{};
  bool addressKnown = false;
  std::array<uint8_t, 4> address{};
  uint32_t imageBytes = 0;   // the application image as loaded
  uint32_t bytesToSend = 0;  // what the road would write into the board
};

}  // namespace kova
