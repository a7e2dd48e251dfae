#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <tuple>

#include "common/adapter_table.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/operation_events.h"
#include "common/shared_buffers.h"
#include "common/wake_event.h"
#include "platform/net_platform.h"
#include "protocol/line_exchange.h"
#include "protocol/sockets.h"

namespace kova {

class NeighbourTable;

// What the engine's link to the board shares between its parts: the two
// sockets, the receive thread, the three reply decoders and the two request
// channels. It owns their states, results and request data; the log, the
// countdowns, the buffers, the socket platform, the board's identity, the
// interface choice and the progress values belong to its owner and are
// only reached through it. The receive thread sees nothing else.
class Link {
 public:
  struct Uses {
    MessageLog& log;
    Countdowns& countdown;
    SharedBuffers& buf;
    NetPlatform& net;
    uint8_t (&deviceIP)[4];
    uint8_t (&deviceMAC)[6];
    const AdapterTable& adapters;
    std::atomic<int32_t>& interfaceSel;
    std::atomic<int32_t>& interfaceCount;
    std::atomic<int32_t>& progress;
    int32_t& progressStep;
    WakeEvent* wake = nullptr;  // signalled for every datagram handed over
    // The host's table, to learn whose MAC a datagram's source address is;
    // without one, no source's owner is known.
    NeighbourTable* neighbours = nullptr;
  };

  explicit Link(const Uses& uses);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Linux sockets need no start-up call: the flag records that the worker
  // has started the network layer, and shutdown clears it.
  void Net_Startup();
  void Net_Cleanup();

  // The two sockets. Create and close log their outcome; send logs a dump.
  int BroadcastSocket_Create();
  int UDPSocket_Create(uint16_t remotePort, uint16_t localPort);
  int BroadcastSocket_Send(const uint8_t* data, int length);
  int UDPSocket_Send(const uint8_t* data, int length);
  // Sends the text as one datagram; the count handed over, 0 if the send failed.
  int UDPSocket_SendString(const std::string& text);
  bool BroadcastSocket_Close();
  bool UDPSocket_Close();

  // What each of the link's machines owns, as values to compare: a step
  // that leaves its record as it was found nothing to do. The requests the
  // channels take are part of RequestRecord; a machine that posts one
  // counts it as its own move. A channel's settle time moves the gauge.
  auto RequestRecord() const {
    return std::make_tuple(BroadcastState, BroadcastOp, BroadcastDone, UDPState, UDPOp,
                           UDPDone.load(), UDPRemotePort, UDPLocalPort, LineState, LineOp, LineDone,
                           UDPMsgState, UDPMsgDone);
  }
  auto BroadcastRecord() const {
    return std::tuple_cat(
        RequestRecord(), std::make_tuple(BroadcastDecodeState, EthReqAnswered, E2pReadAnswered,
                                         Buf.BroadcastRxRead.load(std::memory_order_relaxed),
                                         BroadcastSocket.open, NetStarted.load(), Progress.load()));
  }
  auto UDPRecord() const {
    return std::tuple_cat(
        RequestRecord(),
        std::make_tuple(UDPDecodeState, Buf.UDPRxRead.load(std::memory_order_relaxed),
                        UDPSocket.open, NetStarted.load(), Progress.load()));
  }
  auto LineRecord() const {
    return std::tuple_cat(RequestRecord(), std::make_tuple(LineMatched, LineFailure));
  }

  // --- Used, not owned -----------------------------------------------------
  MessageLog& Log;
  Countdowns& Countdown;
  SharedBuffers& Buf;
  NetPlatform& Net;
  uint8_t (&DeviceIP)[4];
  uint8_t (&DeviceMAC)[6];
  const AdapterTable& Adapters;
  std::atomic<int32_t>& InterfaceSel;
  std::atomic<int32_t>& InterfaceCount;
  std::atomic<int32_t>& Progress;
  int32_t& ProgressStep;
  WakeEvent* Wake;
  NeighbourTable* Neighbours;  // the receive thread's: whose sources are the board's

  // --- Owned ---------------------------------------------------------------
  std::atomic<int32_t> NetStarted{0};  // the receive thread reads it
  std::atomic<int32_t> RecvThreadDelay{5};
  // The receive thread's wake handle (NetPlatform::OpenWake): signalled, its
  // wait ends at once, so that a stop is seen without waiting it out.
  std::atomic<int> RecvWake{-1};
  SocketRecord BroadcastSocket;
  SocketRecord UDPSocket;
  std::atomic<uint32_t> BroadcastRxDropped{0};  // datagrams that did not fit the ring
  std::atomic<uint32_t> UDPRxDropped{0};
  // DeviceIP is known to be the board's: pinned to DeviceMAC by the static
  // entry, or reported by the board from that very address. A socket takes
  // it when it is made.
  int32_t DeviceIPPinned = 0;
  // Set for a request whose reply is the next line: whatever is still
  // queued for the UDP socket is discarded as the request goes out.
  bool UDPDiscardQueued = false;

  // Reply decoders.
  uint8_t BroadcastDecodeState = 0;
  uint8_t UDPDecodeState = 0;
  uint8_t UDPMsgState = 0;
  int32_t UDPMsgDone = 0;
  // Set by the broadcast reply handler when the reply to "ETH_REQ" (for
  // DeviceMAC) or to "E2P_READ" has arrived, whatever bytes it carried.
  int32_t EthReqAnswered = 0;
  int32_t E2pReadAnswered = 0;

  // Channels and their request data.
  uint8_t BroadcastState = 0;
  int32_t BroadcastOp = 0;
  int32_t BroadcastDone = 0;
  uint8_t BroadcastCmdArgs[128] = {};
  uint8_t UDPState = 0;
  int32_t UDPOp = 0;
  std::atomic<int32_t> UDPDone{0};  // also the boot server's completion flag
  uint16_t UDPRemotePort = 0;
  uint16_t UDPLocalPort = 0;
  std::string UDPSendText;
  uint8_t UDPCmdArgs[128] = {};

  // Line-exchange channel and its request.
  uint8_t LineState = 0;
  int32_t LineOp = 0;
  int32_t LineDone = 0;
  int32_t LineMatched = -1;
  std::string LineText;
  std::array<std::string, kMaxExpectedLines> LineExpected;
  int32_t LineExpectedCount = 0;
  LineMatcher LineReplyMatcher = nullptr;
  // Why the last exchange failed; kNone while it runs or when it succeeded.
  FailReason LineFailure = FailReason::kNone;
  // The last line collected, to tell a duplicate from the line after it.
  std::string LineLast;
};

}  // namespace kova
