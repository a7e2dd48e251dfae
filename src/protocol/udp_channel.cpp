#include <cstring>
#include <string>

#include "common/format.h"
#include "common/step_states.h"
#include "protocol/channel_settle.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/kova_command.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

// UDPOp values. Op 1 has replies decoded as frames, ops 2 and 3 as text
// lines; any other leaves received bytes in the ring.
enum UDPOps : int32_t {
  kOpCreate = 0,
  kOpCommandPacket = 1,
  kOpDataPacket = 2,
  kOpStringPacket = 3,
  kOpClose = 4,
};

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kAccepted = 1;
constexpr uint8_t kOperating = 2;
constexpr uint8_t kCreated = 3;
constexpr uint8_t kSettling = 4;

constexpr int kLastSendKind = 2;

int Post(Link& link, int32_t op) {
  if (link.UDPState != 0) {
    return 0;
  }
  link.UDPOp = op;
  link.UDPState = kAccepted;
  return 1;
}

uint8_t SendCommandPacket(Link& link) {
  const auto index = static_cast<uint8_t>(link.Buf.UDPCmdIndex & 0xFF);
  link.Buf.UDPPacketLen =
      KovaCommand().BuildUDPPacket(index, link.UDPCmdArgs, link.Buf.UDPPacket.get());
  // A row that yields no packet sends nothing.
  if (link.Buf.UDPPacketLen == 0) {
    return STEP_FAIL;
  }
  return link.UDPSocket_Send(link.Buf.UDPPacket.get(), link.Buf.UDPPacketLen) == 1 ? STEP_OK
                                                                                   : STEP_FAIL;
}

uint8_t Operate(Link& link) {
  switch (link.UDPOp) {
    case kOpCreate:
      link.Log.Say(0, "\n    UDP ... create !");
      return link.UDPSocket_Create(link.UDPRemotePort, link.UDPLocalPort) == 1 ? kCreated
                                                                               : STEP_FAIL;
    case kOpCommandPacket:
      link.Log.Say(0, "\n    UDP ... send a command packet !");
      return SendCommandPacket(link);
    case kOpDataPacket:
      link.Log.Say(0, "\n    UDP ... send a data packet !");
      return link.UDPSocket_Send(link.Buf.UDPPacket.get(), link.Buf.UDPPacketLen) == 1 ? STEP_OK
                                                                                       : STEP_FAIL;
    case kOpStringPacket:
      link.Log.Say(0, "\n    UDP ... send a string packet !");
      // 0 also when the datagram did not leave: the line would never be answered.
      return link.UDPSocket_SendString(link.UDPSendText) > 0 ? STEP_OK : STEP_FAIL;
    case kOpClose:
      link.Log.Say(0, "\n    UDP ... close !");
      link.UDPSocket_Close();
      return STEP_OK;
    default:
      link.Log.Say(0, "\n  UDP ... unknown !");
      return STEP_FAIL;
  }
}

void StepDecoder(Link& link) {
  switch (link.UDPOp) {
    case kOpCommandPacket:
      UDP_RecvDecode(link);
      break;
    case kOpDataPacket:
    case kOpStringPacket:
      UDP_RecvMsgDecode(link);
      break;
    default:
      break;
  }
}

// The receive thread only counts what it refused or followed; the worker
// says so, once per event, without touching MsgText.
void TraceWhoAnswers(Link& link) {
  std::string text;
  {
    SocketRecord& sock = link.UDPSocket;
    std::lock_guard<std::mutex> lock(sock.lock);
    if (sock.boardKnown && !sock.boardTraced) {
      sock.boardTraced = true;
      if (std::memcmp(sock.board.data(), link.DeviceIP, 4) != 0) {
        text += Format("\n    UDP client: the board answers from %d.%d.%d.%d:%d !", sock.board[0],
                       sock.board[1], sock.board[2], sock.board[3], sock.destination.port);
      }
    }
  }
  text += DroppedSinceTraced(link.UDPSocket, "UDP client");
  if (!text.empty()) {
    link.Log.AppendMessage(0, text);
  }
}

}  // namespace

int UDP_Create(Link& link, uint16_t remotePort, uint16_t localPort) {
  if (link.UDPState != 0) {
    return 0;
  }
  link.UDPRemotePort = remotePort;
  link.UDPLocalPort = localPort;
  return Post(link, kOpCreate);
}

int UDP_Send(Link& link, int kind) {
  if (kind < 0 || kind > kLastSendKind) {
    return 0;
  }
  return Post(link, kOpCommandPacket + kind);
}

int UDP_Close(Link& link) {
  return Post(link, kOpClose);
}

bool UDP_IsIdle(const Link& link) {
  return link.UDPState == 0;
}

int32_t UDP_Result(const Link& link) {
  return link.UDPDone.load();
}

namespace {

void UDPStep(Link& link) {
  TraceWhoAnswers(link);
  switch (link.UDPState) {
    case 0:
      break;
    case kAccepted:
      link.UDPDone = 0;
      link.UDPState = kOperating;
      break;
    case kOperating:
      link.UDPState = Operate(link);
      break;
    case kCreated:
      if (link.Buf.UDPCmdIndex == udp_cmd::kSendFile) {
        Settle_Skip(link);
      } else {
        Settle_Start(link);
      }
      link.UDPState = kSettling;
      break;
    case kSettling:
      if (Settle_Step(link)) {
        link.UDPState = STEP_OK;
      }
      break;
    case STEP_OK:
      link.UDPDone = 1;
      link.UDPState = STEP_END;
      break;
    case STEP_FAIL:
      link.UDPDone = 0;
      link.UDPState = STEP_END;
      break;
    default:
      link.UDPState = 0;
      break;
  }
  StepDecoder(link);
}

}  // namespace

bool UDP_applay(Link& link) {
  const auto before = link.UDPRecord();
  UDPStep(link);
  return link.UDPRecord() != before;
}

}  // namespace kova
