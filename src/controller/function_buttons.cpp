#include "common/format.h"
#include "controller/engine.h"
#include "controller/operator_input.h"
#include "isp/app_image_dump.h"
#include "protocol/front_end_send.h"

namespace kova {

// These run on the front end's thread while the worker is idle. They compose
// into strings of their own, never into the worker's MsgText.

void Engine::DumpAppImage() {
  kova::DumpAppImage(Log, Buf);
}

void Engine::Get_MACAddres(const std::array<std::string, 6>& fields) {
  // The address is parsed into a copy: DeviceMAC stays with the worker, which
  // may still need it to remove the last operation's neighbour entry.
  uint8_t mac[6];
  const int ok = ReadMACFields(fields, mac);
  Log.AppendMessage(1, Format("\nGet_MACAddres(%x-%x-%x-%x-%x-%x) ... %s", mac[0], mac[1], mac[2],
                              mac[3], mac[4], mac[5], ok == 1 ? "Successful !" : "Failed !"));
}

void Engine::SendTestText() {
  const std::string text = Format("4776%c%c", 13, 10);
  const int count = UDPSocket_SendStringFromFrontEnd(link_, text);
  Log.AppendMessage(1, Format("\n   UDPSocket_SendString(len=%d) !", count));
}

}  // namespace kova
