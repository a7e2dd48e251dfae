#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/net_platform.h"

namespace kova {

// What BootServer_Run returns.
enum BootServerResult : int {
  kBootServerComplete = 0,        // the last block was acknowledged
  kBootServerStopped = 1,         // the stop token was set
  kBootServerNoBootpSocket = 2,   // port 67 could not be opened
  kBootServerNoTftpSocket = 3,    // port 69 could not be opened
  kBootServerNoMagicSocket = 4,   // the magic packet's socket could not be opened
  kBootServerNoTransferPort = 5,  // no drawn transfer port could be opened
  kBootServerNoRequest = 6,       // the board neither asked for an address nor read the file
  kBootServerNoAck = 7,           // the board stopped acknowledging
};

// The server's waits and bounds. Tests shorten them and bring their own clock.
struct BootServerParams {
  // Until the board has been answered, the magic packet goes out again this
  // long after its last sending, whatever else arrives meanwhile.
  std::chrono::milliseconds magicPeriod{500};
  // The current block goes out again this long after its last sending unless
  // the board has acknowledged it, whatever else arrives meanwhile.
  std::chrono::milliseconds resendAfter{1000};
  // From the start until the board's BOOTP request has been answered (or a
  // transfer has started without one).
  std::chrono::milliseconds requestBound{60000};
  // From then on, the longest time without an accepted acknowledgement.
  std::chrono::milliseconds ackBound{30000};
  // Transfer ports tried for one read request before giving up.
  int portDraws = 100;
  // Seed of the transfer-port draws; 0 takes a fresh one for every run.
  uint32_t seed = 0;
  // The time the bounds are measured in; empty: the steady clock.
  std::function<std::chrono::steady_clock::time_point()> clock;
  // A wake handle of the platform's (NetPlatform::OpenWake), or -1: the
  // owner signals it after setting the stop token, so that the server's wait
  // ends at once.
  int wake = -1;
  // Receives a line for every request the server turns away; may be empty.
  std::function<void(const std::string&)> trace;
};

// Called with -1 whenever a datagram waits on the TFTP port, with the share
// of the image acknowledged so far after each acknowledgement, and with 100
// at the end. Every call passes the context given to the server.
using BootProgressCallback = void (*)(int percent, void* context);

// Wakes the board whose MAC is `mac` with magic packets, answers its BOOTP
// request with `client` as its address and `server` as the server's, and
// serves it `image` by TFTP, on the interface `device` only (empty: on
// `server`'s address, without a tie to an interface). Returns once the last
// block has been acknowledged, `stop` was set, a socket could not be opened
// or a bound ran out; every socket it opened is closed by then. `mac` may be
// null: any client's request is then answered and no magic packet is sent.
int BootServer_Run(const uint8_t* mac, const std::array<uint8_t, 4>& server,
                   const std::array<uint8_t, 4>& client, const uint8_t* image, uint32_t imageLength,
                   BootProgressCallback progress, void* context, const std::atomic<int32_t>& stop,
                   NetPlatform& net, const std::string& device,
                   const BootServerParams& params = {});

// Opens and closes again the server's ports 67 and 69 as a run would open
// them: kBootServerComplete when both can be had, else the result a run
// would end with (the platform's LastOpenError says why).
int BootServer_ProbePorts(const std::array<uint8_t, 4>& server, NetPlatform& net,
                          const std::string& device);

// What a result means, for the operator.
std::string BootServer_ResultText(int result, const std::string& device,
                                  const BootServerParams& params);

}  // namespace kova
