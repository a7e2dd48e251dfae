#include "controller/engine.h"
#include "protocol/channel_settle.h"
#include "protocol/channels.h"
#include "protocol/command_tables.h"
#include "protocol/kova_command.h"
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

int Post(Engine& e, int32_t op) {
  if (e.UDPState != 0) {
    return 0;
  }
  e.UDPOp = op;
  e.UDPState = kAccepted;
  return 1;
}

uint8_t SendCommandPacket(Engine& e) {
  const auto index = static_cast<uint8_t>(e.Buf.UDPCmdIndex & 0xFF);
  e.Buf.UDPPacketLen = KovaCommand().BuildUDPPacket(index, e.UDPCmdArgs, e.Buf.UDPPacket.get());
  // A row that yields no packet sends nothing.
  if (e.Buf.UDPPacketLen == 0) {
    return STEP_FAIL;
  }
  return e.UDPSocket_Send(e.Buf.UDPPacket.get(), e.Buf.UDPPacketLen) == 1 ? STEP_OK : STEP_FAIL;
}

uint8_t Operate(Engine& e) {
  switch (e.UDPOp) {
    case kOpCreate:
      e.Log.Say(0, "\n    UDP ... create !");
      return e.UDPSocket_Create(e.UDPRemotePort, e.UDPLocalPort) == 1 ? kCreated : STEP_FAIL;
    case kOpCommandPacket:
      e.Log.Say(0, "\n    UDP ... send a command packet !");
      return SendCommandPacket(e);
    case kOpDataPacket:
      e.Log.Say(0, "\n    UDP ... send a data packet !");
      return e.UDPSocket_Send(e.Buf.UDPPacket.get(), e.Buf.UDPPacketLen) == 1 ? STEP_OK : STEP_FAIL;
    case kOpStringPacket:
      e.Log.Say(0, "\n    UDP ... send a string packet !");
      // 0 also when the datagram did not leave: the line would never be answered.
      return e.UDPSocket_SendString(e.UDPSendText) > 0 ? STEP_OK : STEP_FAIL;
    case kOpClose:
      e.Log.Say(0, "\n    UDP ... close !");
      e.UDPSocket_Close();
      return STEP_OK;
    default:
      e.Log.Say(0, "\n  UDP ... unknown !");
      return STEP_FAIL;
  }
}

void StepDecoder(Engine& e) {
  switch (e.UDPOp) {
    case kOpCommandPacket:
      UDP_RecvDecode(e);
      break;
    case kOpDataPacket:
    case kOpStringPacket:
      UDP_RecvMsgDecode(e);
      break;
    default:
      break;
  }
}

}  // namespace

int UDP_Create(Engine& e, uint16_t remotePort, uint16_t localPort) {
  if (e.UDPState != 0) {
    return 0;
  }
  e.UDPRemotePort = remotePort;
  e.UDPLocalPort = localPort;
  return Post(e, kOpCreate);
}

int UDP_Send(Engine& e, int kind) {
  if (kind < 0 || kind > kLastSendKind) {
    return 0;
  }
  return Post(e, kOpCommandPacket + kind);
}

int UDP_Close(Engine& e) {
  return Post(e, kOpClose);
}

bool UDP_IsIdle(const Engine& e) {
  return e.UDPState == 0;
}

int32_t UDP_Result(const Engine& e) {
  return e.UDPDone.load();
}

void UDP_applay(Engine& e) {
  switch (e.UDPState) {
    case 0:
      break;
    case kAccepted:
      e.UDPDone = 0;
      e.UDPState = kOperating;
      break;
    case kOperating:
      e.UDPState = Operate(e);
      break;
    case kCreated:
      if (e.Buf.UDPCmdIndex == udp_cmd::kSendFile) {
        Settle_Skip(e);
      } else {
        Settle_Start(e);
      }
      e.UDPState = kSettling;
      break;
    case kSettling:
      if (Settle_Step(e)) {
        e.UDPState = STEP_OK;
      }
      break;
    case STEP_OK:
      e.UDPDone = 1;
      e.UDPState = STEP_END;
      break;
    case STEP_FAIL:
      e.UDPDone = 0;
      e.UDPState = STEP_END;
      break;
    default:
      e.UDPState = 0;
      break;
  }
  StepDecoder(e);
}

}  // namespace kova
