#include <string>

#include "common/step_states.h"
#include "protocol/channel_settle.h"
#include "protocol/channels.h"
#include "protocol/kova_command.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

enum BroadcastOps : int32_t { kOpCreate = 0, kOpSend = 1, kOpClose = 2 };

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kAccepted = 1;
constexpr uint8_t kOperating = 2;
constexpr uint8_t kCreated = 3;
constexpr uint8_t kSettling = 4;

int Post(Link& link, int32_t op) {
  if (link.BroadcastState != 0) {
    return 0;
  }
  link.BroadcastOp = op;
  link.BroadcastState = kAccepted;
  return 1;
}

uint8_t Operate(Link& link) {
  switch (link.BroadcastOp) {
    case kOpCreate:
      link.Log.Say(0, "\n  Broadcast ... create !");
      return link.BroadcastSocket_Create() == 1 ? kCreated : STEP_FAIL;
    case kOpSend: {
      link.Log.Say(0, "\n  Broadcast ... send a packet !");
      const auto index = static_cast<uint8_t>(link.Buf.BroadcastCmdIndex & 0xFF);
      link.Buf.BroadcastPacketLen = KovaCommand().BuildBroadcastPacket(
          index, link.BroadcastCmdArgs, link.Buf.BroadcastPacket.get());
      // A row that yields no packet sends nothing.
      if (link.Buf.BroadcastPacketLen == 0) {
        return STEP_FAIL;
      }
      return link.BroadcastSocket_Send(link.Buf.BroadcastPacket.get(),
                                       link.Buf.BroadcastPacketLen) == 1
                 ? STEP_OK
                 : STEP_FAIL;
    }
    case kOpClose:
      link.Log.Say(0, "\n  Broadcast ... close !");
      link.BroadcastSocket_Close();
      return STEP_OK;
    default:
      link.Log.Say(0, "\n  Broadcast ... unknown !");
      return STEP_FAIL;
  }
}

}  // namespace

int Broadcast_Create(Link& link) {
  return Post(link, kOpCreate);
}

int Broadcast_Send(Link& link) {
  return Post(link, kOpSend);
}

int Broadcast_Close(Link& link) {
  return Post(link, kOpClose);
}

bool Broadcast_IsIdle(const Link& link) {
  return link.BroadcastState == 0;
}

int32_t Broadcast_Result(const Link& link) {
  return link.BroadcastDone;
}

namespace {

void BroadcastStep(Link& link) {
  // The receive thread only counts what it refused; the worker says so.
  const std::string dropped = DroppedSinceTraced(link.BroadcastSocket, "Broadcast socket");
  if (!dropped.empty()) {
    link.Log.AppendMessage(0, dropped);
  }
  switch (link.BroadcastState) {
    case 0:
      break;
    case kAccepted:
      link.BroadcastDone = 0;
      link.BroadcastState = kOperating;
      break;
    case kOperating:
      link.BroadcastState = Operate(link);
      break;
    case kCreated:
      Settle_Start(link);
      link.BroadcastState = kSettling;
      break;
    case kSettling:
      if (Settle_Step(link)) {
        link.BroadcastState = STEP_OK;
      }
      break;
    case STEP_OK:
      link.BroadcastDone = 1;
      link.BroadcastState = STEP_END;
      break;
    case STEP_FAIL:
      link.BroadcastDone = 0;
      link.BroadcastState = STEP_END;
      break;
    default:
      link.Log.Say(0, "\n  Broadcast_applay() ... exit !");
      link.BroadcastState = 0;
      break;
  }
  Boradcast_RecvDecode(link);
}

}  // namespace

bool Broadcast_applay(Link& link) {
  const auto before = link.BroadcastRecord();
  BroadcastStep(link);
  return link.BroadcastRecord() != before;
}

}  // namespace kova
