#include "hostnet/static_arp.h"

#include <cerrno>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/message_log.h"
#include "platform/neighbour_table.h"

namespace kova {

namespace {

constexpr const char* kCaption = "Warining...";
constexpr const char* kAccessDeniedText = "\nERROR_ACCESS_DENIED (User is not Administrator) !";
// The number the operator is shown for a refusal for want of privilege.
constexpr int kAccessDeniedCode = 5;

bool AccessDenied(int err) {
  return err == EPERM || err == EACCES;
}

void Box(MessageLog& log, const std::string& text) {
  log.MsgText = text;
  log.MessageBox(kCaption);
}

std::string CreateFailedText(const uint8_t ip[4]) {
  return Format("\nCreate static IP Address (%d.%d.%d.%d) ... Failed !", ip[0], ip[1], ip[2],
                ip[3]);
}

std::string DeleteFailedText(const uint8_t ip[4]) {
  return Format("\nDelete static IP Address (%d.%d.%d.%d) ... Failed !", ip[0], ip[1], ip[2],
                ip[3]);
}

}  // namespace

int Create_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t mac[6]) {
  int ifindex = 0;
  int shown = 0;  // a failed route lookup is shown as error 0
  if (table.LookupRouteInterface(ip, ifindex) == 0) {
    const int err = table.AddPermanentNeighbour(ifindex, ip, mac);
    if (err == 0) {
      return 1;
    }
    if (err == EEXIST) {
      log.Say(0, Format("\nStatic IP Address (%d.%d.%d.%d) is already exist !", ip[0], ip[1], ip[2],
                        ip[3]));
      return 1;
    }
    shown = err;
    if (AccessDenied(err)) {
      Box(log, kAccessDeniedText);
      shown = kAccessDeniedCode;
    }
  }
  Box(log, Format("\nERROR (%d) !", shown));
  log.Say(0, CreateFailedText(ip));
  return 0;
}

int Check_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4]) {
  int ifindex = 0;
  std::vector<NeighbourEntry> rows;
  bool exists = false;
  if (table.LookupRouteInterface(ip, ifindex) == 0 && table.DumpNeighbours(rows) == 0) {
    const NeighbourEntry* row = FindNeighbour(rows, ifindex, ip);
    exists = row != nullptr && row->Permanent();
  }
  log.Say(0, Format("\nStatic IP Address(%d.%d.%d.%d) ... ", ip[0], ip[1], ip[2], ip[3]) +
                 (exists ? "Exist !" : "No exist !"));
  return exists ? 1 : 0;
}

int Delete_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t* /*mac*/, bool showBoxes) {
  int ifindex = 0;
  if (table.LookupRouteInterface(ip, ifindex) != 0) {
    log.Say(0, DeleteFailedText(ip));
    return 0;
  }
  const int err = table.DeleteNeighbour(ifindex, ip);
  // Nothing to remove is what the removal was for.
  if (err == 0 || err == ENOENT || err == ESRCH) {
    log.Say(0, Format("\nDelete static IP Address (%d.%d.%d.%d) ... Successful !", ip[0], ip[1],
                      ip[2], ip[3]));
    return 1;
  }
  const std::string text =
      AccessDenied(err) ? std::string(kAccessDeniedText) : Format("\nERROR (%d) !", err);
  if (showBoxes) {
    Box(log, text);
  } else {
    log.Say(0, text);
  }
  log.Say(0, DeleteFailedText(ip));
  return 0;
}

}  // namespace kova
