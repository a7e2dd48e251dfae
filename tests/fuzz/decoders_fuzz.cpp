// Datagrams from the board's side through the receive path into the rings,
// read by the three reply decoders as the channels step them.
//
// Input: one byte of flags (bit 0: the UDP ring is read as text lines from
// the start), then records, each led by a control byte c:
//   c & 7 == 0, 1   a datagram for the broadcast (0) or UDP (1) socket: two
//                   bytes of length (big-endian, 0..2047), then the bytes; it
//                   arrives ((c >> 3) & 7) + 1 times
//   c & 7 == 2      one pass of the receive thread
//   c & 7 == 3      ((c >> 3) + 1) * 16 steps of the decoders
//   c & 7 == 4      the UDP channel switches between frames and text lines
//   c & 7 == 5, 6   a frame handed straight to the broadcast (5) or UDP (6)
//                   reply handler: length and bytes as for a datagram
//   c & 7 == 7      passes and steps until every datagram has been taken
// At the end every datagram is taken and the rings are read to their end.
//
// Only the receive path's public functions are used, never the rings'
// internals: the decoders may read one byte or a whole datagram per step.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "common/adapter_table.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "fake_net.h"
#include "fuzz_support.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"

namespace kova::fuzz {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kBoardMAC[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr uint8_t kBoardIP[4] = {192, 168, 100, 2};
constexpr int kMaxDatagram = 2047;  // beyond the receive buffer, so too large ones arrive too
// More steps than reading a full ring can take, unless a decoder is stuck.
constexpr int kStepLimit = 64 * SharedBuffers::kRingSize;
constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;

// What the link uses, made once: allocating the shared buffers would cost
// more than a whole run. Each run starts with zeroed reply records and reads
// the rings to their end before it returns, so that nothing of it is left
// for the next.
struct Shared {
  Shared() {
    buf.AllocSharedBuffers();
    adapters.AdapterDesc[0] = "eth1";
    adapters.AdapterIP[0] = {192, 168, 100, 1};
    adapters.Count = 1;
  }

  SilentPanel panel;
  MessageLog log{panel};
  Countdowns countdown;
  SharedBuffers buf;
  AdapterTable adapters;
  std::atomic<int32_t> interfaceSel{0};
  std::atomic<int32_t> interfaceCount{1};
  std::atomic<int32_t> progress{0};
  int32_t progressStep = 0;
};

// A reply flag, and what must have arrived for a decoded frame to set it.
struct FlagEvidence {
  bool udpReply;  // in UDPReply, else in DeviceRecord
  int index;
  std::vector<Bytes> anyOf;  // one of these runs of bytes reached the ring
};

const std::vector<FlagEvidence>& Flags() {
  static const std::vector<FlagEvidence> flags = {
      {false, 4, {{0x00, 0x06, 0x80, 0x01}}},  // firmware version
      {false, 7, {{0x80, 0x02, 0x06}}},        // the acknowledgements
      {false, 8, {{0x80, 0x03, 0x06}}},
      {false, 9, {{0x80, 0x04, 0x06}}},
      {false, 10, {{0x80, 0x05, 0x06}}},
      {false, 11, {{0x80, 0x06, 0x06}}},
      {true, 10, {{0x00, 0x05, 0x81, 0x20, 0x06}}},  // model name set
      {true, 11, {{0x00, 0x14, 0x81, 0x1F}}},        // model name read
      {true, 28, {{0x01, 0x04, 0x81, 0x1D}}},        // 256 EEPROM bytes read
      {true, 286, {{0x81, 0xF1, 0x06}, {0x81, 0xF2, 0x06}, {0x81, 0xF3, 0x06}, {0x81, 0xF4, 0x06}}},
  };
  return flags;
}

bool Contains(const Bytes& haystack, const uint8_t* needle, size_t length) {
  return std::search(haystack.begin(), haystack.end(), needle, needle + length) != haystack.end();
}

class Run {
 public:
  explicit Run(Shared& s)
      : s_(s),
        link_(Link::Uses{s.log, s.countdown, s.buf, net_, deviceIP_, deviceMAC_, s.adapters,
                         s.interfaceSel, s.interfaceCount, s.progress, s.progressStep}) {
    std::memcpy(deviceIP_, kBoardIP, sizeof(deviceIP_));
    std::memcpy(deviceMAC_, kBoardMAC, sizeof(deviceMAC_));
    for (int i = 0; i < SharedBuffers::kDeviceRecordSize; ++i) {
      s.buf.DeviceRecord_Set(i, 0);
    }
    for (int i = 0; i < SharedBuffers::kUDPReplySize; ++i) {
      s.buf.UDPReply_Set(i, 0);
    }
    link_.Net_Startup();
    Require(link_.BroadcastSocket_Create() == 1, "the broadcast socket opens");
    Require(link_.UDPSocket_Create(5002, 5003) == 1, "the UDP socket opens");
    broadcast_ = net_.opened.at(0);
    udp_ = net_.opened.at(1);
    // Each socket's first request: only what comes after it is taken.
    const uint8_t request = 0;
    Require(link_.BroadcastSocket_Send(&request, 1) == 1, "the broadcast socket sends");
    Require(link_.UDPSocket_Send(&request, 1) == 1, "the UDP socket sends");
  }

  void Execute(InputReader& in) {
    textMode_ = (in.Byte() & 1) != 0;
    while (!in.AtEnd()) {
      const uint8_t c = in.Byte();
      switch (c & 7) {
        case 0:
        case 1:
          Queue((c & 7) == 1, ReadBody(in), ((c >> 3) & 7) + 1);
          break;
        case 2:
          Pass();
          break;
        case 3:
          Step(((c >> 3) + 1) * 16);
          break;
        case 4:
          // Each UDP decoder reads on where the other stopped, so a line
          // or frame the other interrupts has a gap.
          lineInterrupted_ = lineInterrupted_ || !UDP_RecvMsgIsIdle(link_);
          textMode_ = !textMode_;
          modesSwitched_ = true;
          break;
        case 5:
        case 6:
          HandleDirectly((c & 7) == 6, ReadBody(in));
          break;
        default:
          TakeEverything();
          break;
      }
    }
    TakeEverything();
    for (int steps = 0; steps < kStepLimit && UDP_RxAvailable(link_); steps += 16) {
      Step(16);
    }
    Require(!UDP_RxAvailable(link_), "the UDP ring is read to its end");
    CheckRecords();
    ReadBroadcastRingToEnd();
  }

 private:
  static Bytes ReadBody(InputReader& in) {
    const int hi = in.Byte();
    const int length = ((hi << 8) | in.Byte()) & kMaxDatagram;
    size_t got = 0;
    const uint8_t* bytes = in.Take(static_cast<size_t>(length), got);
    return Bytes(bytes, bytes + got);
  }

  void Queue(bool toUDP, const Bytes& datagram, int times) {
    for (int i = 0; i < times; ++i) {
      net_.Deliver(toUDP ? udp_ : broadcast_, datagram);
      queued_[toUDP].push_back(datagram);
    }
  }

  // One pass of the receive thread: it takes the oldest datagram of each
  // socket into the ring behind its marker, unless it is too large or the
  // ring is full. Returns how many bytes a ring gained at most.
  int Pass() {
    const uint32_t droppedBefore[2] = {link_.BroadcastRxDropped.load(), link_.UDPRxDropped.load()};
    RecvPass(link_);
    const uint32_t droppedAfter[2] = {link_.BroadcastRxDropped.load(), link_.UDPRxDropped.load()};
    int most = 0;
    for (int ring = 0; ring < 2; ++ring) {
      const uint32_t dropped = droppedAfter[ring] - droppedBefore[ring];
      if (queued_[ring].empty()) {
        Require(dropped == 0, "only a datagram taken is dropped");
        continue;
      }
      const Bytes datagram = std::move(queued_[ring].front());
      queued_[ring].pop_front();
      const int length = static_cast<int>(datagram.size());
      Require(dropped <= (length <= SharedBuffers::kRxBufferSize ? 1u : 0u),
              "a datagram too large for the buffer is not delivered, nor counted as dropped");
      if (length > SharedBuffers::kRxBufferSize || dropped != 0) {
        continue;
      }
      streams_[ring].push_back(kDatagramMarker);
      streams_[ring].insert(streams_[ring].end(), datagram.begin(), datagram.end());
      most = std::max(most, length + 1);
    }
    return most;
  }

  // Takes every datagram; after each pass the decoders read about as many
  // bytes as it brought.
  void TakeEverything() {
    while (!queued_[0].empty() || !queued_[1].empty()) {
      Step(2 * Pass());
    }
  }

  // The ring has no public reader, so numbered "E2P_READ" replies are sent
  // behind what it holds until the one sent last is handled: then nothing
  // waits. The numbers never repeat, so no reply the run sent can pass for
  // one.
  void ReadBroadcastRingToEnd() {
    static uint64_t lastNumber = 0;
    constexpr int kNumberAt = 15;  // where the record keeps the reply's payload
    for (int steps = 0; steps < kStepLimit; steps += 32) {
      const uint64_t number = ++lastNumber;
      Bytes reply = {0x00, 12, 0x80, 0x07};
      for (int shift = 56; shift >= 0; shift -= 8) {
        reply.push_back(static_cast<uint8_t>(number >> shift));
      }
      const auto handled = [&] {
        for (int i = 0; i < 8; ++i) {
          if (s_.buf.DeviceRecord_Get(kNumberAt + i) != reply[4 + i]) {
            return false;
          }
        }
        return true;
      };
      net_.Deliver(broadcast_, reply);
      RecvPass(link_);
      for (int i = 0; i < 32 && !handled(); ++i) {
        Boradcast_RecvDecode(link_);
      }
      if (handled()) {
        return;
      }
    }
    Require(false, "the broadcast ring is read to its end");
  }

  // A frame as a one-reply-per-datagram path would hand it over: exactly
  // `length` bytes, so that a handler reading past them is caught.
  void HandleDirectly(bool udp, const Bytes& frame) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size()]);
    std::copy(frame.begin(), frame.end(), exact.get());
    if (udp) {
      UDP_ReplyHandle(link_, exact.get(), static_cast<int>(frame.size()));
    } else {
      Broadcast_ReplyHandle(link_, exact.get(), static_cast<int>(frame.size()));
    }
  }

  uint8_t FlagValue(const FlagEvidence& f) const {
    return f.udpReply ? s_.buf.UDPReply_Get(f.index) : s_.buf.DeviceRecord_Get(f.index);
  }

  // Bit per flag set, and bit 31 for the "ETH_REQ" answer.
  uint32_t FlagsSet() const {
    uint32_t set = 0;
    const auto& flags = Flags();
    for (size_t i = 0; i < flags.size(); ++i) {
      set |= FlagValue(flags[i]) != 0 ? 1u << i : 0u;
    }
    return set | (link_.EthReqAnswered != 0 ? 1u << 31 : 0u);
  }

  // Steps the broadcast decoder and the UDP channel's decoder. A flag the
  // steps set must come from bytes that arrived; a text line must be one.
  void Step(int steps) {
    const uint32_t before = FlagsSet();
    for (int i = 0; i < steps; ++i) {
      Boradcast_RecvDecode(link_);
      if (textMode_) {
        UDP_RecvMsgDecode(link_);
        if (UDP_RecvMsgIsIdle(link_)) {
          CheckLine();
          UDP_RecvMsgStart(link_);
          lineInterrupted_ = false;
        }
      } else {
        UDP_RecvDecode(link_);
      }
      Require(s_.buf.UDPMessageLen >= 0 && s_.buf.UDPMessageLen <= SharedBuffers::kUDPMessageSize,
              "the text line's length stays within its buffer");
    }
    const uint32_t raised = FlagsSet() & ~before;
    if (raised == 0) {
      return;
    }
    const auto& flags = Flags();
    for (size_t i = 0; i < flags.size(); ++i) {
      if ((raised & (1u << i)) == 0 || (flags[i].udpReply && modesSwitched_)) {
        continue;
      }
      const Bytes& stream = streams_[flags[i].udpReply ? 1 : 0];
      bool seen = false;
      for (const Bytes& run : flags[i].anyOf) {
        seen = seen || Contains(stream, run.data(), run.size());
      }
      Require(seen, "a decoded reply flag comes from bytes that arrived");
    }
    if ((raised & (1u << 31)) != 0) {
      Require(Contains(streams_[0], kBoardMAC, sizeof(kBoardMAC)),
              "the ETH_REQ answer carried the board's MAC");
    }
  }

  // A completed line ends with CR LF. A CR that no LF followed sends the
  // decoder to the next datagram's marker with the line kept, so a line is
  // one or more runs of received bytes, in the order they arrived, each but
  // the last ending in CR and the byte after it.
  void CheckLine() {
    Require(UDP_RecvMsgResult(link_) == 0 || UDP_RecvMsgResult(link_) == 1,
            "the text decoder's result is 0 or 1");
    if (UDP_RecvMsgResult(link_) != 1) {
      return;
    }
    const int length = s_.buf.UDPMessageLen;
    const uint8_t* line = s_.buf.UDPMessage.get();
    Require(length >= 2 && line[length - 2] == kCR && line[length - 1] == kLF,
            "a completed line ends with CR LF");
    if (lineInterrupted_) {
      return;
    }
    const Bytes& stream = streams_[1];
    auto from = stream.begin();
    int start = 0;
    for (int i = 0; i < length; ++i) {
      const bool runEnds = i == length - 1 || (i > 0 && line[i - 1] == kCR && line[i] != kLF);
      if (!runEnds) {
        continue;
      }
      from = std::search(from, stream.end(), line + start, line + i + 1);
      Require(from != stream.end(), "a completed line is made of received bytes, in order");
      from += i + 1 - start;
      start = i + 1;
    }
  }

  // The handlers write only their own fields, and a flag is 0 or 1.
  void CheckRecords() const {
    for (const FlagEvidence& f : Flags()) {
      Require(FlagValue(f) <= 1, "a reply flag is 0 or 1");
    }
    for (int i = 12; i < 15; ++i) {
      Require(s_.buf.DeviceRecord_Get(i) == 0, "no reply writes DeviceRecord 12..14");
    }
    for (int i = 0; i < SharedBuffers::kUDPReplySize; ++i) {
      const bool written = (i >= 10 && i <= 284) || i == 286;
      Require(written || s_.buf.UDPReply_Get(i) == 0, "no reply writes outside its UDPReply field");
    }
    Require(link_.EthReqAnswered == 0 || link_.EthReqAnswered == 1, "ETH_REQ answered is 0 or 1");
    Require(link_.E2pReadAnswered == 0 || link_.E2pReadAnswered == 1,
            "E2P_READ answered is 0 or 1");
    Require(std::equal(deviceMAC_, deviceMAC_ + 6, kBoardMAC) &&
                std::equal(deviceIP_, deviceIP_ + 4, kBoardIP),
            "no reply changes the board's identity");
  }

  Shared& s_;
  test::FakeNet net_;
  uint8_t deviceIP_[4] = {};
  uint8_t deviceMAC_[6] = {};
  Link link_;
  int broadcast_ = -1;
  int udp_ = -1;
  bool textMode_ = false;
  bool lineInterrupted_ = false;  // the line being read was left to the frame decoder
  bool modesSwitched_ = false;    // both UDP decoders have read the ring
  // Per ring, broadcast then UDP: the datagrams not yet taken, and what the
  // ring has received, each datagram behind its marker.
  std::deque<Bytes> queued_[2];
  Bytes streams_[2];
};

}  // namespace
}  // namespace kova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kova::fuzz::Shared shared;
  kova::fuzz::InputReader in(data, size);
  kova::fuzz::Run run(shared);
  run.Execute(in);
  return 0;
}
