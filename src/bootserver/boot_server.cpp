#include "bootserver/boot_server.h"

#include <algorithm>
#include <climits>
#include <random>

#include "bootserver/boot_packets.h"
#include "common/format.h"

namespace kova {

namespace {

using namespace boot;
using Clock = std::chrono::steady_clock;

constexpr size_t kReceiveSize = 700;
constexpr int kRunning = -1;

constexpr Ip4 kAnyAddress{0, 0, 0, 0};
constexpr Ip4 kLimitedBroadcast{255, 255, 255, 255};

bool SameEndpoint(const UdpEndpoint& a, const UdpEndpoint& b) {
  return a.ip == b.ip && a.port == b.port;
}

// A bound as the operator reads it: whole seconds where it is a whole number of them.
std::string Duration(std::chrono::milliseconds bound) {
  const long long ms = static_cast<long long>(bound.count());
  return ms % 1000 == 0 ? Format("%lld s", ms / 1000) : Format("%lld ms", ms);
}

// A socket of the server's, as every run and the port probe make it.
UdpSocketSpec ServerSocket(const Ip4& address, uint16_t port, const std::string& device,
                           bool broadcast) {
  UdpSocketSpec spec;
  spec.local.ip = address;
  spec.local.port = port;
  spec.device = device;
  spec.broadcast = broadcast;
  return spec;
}

std::string Dotted(const UdpEndpoint& ep) {
  return Format("%u.%u.%u.%u:%u", ep.ip[0], ep.ip[1], ep.ip[2], ep.ip[3], ep.port);
}

// One run of the server. Its state lives only as long as the run.
//
// Waiting for the board: the magic packet goes out at the start and then
// every magicPeriod until a BOOTP reply has been sent; the whole wait is
// bounded by requestBound. Once the board is answered (or its read request
// has come in), ackBound bounds the time between accepted acknowledgements.
// A transfer sends its current block again resendAfter after its last
// sending.
//
// Every resend and bound is a deadline on the clock, and each wait lasts at
// most until the nearest one: on a busy segment other machines' DHCP
// requests and stray datagrams arrive far more often than a resend is due,
// and must neither hold a resend back nor bring one forward.
class BootServerRun {
 public:
  BootServerRun(const uint8_t* mac, const Ip4& server, const Ip4& client, const uint8_t* image,
                uint32_t imageLength, BootProgressCallback progress, void* context,
                const std::atomic<int32_t>& stop, NetPlatform& net, const std::string& device,
                const BootServerParams& params)
      : mac_(mac),
        server_(server),
        client_(client),
        image_(image),
        imageLength_(imageLength),
        progress_(progress),
        context_(context),
        stop_(stop),
        net_(net),
        device_(device),
        params_(params),
        ports_(params.seed != 0 ? params.seed : std::random_device{}()) {}

  int Run() {
    bootp_ = Open(server_, kBootpServerPort, true);
    if (bootp_ < 0) {
      return Finish(kBootServerNoBootpSocket);
    }
    tftp_ = Open(server_, kTftpPort, false);
    if (tftp_ < 0) {
      return Finish(kBootServerNoTftpSocket);
    }
    magic_ = Open(kAnyAddress, 0, true);
    if (magic_ < 0) {
      return Finish(kBootServerNoMagicSocket);
    }
    start_ = Now();
    SendMagic();
    for (;;) {
      if (stop_.load() != 0) {
        return Finish(kBootServerStopped);
      }
      const int bound = BoundRunOut();
      if (bound != kRunning) {
        return Finish(bound);
      }
      const int handles[4] = {bootp_, tftp_, transfer_, params_.wake};
      const int waitedTransfer = transferCount_;
      const uint32_t ready = net_.Wait(handles, 4, WaitMs());
      if ((ready & 8u) != 0) {
        continue;  // woken: the stop token is looked at first
      }
      if ((ready & 1u) != 0) {
        OnBootp();
      }
      if ((ready & 2u) != 0) {
        const int result = OnTftp();
        if (result != kRunning) {
          return Finish(result);
        }
      }
      // A read request in this pass may have replaced the transfer socket; what
      // the wait saw belonged to the old one.
      if ((ready & 4u) != 0 && transferCount_ == waitedTransfer && OnTransfer()) {
        return Finish(kBootServerComplete);
      }
      SendWhatIsDue();
    }
  }

 private:
  Clock::time_point Now() const { return params_.clock ? params_.clock() : Clock::now(); }

  int Open(const Ip4& address, uint16_t port, bool broadcast) {
    return net_.Open(ServerSocket(address, port, device_, broadcast));
  }

  void CloseHandle(int& handle) {
    if (handle >= 0) {
      net_.Close(handle);
      handle = -1;
    }
  }

  int Finish(int result) {
    CloseHandle(transfer_);
    CloseHandle(tftp_);
    CloseHandle(bootp_);
    CloseHandle(magic_);
    return result;
  }

  void Progress(int value) {
    if (progress_ != nullptr) {
      progress_(value, context_);
    }
  }

  void Trace(const std::string& line) {
    if (params_.trace) {
      params_.trace(line);
    }
  }

  Clock::time_point BoundEnd() const {
    return engaged_ ? lastAck_ + params_.ackBound : start_ + params_.requestBound;
  }

  int BoundRunOut() const {
    if (Now() < BoundEnd()) {
      return kRunning;
    }
    return engaged_ ? kBootServerNoAck : kBootServerNoRequest;
  }

  bool MagicGoesOn() const { return mac_ != nullptr && !answered_; }

  // Until the nearest deadline, and no longer than one magic period: where
  // no wake handle could be made, the stop token is still seen in time.
  int WaitMs() const {
    Clock::time_point next = std::min(BoundEnd(), Now() + params_.magicPeriod);
    if (transfer_ >= 0) {
      next = std::min(next, lastData_ + params_.resendAfter);
    }
    if (MagicGoesOn()) {
      next = std::min(next, lastMagic_ + params_.magicPeriod);
    }
    const Clock::time_point now = Now();
    if (next <= now) {
      return 0;
    }
    // Rounded up: a wait that ends just short of its deadline would only be
    // followed by another one.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
  }

  // What the clock says is due: the current block first, then the magic packet.
  void SendWhatIsDue() {
    const Clock::time_point now = Now();
    if (transfer_ >= 0 && now - lastData_ >= params_.resendAfter) {
      SendBlock();
    }
    if (MagicGoesOn() && now - lastMagic_ >= params_.magicPeriod) {
      SendMagic();
    }
  }

  // The board has been answered or has started reading: from now on only the
  // acknowledgements are bounded.
  void Engage() {
    if (!engaged_) {
      engaged_ = true;
      lastAck_ = Now();
    }
  }

  void SendMagic() {
    if (mac_ == nullptr) {
      return;
    }
    const auto packet = BuildMagicPacket(mac_);
    net_.SendTo(magic_, packet.data(), packet.size(), {kLimitedBroadcast, kMagicPort});
    lastMagic_ = Now();
  }

  void SendBlock() {
    std::array<uint8_t, kDataPacketMax> packet;
    const size_t length = BuildDataPacket(block_, image_, imageLength_, packet);
    net_.SendTo(transfer_, packet.data(), length, peer_);
    lastData_ = Now();
  }

  int Receive(int handle, UdpEndpoint& from) {
    return net_.RecvFrom(handle, rx_.data(), rx_.size(), from);
  }

  // Every request of the board is answered, not only the first: a reply can
  // be lost, and the board asks again.
  void OnBootp() {
    UdpEndpoint from;
    const int n = Receive(bootp_, from);
    if (n < 0 || !IsBoardBootpRequest(rx_.data(), static_cast<size_t>(n), mac_)) {
      return;
    }
    const auto reply = BuildBootpReply(rx_.data(), static_cast<size_t>(n), client_, server_);
    // The board has no address yet: the reply goes to everyone on the
    // segment, at the port the request came from.
    net_.SendTo(bootp_, reply.data(), reply.size(), {kLimitedBroadcast, from.port});
    answered_ = true;
    Engage();
  }

  int OnTftp() {
    Progress(-1);
    UdpEndpoint from;
    const int n = Receive(tftp_, from);
    if (n < 0) {
      return kRunning;
    }
    if (TftpOpcode(rx_.data(), static_cast<size_t>(n)) != kTftpRrq) {
      const auto& error = OnlyRrqError();
      net_.SendTo(tftp_, error.data(), error.size(), from);
      return kRunning;
    }
    if (from.ip != client_) {
      Trace(Format("\n    Boot server: read request from %s ignored, not the board's address",
                   Dotted(from).c_str()));
      return kRunning;
    }
    return StartTransfer(from);
  }

  // A read request (a first one, or one that restarts the transfer) gets a
  // socket of its own on a fresh port and block 1 from it.
  int StartTransfer(const UdpEndpoint& from) {
    CloseHandle(transfer_);
    std::uniform_int_distribution<uint32_t> draw(0, kTransferPortSpan - 1);
    for (int attempt = 0; attempt < params_.portDraws && transfer_ < 0; ++attempt) {
      transfer_ = Open(server_, TransferPort(draw(ports_)), false);
    }
    if (transfer_ < 0) {
      return kBootServerNoTransferPort;
    }
    ++transferCount_;
    peer_ = from;
    block_ = 1;
    SendBlock();
    Engage();
    return kRunning;
  }

  // True once the last block has been acknowledged.
  bool OnTransfer() {
    UdpEndpoint from;
    const int n = Receive(transfer_, from);
    // The transfer belongs to the endpoint that asked for it; anything else
    // neither acknowledges nor redirects it.
    if (n < 0 || !SameEndpoint(from, peer_) ||
        !IsAckOf(rx_.data(), static_cast<size_t>(n), block_)) {
      return false;
    }
    if (IsLastBlock(block_, imageLength_)) {
      Progress(100);
      return true;
    }
    Progress(AckPercent(block_, imageLength_));
    ++block_;
    SendBlock();
    lastAck_ = Now();
    return false;
  }

  const uint8_t* mac_;
  const Ip4 server_;
  const Ip4 client_;
  const uint8_t* image_;
  const uint32_t imageLength_;
  const BootProgressCallback progress_;
  void* const context_;
  const std::atomic<int32_t>& stop_;
  NetPlatform& net_;
  const std::string device_;
  const BootServerParams& params_;
  std::mt19937 ports_;

  int bootp_ = -1;
  int tftp_ = -1;
  int magic_ = -1;
  int transfer_ = -1;
  int transferCount_ = 0;  // tells one transfer socket from the next, whatever its handle
  UdpEndpoint peer_;
  uint32_t block_ = 0;
  bool answered_ = false;
  bool engaged_ = false;
  Clock::time_point start_{};
  Clock::time_point lastAck_{};
  Clock::time_point lastMagic_{};  // the last sending of the magic packet
  Clock::time_point lastData_{};   // the last sending of the current block
  std::array<uint8_t, kReceiveSize> rx_{};
};

}  // namespace

int BootServer_Run(const uint8_t* mac, const std::array<uint8_t, 4>& server,
                   const std::array<uint8_t, 4>& client, const uint8_t* image, uint32_t imageLength,
                   BootProgressCallback progress, void* context, const std::atomic<int32_t>& stop,
                   NetPlatform& net, const std::string& device, const BootServerParams& params) {
  return BootServerRun(mac, server, client, image, imageLength, progress, context, stop, net,
                       device, params)
      .Run();
}

int BootServer_ProbePorts(const std::array<uint8_t, 4>& server, NetPlatform& net,
                          const std::string& device) {
  const struct {
    uint16_t port;
    bool broadcast;
    int failure;
  } ports[] = {{kBootpServerPort, true, kBootServerNoBootpSocket},
               {kTftpPort, false, kBootServerNoTftpSocket}};
  for (const auto& p : ports) {
    const int handle = net.Open(ServerSocket(server, p.port, device, p.broadcast));
    if (handle < 0) {
      return p.failure;
    }
    net.Close(handle);
  }
  return kBootServerComplete;
}

std::string BootServer_ResultText(int result, const std::string& device,
                                  const BootServerParams& params) {
  const std::string on = device.empty() ? std::string() : " on " + device;
  switch (result) {
    case kBootServerComplete:
      return "Boot server: the board has read the whole image";
    case kBootServerStopped:
      return "Boot server: stopped";
    case kBootServerNoBootpSocket:
      return "Boot server: cannot open the BOOTP port 67" + on +
             " (another DHCP or BOOTP server may hold the port)";
    case kBootServerNoTftpSocket:
      return "Boot server: cannot open the TFTP port 69" + on +
             " (another TFTP server may hold the port)";
    case kBootServerNoMagicSocket:
      return "Boot server: cannot open the socket for the magic packet" + on;
    case kBootServerNoTransferPort:
      return Format("Boot server: cannot open a TFTP transfer port%s (%d ports tried)", on.c_str(),
                    params.portDraws);
    case kBootServerNoRequest:
      return "Boot server: no BOOTP request from the board within " + Duration(params.requestBound);
    case kBootServerNoAck:
      return "Boot server: the board acknowledged no TFTP block for " + Duration(params.ackBound);
    default:
      return Format("Boot server: ended with result %d", result);
  }
}

}  // namespace kova
