#include "protocol/sockets.h"

#include <cstring>
#include <vector>

#include "common/format.h"
#include "protocol/front_end_send.h"
#include "protocol/hex_dump.h"
#include "protocol/link.h"
#include "protocol/rx_ring.h"

namespace kova {

namespace {

constexpr int kUDPTimeoutMs = 1000;
const UdpEndpoint kBroadcastDestination{{255, 255, 255, 255}, kBoardCommandPort};

// An interface is chosen only when the selection points into the table that
// was read; an index past its end would name a stale or empty entry.
// The operator may change the selection at any time, so it is read once.
bool InterfaceChosen(const Link& link, int32_t sel) {
  return sel >= 0 && sel < link.InterfaceCount.load() && sel < AdapterTable::kMaxAdapters;
}

UdpSocketSpec SpecOnInterface(const Link& link, int32_t sel, uint16_t localPort) {
  UdpSocketSpec spec;
  spec.local.ip = link.Adapters.AdapterIP[sel];
  spec.local.port = localPort;
  spec.device = link.Adapters.AdapterDesc[sel];
  return spec;
}

// Makes the socket unless the record is open already. The platform leaves
// nothing open when a step fails, so a failed attempt keeps the record closed.
bool FillRecord(Link& link, SocketRecord& sock, const UdpSocketSpec& spec,
                const UdpEndpoint& destination, bool followsBoard) {
  std::lock_guard<std::mutex> lock(sock.lock);
  if (sock.open) {
    return false;
  }
  const int handle = link.Net.Open(spec);
  if (handle < 0) {
    return false;
  }
  sock.handle = handle;
  sock.destination = destination;
  sock.local = spec.local;
  sock.open = true;
  sock.followsBoard = followsBoard;
  sock.requestSent = false;
  sock.boardKnown = false;
  std::memcpy(sock.boardMac.data(), link.DeviceMAC, sizeof(link.DeviceMAC));
  std::memcpy(sock.deviceIP.data(), link.DeviceIP, sizeof(link.DeviceIP));
  sock.deviceIPPinned = link.DeviceIPPinned == 1;
  sock.ifindex = 0;
  sock.sourceCount = 0;
  sock.unanswered = 0;
  ++sock.generation;
  sock.boardTraced = false;
  sock.foreignDropped = sock.foreignTraced = 0;
  return true;
}

// The receive thread waits on the handles it read before its wait began: a
// socket made meanwhile would go unwatched until that wait ran out (a whole
// receive delay per command on the remote road, where every command has a
// socket of its own). Its wake makes it read the handles again at once.
bool OpenRecord(Link& link, SocketRecord& sock, const UdpSocketSpec& spec,
                const UdpEndpoint& destination, bool followsBoard) {
  if (!FillRecord(link, sock, spec, destination, followsBoard)) {
    return false;
  }
  link.Net.SignalWake(link.RecvWake.load());
  return true;
}

bool IsOpen(SocketRecord& sock) {
  std::lock_guard<std::mutex> lock(sock.lock);
  return sock.open;
}

// Whatever reached the socket before its first request is not an answer to
// it: a peer that sprays the host's ports during the settle time must not
// steer the request, nor pass its datagram off as the board's reply.
void DropQueued(Link& link, SocketRecord& sock) {
  constexpr int kMostQueued = 4096;
  uint8_t scratch[SharedBuffers::kRxBufferSize];
  for (int i = 0; i < kMostQueued; ++i) {
    UdpEndpoint from;
    if (link.Net.RecvFrom(sock.handle, scratch, sizeof scratch, from) == NetPlatform::kNothing) {
      break;
    }
  }
}

// Traces the datagram, then sends it to the socket's current destination,
// which follows the board on the UDP client. `discardQueued`: only what
// answers this datagram may be read after it, so what earlier requests left
// queued for the socket or unread in its ring goes as it leaves; nothing
// that arrives after it does.
int SendDatagram(Link& link, SocketRecord& sock, const std::string& header, const uint8_t* data,
                 int length, TraceTo to, Ring ring, bool discardQueued = false) {
  if (length <= 0 || data == nullptr || !IsOpen(sock)) {
    return 0;
  }
  Trace(link.Log, to, header);
  TraceHexDump(link.Log, data, length, DumpIndent::kSix, to);
  std::lock_guard<std::mutex> lock(sock.lock);
  if (!sock.open) {
    return 0;
  }
  if (!sock.requestSent) {
    DropQueued(link, sock);
    sock.requestSent = true;
  } else if (discardQueued) {
    DropQueued(link, sock);
    RingDiscard(link.Buf, ring);
    ++sock.generation;
  }
  return link.Net.SendTo(sock.handle, data, static_cast<size_t>(length), sock.destination) < 0 ? 0
                                                                                               : 1;
}

int SendUDPDatagram(Link& link, const uint8_t* data, int length, TraceTo to,
                    bool discardQueued = false) {
  return SendDatagram(link, link.UDPSocket, Format("\n    UDPSocket_Send(%d) = ", length), data,
                      length, to, Ring::kUDP, discardQueued);
}

// Copies the text behind the packet start with a closing zero and sends it.
// A send that failed counts as nothing handed over: reporting the length
// would make the caller wait for the answer to a line that never left.
int SendString(Link& link, const std::string& text, uint8_t* packet, size_t capacity, TraceTo to,
               bool discardQueued = false) {
  if (text.size() + 1 > capacity) {
    return 0;
  }
  const int count = static_cast<int>(text.size());
  std::memcpy(packet, text.data(), text.size());
  packet[count] = 0;
  return SendUDPDatagram(link, packet, count, to, discardQueued) == 1 ? count : 0;
}

bool CloseRecord(Link& link, SocketRecord& sock, const char* message) {
  int result = 0;
  {
    std::lock_guard<std::mutex> lock(sock.lock);
    if (!sock.open) {
      return true;
    }
    result = link.Net.Close(sock.handle);
    if (result == 0) {
      sock.handle = -1;
      sock.open = false;
    }
  }
  link.Log.Say(0, message);
  link.Log.Say(0, result == 0 ? "Successful !" : "Failed !");
  return result == 0;
}

}  // namespace

int Link::BroadcastSocket_Create() {
  bool ok = false;
  const int32_t sel = InterfaceSel.load();
  if (NetStarted.load() == 1 && InterfaceCount.load() != 0 && InterfaceChosen(*this, sel)) {
    UdpSocketSpec spec = SpecOnInterface(*this, sel, 0);
    spec.broadcast = true;
    ok = OpenRecord(*this, BroadcastSocket, spec, kBroadcastDestination, false);
    if (ok) {
      // What the last socket left unread answers nothing this one asks.
      RingDiscard(Buf, Ring::kBroadcast);
    }
  }
  Log.Say(0, "\n    Broadcast Socket(Client) create ... ");
  Log.Say(0, ok ? "Successful !" : "Failed !");
  return ok ? 1 : 0;
}

int Link::UDPSocket_Create(uint16_t remotePort, uint16_t localPort) {
  bool ok = false;
  const int32_t sel = InterfaceSel.load();
  if (NetStarted.load() == 1 && InterfaceChosen(*this, sel)) {
    UdpSocketSpec spec = SpecOnInterface(*this, sel, localPort);
    spec.timeoutMs = kUDPTimeoutMs;
    UdpEndpoint destination;
    std::memcpy(destination.ip.data(), DeviceIP, sizeof(DeviceIP));
    destination.port = remotePort;
    ok = OpenRecord(*this, UDPSocket, spec, destination, true);
    if (ok) {
      RingDiscard(Buf, Ring::kUDP);
    }
  }
  Log.Say(0, "\n    UDP client create ... ");
  Log.Say(0, ok ? "Successful !" : "Failed !");
  return ok ? 1 : 0;
}

int Link::BroadcastSocket_Send(const uint8_t* data, int length) {
  return SendDatagram(*this, BroadcastSocket, Format("\n    BroadcastSocket_Send(%d) = ", length),
                      data, length, TraceTo::kMsgText, Ring::kBroadcast);
}

int Link::UDPSocket_Send(const uint8_t* data, int length) {
  return SendUDPDatagram(*this, data, length, TraceTo::kMsgText);
}

int Link::UDPSocket_SendString(const std::string& text) {
  const bool discardQueued = UDPDiscardQueued;
  UDPDiscardQueued = false;
  return SendString(*this, text, Buf.UDPPacket.get(),
                    static_cast<size_t>(SharedBuffers::kPacketSize), TraceTo::kMsgText,
                    discardQueued);
}

bool Link::BroadcastSocket_Close() {
  return CloseRecord(*this, BroadcastSocket, "\n    Broadcast Socket close ... ");
}

bool Link::UDPSocket_Close() {
  return CloseRecord(*this, UDPSocket, "\n    UDP Socket close ... ");
}

std::string DroppedSinceTraced(SocketRecord& sock, const char* name) {
  std::lock_guard<std::mutex> lock(sock.lock);
  if (sock.foreignDropped == sock.foreignTraced) {
    return "";
  }
  const UdpEndpoint& from = sock.lastForeign;
  const std::string text =
      Format("\n    %s: %u datagram(s) from elsewhere dropped, the last from %d.%d.%d.%d:%d !",
             name, sock.foreignDropped - sock.foreignTraced, from.ip[0], from.ip[1], from.ip[2],
             from.ip[3], from.port);
  sock.foreignTraced = sock.foreignDropped;
  return text;
}

int UDPSocket_SendStringFromFrontEnd(Link& link, const std::string& text) {
  std::vector<uint8_t> packet(text.size() + 1);
  return SendString(link, text, packet.data(), packet.size(), TraceTo::kListOnly);
}

}  // namespace kova
