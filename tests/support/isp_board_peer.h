#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fake_net.h"

namespace kova::test {

// An old-platform board on the in-memory network, answering as its ISP
// bootloader does: one reply line per datagram, a flash that erases to 0xFF
// and that a copy from RAM can only clear bits of, and the UU-encoded data
// lines checked against their checksum. On the broadcast socket it answers
// "E2P_READ" with an old platform's check code, so that a whole upgrade runs.
// Written apart from the engine's encoder: the two must agree on the wire.
class IspBoardPeer {
 public:
  static constexpr size_t kFlashSize = 512 * 1024;

  // Attaches itself to `net` as its answering peer, in place of any other.
  explicit IspBoardPeer(FakeNet& net);
  ~IspBoardPeer();
  IspBoardPeer(const IspBoardPeer&) = delete;
  IspBoardPeer& operator=(const IspBoardPeer&) = delete;

  // Answers the network again after another peer took over.
  void Attach();
  // A restart of the board into its bootloader: not synchronised, no write
  // in progress, the flash as it is. From `script` only, which runs under
  // the peer's lock.
  void PowerCycle();

  // --- Behaviour (set before the dialogue starts) ---------------------------
  bool alreadySynchronized = false;  // "?" is answered "1"
  std::string partId = "637615927";
  std::vector<uint8_t> version = {'B', 'L', '1', '.', '2', '3', '4'};  // the answer to "b"
  int resendFirst = 0;  // the first checksums are answered "RESEND" whatever they say
  // Replaces the board's answer to a line (its index counts every line taken,
  // data lines included, from 0): true with the lines to send instead, none
  // for silence.
  std::function<bool(int index, const std::string& line, std::vector<std::string>& replies)> script;
  // EEPROM 0xFE/0xFF as "E2P_READ" reports them: erased, an old platform.
  std::vector<uint8_t> checkCode = {0xFF, 0xFF};
  // Where the answers come from.
  UdpEndpoint answersFrom{{192, 168, 100, 2}, 5002};

  // --- What happened ---------------------------------------------------------
  std::vector<uint8_t> Flash();
  // Every line taken, without its CR LF, data lines included.
  std::vector<std::string> Lines();
  // Lines other than data lines.
  std::vector<std::string> Commands();
  int Copies();
  int ChecksumMismatches();

  // Flash content before the dialogue (default: sectors 0-1 a bootloader
  // pattern, the rest an older application).
  void SetFlash(const std::vector<uint8_t>& content);

 private:
  void Take(const FakeNet::Datagram& d);
  std::vector<std::string> Answer(const std::string& line);
  std::vector<std::string> Command(const std::string& line);

  FakeNet& net_;
  std::mutex mutex_;
  std::vector<uint8_t> flash_;
  std::vector<uint8_t> ram_;
  std::vector<std::string> lines_;
  bool offered_ = false;
  bool synchronized_ = false;
  bool unlocked_ = false;
  std::vector<bool> prepared_;
  // A "W" in progress: RAM address, bytes expected, bytes decoded since it.
  bool writing_ = false;
  uint32_t writeAddress_ = 0;
  uint32_t writeCount_ = 0;
  std::vector<uint8_t> pending_;
  int copies_ = 0;
  int mismatches_ = 0;
};

}  // namespace kova::test
