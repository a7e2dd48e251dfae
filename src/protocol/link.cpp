#include "protocol/link.h"

namespace kova {

Link::Link(const Uses& uses)
    : Log(uses.log),
      Countdown(uses.countdown),
      Buf(uses.buf),
      Net(uses.net),
      DeviceIP(uses.deviceIP),
      DeviceMAC(uses.deviceMAC),
      Adapters(uses.adapters),
      InterfaceSel(uses.interfaceSel),
      InterfaceCount(uses.interfaceCount),
      Progress(uses.progress),
      ProgressStep(uses.progressStep),
      Wake(uses.wake),
      Neighbours(uses.neighbours) {}

void Link::Net_Startup() {
  if (NetStarted == 1) {
    return;
  }
  NetStarted = 1;
}

void Link::Net_Cleanup() {
  if (NetStarted != 1) {
    return;
  }
  NetStarted = 0;
  Log.Say(0, "\nWSACleanup ... successful !");
}

}  // namespace kova
