// The boot server's BOOTP and TFTP handling. First the input as one datagram
// through the packet readers, against a plain reading of what they accept;
// then the input as a script of datagrams arriving at the server's sockets
// during a whole run on the in-memory network, whose every answer is checked.
//
// The script: two bytes give the image's length; then each of the server's
// waits takes one event, a kind byte and its operands:
//   0  nothing arrives
//   1  a datagram on the BOOTP port    2  on the TFTP port
//   3  on the transfer port            (sender byte, two length bytes, bytes)
//   4  the board's own BOOTP request   5  a read request   6  an ACK of
//      (sender byte)                      (sender byte)       a block (two bytes)
// Senders: the board's address at its port, the board's address at another
// port, another host.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "boot_board.h"
#include "bootserver/boot_packets.h"
#include "bootserver/boot_server.h"
#include "fake_net.h"
#include "fuzz_support.h"

namespace kova::fuzz {
namespace {

using namespace std::chrono_literals;
using boot::Ip4;

const Ip4 kServer{192, 168, 100, 1};
const Ip4 kClient{192, 168, 100, 2};
const UdpEndpoint kSenders[] = {test::kBoardTftp, {kClient, 2001}, {{192, 168, 100, 9}, 2000}};
constexpr size_t kReceiveSize = 700;  // the server's receive buffer

uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// A BOOTP request for Ethernet from `mac` (any when null) that names the
// board's bootloader in its server-name field, a zero-ended text of at most
// 63 bytes, in any case.
bool IsBoardRequest(const uint8_t* data, size_t size, const uint8_t* mac) {
  if (size < 108 || data[0] != 1 || data[1] != 1 || data[2] != 6) {
    return false;
  }
  if (mac != nullptr && std::memcmp(data + 28, mac, 6) != 0) {
    return false;
  }
  const uint8_t* sname = data + 44;
  const uint8_t* nul = std::find(sname, sname + 64, 0);
  if (nul == sname + 64) {
    return false;
  }
  std::string name(sname, nul);
  for (char& c : name) {
    c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name == "stellaris" || name == "tiva";
}

void CheckPackets(const uint8_t* data, size_t size) {
  for (const uint8_t* mac : {test::kBoardMac, static_cast<const uint8_t*>(nullptr)}) {
    const bool board = boot::IsBoardBootpRequest(data, size, mac);
    Require(board == IsBoardRequest(data, size, mac),
            "a BOOTP request is the board's exactly when its fields say so");
    if (!board) {
      continue;
    }
    const auto reply = boot::BuildBootpReply(data, size, kClient, kServer);
    for (size_t i = 0; i < reply.size(); ++i) {
      const bool own = i == 0 || (i >= 16 && i < 24) || (i >= 108 && i < 121);
      Require(own || reply[i] == (i < size ? data[i] : 0),
              "a reply keeps the request's bytes outside its own fields");
    }
    Require(reply[0] == 2 && std::equal(kClient.begin(), kClient.end(), reply.begin() + 16) &&
                std::equal(kServer.begin(), kServer.end(), reply.begin() + 20) &&
                std::memcmp(reply.data() + 108, "firmware.bin", 13) == 0,
            "a reply gives the board its address, the server's and the file's name");
  }
  const uint16_t opcode = boot::TftpOpcode(data, size);
  Require(opcode == (size < 2 ? 0 : Be16(data)), "the opcode is the first two bytes");
  const uint32_t carried = size >= 4 ? Be16(data + 2) : 0;
  for (const uint32_t block : {carried, carried + 0x10000, carried + 1}) {
    Require(boot::IsAckOf(data, size, block) ==
                (size >= 4 && opcode == boot::kTftpAck && (block & 0xFFFF) == carried),
            "an ACK acknowledges the block it carries, in 16 bits");
  }
}

// The run: the server on the in-memory network, its clock half a second on
// with every wait, the script delivered one event a wait.
class Run {
 public:
  explicit Run(InputReader& in) : in_(in) {
    const uint16_t length = static_cast<uint16_t>(in_.Byte() | (in_.Byte() << 8));
    image_ = test::PatternImage(length % 1600);
    params_.seed = 7;
    params_.requestBound = 5s;
    params_.ackBound = 3s;
    params_.clock = [this] { return std::chrono::steady_clock::time_point() + 500ms * waits_; };
    net_.onWait = [this] {
      ++waits_;
      Deliver();
    };
  }

  void Check() {
    const int result = BootServer_Run(test::kBoardMac, kServer, kClient, image_.data(),
                                      static_cast<uint32_t>(image_.size()), &Progress, this, stop_,
                                      net_, "eth1", params_);
    Require(result == kBootServerComplete || result == kBootServerNoRequest ||
                result == kBootServerNoAck,
            "a run ends complete or on one of its bounds");
    Require(net_.OpenCount() == 0, "a run closes every socket it opened");
    for (const int p : progress_) {
      Require(p >= -1 && p <= 100, "progress is a share");
    }
    CheckSent(result);
  }

 private:
  static void Progress(int percent, void* context) {
    static_cast<Run*>(context)->progress_.push_back(percent);
  }

  int Bootp() const { return net_.opened.at(0); }
  int Tftp() const { return net_.opened.at(1); }
  int Magic() const { return net_.opened.at(2); }

  void Deliver() {
    if (in_.AtEnd() || net_.opened.size() < 3) {
      return;
    }
    const uint8_t kind = in_.Byte() % 7;
    if (kind == 0) {
      return;
    }
    if (kind == 6) {
      const uint16_t block = static_cast<uint16_t>((in_.Byte() << 8) | in_.Byte());
      Send(net_.opened.back(), test::TftpPacket(boot::kTftpAck, block), test::kBoardTftp);
      return;
    }
    const UdpEndpoint from = kSenders[in_.Byte() % 3];
    if (kind == 4) {
      Send(Bootp(), test::BootpRequest("stellaris"), {from.ip, 68});
      return;
    }
    if (kind == 5) {
      Send(Tftp(), test::TftpPacket(boot::kTftpRrq), from);
      return;
    }
    const size_t length = (in_.Byte() | (in_.Byte() << 8)) % (kReceiveSize + 2);
    size_t got = 0;
    const uint8_t* bytes = in_.Take(length, got);
    const int handle = kind == 1 ? Bootp() : kind == 2 ? Tftp() : net_.opened.back();
    Send(handle, std::vector<uint8_t>(bytes, bytes + got), from);
  }

  // What the server takes in: a datagram on a socket it has open.
  void Send(int handle, std::vector<uint8_t> bytes, const UdpEndpoint& from) {
    if (!net_.IsOpen(handle)) {
      return;
    }
    if (handle == Bootp() && bytes.size() <= kReceiveSize &&
        IsBoardRequest(bytes.data(), bytes.size(), test::kBoardMac)) {
      requestPorts_.push_back(from.port);
    }
    if (handle == Tftp() && bytes.size() <= kReceiveSize) {
      const bool rrq = bytes.size() >= 2 && Be16(bytes.data()) == boot::kTftpRrq;
      if (!rrq) {
        errorsTo_.push_back(from);
      } else if (from.ip == kClient) {
        readers_.push_back(from);
      }
    }
    net_.Deliver(handle, std::move(bytes), from);
  }

  void CheckSent(int result) {
    const auto magic = boot::BuildMagicPacket(test::kBoardMac);
    size_t replies = 0;
    size_t errors = 0;
    int transfer = -1;
    size_t readers = 0;
    uint32_t lastBlock = 0;
    for (const test::FakeNet::Datagram& d : net_.Sent()) {
      if (d.handle == Magic()) {
        Require(d.bytes == std::vector<uint8_t>(magic.begin(), magic.end()) &&
                    d.peer.ip == Ip4{255, 255, 255, 255} && d.peer.port == 9,
                "the magic socket sends the board's magic packet, to everyone");
      } else if (d.handle == Bootp()) {
        Require(replies < requestPorts_.size() && d.bytes.size() == boot::kBootpReplySize &&
                    d.bytes[0] == 2 && d.peer.ip == Ip4{255, 255, 255, 255} &&
                    d.peer.port == requestPorts_[replies],
                "every BOOTP reply answers one request of the board's, at its port");
        ++replies;
      } else if (d.handle == Tftp()) {
        const auto& only = boot::OnlyRrqError();
        Require(errors < errorsTo_.size() &&
                    d.bytes == std::vector<uint8_t>(only.begin(), only.end()) &&
                    d.peer.ip == errorsTo_[errors].ip && d.peer.port == errorsTo_[errors].port,
                "the TFTP port answers what is not a read request with its error, to its sender");
        ++errors;
      } else {
        if (d.handle != transfer) {
          Require(readers < readers_.size(), "a transfer starts only on the board's read request");
          transfer = d.handle;
          ++readers;
          lastBlock = 0;
        }
        const UdpEndpoint& peer = readers_[readers - 1];
        Require(d.peer.ip == peer.ip && d.peer.port == peer.port,
                "a transfer sends to whoever asked for it");
        Require(d.bytes.size() >= 4 && Be16(d.bytes.data()) == boot::kTftpData,
                "a transfer sends DATA");
        const uint32_t block = Be16(d.bytes.data() + 2);
        Require(block >= 1 && (block == lastBlock || block == lastBlock + 1),
                "a block is sent again or follows the last one");
        const size_t offset = (block - 1) * boot::kTftpBlockSize;
        const size_t size = std::min(boot::kTftpBlockSize, image_.size() - offset);
        Require(d.bytes.size() == 4 + size &&
                    std::equal(d.bytes.begin() + 4, d.bytes.end(), image_.begin() + offset),
                "a block carries its share of the image");
        lastBlock = block;
      }
    }
    // Each datagram arrives in a wait of its own, and the server reads it in
    // that pass.
    Require(replies == requestPorts_.size(), "every request of the board's is answered");
    Require(errors == errorsTo_.size(), "everything but a read request gets the error");
    Require(readers == readers_.size(), "every read request of the board's starts a transfer");
    if (result == kBootServerComplete) {
      Require(lastBlock == image_.size() / boot::kTftpBlockSize + 1,
              "a complete run has sent the image's last block");
    }
  }

  InputReader& in_;
  std::vector<uint8_t> image_;
  test::FakeNet net_;
  std::atomic<int32_t> stop_{0};
  BootServerParams params_;
  int waits_ = 0;
  std::vector<int> progress_;
  std::vector<uint16_t> requestPorts_;
  std::vector<UdpEndpoint> errorsTo_;
  std::vector<UdpEndpoint> readers_;
};

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kova::fuzz;
  CheckPackets(data, size);
  InputReader in(data, size);
  Run(in).Check();
  return 0;
}
