#include "controller/engine.h"
#include "protocol/channel_settle.h"
#include "protocol/channels.h"
#include "protocol/kova_command.h"
#include "protocol/receive_path.h"

namespace kova {

namespace {

enum BroadcastOps : int32_t { kOpCreate = 0, kOpSend = 1, kOpClose = 2 };

// Running states; the end states are the shared STEP_OK, STEP_FAIL, STEP_END.
constexpr uint8_t kAccepted = 1;
constexpr uint8_t kOperating = 2;
constexpr uint8_t kCreated = 3;
constexpr uint8_t kSettling = 4;

int Post(Engine& e, int32_t op) {
  if (e.BroadcastState != 0) {
    return 0;
  }
  e.BroadcastOp = op;
  e.BroadcastState = kAccepted;
  return 1;
}

uint8_t Operate(Engine& e) {
  switch (e.BroadcastOp) {
    case kOpCreate:
      e.Log.Say(0, "\n  Broadcast ... create !");
      return e.BroadcastSocket_Create() == 1 ? kCreated : STEP_FAIL;
    case kOpSend: {
      e.Log.Say(0, "\n  Broadcast ... send a packet !");
      const auto index = static_cast<uint8_t>(e.Buf.BroadcastCmdIndex & 0xFF);
      e.Buf.BroadcastPacketLen = KovaCommand().BuildBroadcastPacket(index, e.BroadcastCmdArgs,
                                                                    e.Buf.BroadcastPacket.get());
      // A row that yields no packet sends nothing.
      if (e.Buf.BroadcastPacketLen == 0) {
        return STEP_FAIL;
      }
      return e.BroadcastSocket_Send(e.Buf.BroadcastPacket.get(), e.Buf.BroadcastPacketLen) == 1
                 ? STEP_OK
                 : STEP_FAIL;
    }
    case kOpClose:
      e.Log.Say(0, "\n  Broadcast ... close !");
      e.BroadcastSocket_Close();
      return STEP_OK;
    default:
      e.Log.Say(0, "\n  Broadcast ... unknown !");
      return STEP_FAIL;
  }
}

}  // namespace

int Broadcast_Create(Engine& e) {
  return Post(e, kOpCreate);
}

int Broadcast_Send(Engine& e) {
  return Post(e, kOpSend);
}

int Broadcast_Close(Engine& e) {
  return Post(e, kOpClose);
}

bool Broadcast_IsIdle(const Engine& e) {
  return e.BroadcastState == 0;
}

int32_t Broadcast_Result(const Engine& e) {
  return e.BroadcastDone;
}

void Broadcast_applay(Engine& e) {
  switch (e.BroadcastState) {
    case 0:
      break;
    case kAccepted:
      e.BroadcastDone = 0;
      e.BroadcastState = kOperating;
      break;
    case kOperating:
      e.BroadcastState = Operate(e);
      break;
    case kCreated:
      Settle_Start(e);
      e.BroadcastState = kSettling;
      break;
    case kSettling:
      if (Settle_Step(e)) {
        e.BroadcastState = STEP_OK;
      }
      break;
    case STEP_OK:
      e.BroadcastDone = 1;
      e.BroadcastState = STEP_END;
      break;
    case STEP_FAIL:
      e.BroadcastDone = 0;
      e.BroadcastState = STEP_END;
      break;
    default:
      e.Log.Say(0, "\n  Broadcast_applay() ... exit !");
      e.BroadcastState = 0;
      break;
  }
  Boradcast_RecvDecode(e);
}

}  // namespace kova
