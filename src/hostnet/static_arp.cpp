#include "hostnet/static_arp.h"

#include <cstring>
#include <string>
#include <vector>

#include "common/format.h"
#include "common/message_log.h"
#include "hostnet/capabilities.h"
#include "platform/host_errors.h"
#include "platform/neighbour_table.h"

namespace kova {

namespace {

constexpr const char* kCaption = "Warining...";
constexpr const char* kAccessDeniedText = "\nERROR_ACCESS_DENIED (User is not Administrator) !";
// The number the operator is shown for a refusal for want of privilege.
constexpr int kAccessDeniedCode = 5;

bool AccessDenied(int err) {
  return host_error::Denied(err);
}

void Box(MessageLog& log, const std::string& text) {
  log.MsgText = text;
  log.MessageBox(kCaption);
}

// The refusal names no privilege; the operator is told which one is missing
// and how to get it, when it is this process that lacks it.
void SayMissingNetAdmin(MessageLog& log, NeighbourTable& table) {
  if (!table.HoldsCapability(kCapNetAdmin)) {
    log.AppendMessage(1, MissingCapabilityText(kCapNetAdmin));
  }
}

std::string CreateFailedText(const uint8_t ip[4]) {
  return Format("\nCreate static IP Address (%d.%d.%d.%d) ... Failed !", ip[0], ip[1], ip[2],
                ip[3]);
}

std::string DeleteFailedText(const uint8_t ip[4]) {
  return Format("\nDelete static IP Address (%d.%d.%d.%d) ... Failed !", ip[0], ip[1], ip[2],
                ip[3]);
}

// Adds the entry. A permanent entry for the address that is there already
// is left when it names the board's MAC (kExists) and replaced when it names
// another: every board is given the same derived address, and the lines
// must go to this one.
int AddEntry(MessageLog& log, NeighbourTable& table, int ifindex, const uint8_t ip[4],
             const uint8_t mac[6]) {
  const int err = table.AddPermanentNeighbour(ifindex, ip, mac);
  if (err != host_error::kExists) {
    return err;
  }
  std::vector<NeighbourEntry> rows;
  const int dumped = table.DumpNeighbours(rows);
  if (dumped != 0) {
    return dumped;
  }
  const NeighbourEntry* row = FindNeighbour(rows, ifindex, ip);
  if (row == nullptr || (row->hasMac && std::memcmp(row->mac.data(), mac, 6) == 0)) {
    return host_error::kExists;
  }
  const auto& old = row->mac;
  log.Say(0, Format("\nStatic IP Address (%d.%d.%d.%d) was bound to "
                    "%02x:%02x:%02x:%02x:%02x:%02x ... replaced !",
                    ip[0], ip[1], ip[2], ip[3], old[0], old[1], old[2], old[3], old[4], old[5]));
  const int removed = table.DeleteNeighbour(ifindex, ip);
  if (removed != 0 && removed != host_error::kNoEntry) {
    return removed;
  }
  return table.AddPermanentNeighbour(ifindex, ip, mac);
}

std::string DeletedText(const uint8_t ip[4]) {
  return Format("\nDelete static IP Address (%d.%d.%d.%d) ... Successful !", ip[0], ip[1], ip[2],
                ip[3]);
}

}  // namespace

int Create_StaticARP(MessageLog& log, NeighbourTable& table, const uint8_t ip[4],
                     const uint8_t mac[6], int* ifindex, int* error) {
  int routed = 0;
  int shown = 0;  // a failed route lookup is shown as error 0
  if (error != nullptr) {
    *error = host_error::kUnreachable;
  }
  if (table.LookupRouteInterface(ip, routed) == 0) {
    const int err = AddEntry(log, table, routed, ip, mac);
    if (err == 0 || err == host_error::kExists) {
      if (err == host_error::kExists) {
        log.Say(0, Format("\nStatic IP Address (%d.%d.%d.%d) is already exist !", ip[0], ip[1],
                          ip[2], ip[3]));
      }
      if (ifindex != nullptr) {
        *ifindex = routed;
      }
      return 1;
    }
    shown = err;
    if (error != nullptr) {
      *error = err;
    }
    if (AccessDenied(err)) {
      Box(log, kAccessDeniedText);
      SayMissingNetAdmin(log, table);
      shown = kAccessDeniedCode;
    }
  }
  Box(log, Format("\nERROR (%d) !", shown));
  log.Say(0, CreateFailedText(ip));
  return 0;
}

int Check_NeighbourPrivilege(MessageLog& log, NeighbourTable& table, const uint8_t ip[4]) {
  if (table.HoldsCapability(kCapNetAdmin)) {
    return 1;
  }
  // What the host's refusal would show, before the board is touched.
  Box(log, kAccessDeniedText);
  SayMissingNetAdmin(log, table);
  Box(log, Format("\nERROR (%d) !", kAccessDeniedCode));
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

int Delete_StaticARP(MessageLog& log, NeighbourTable& table, int ifindex, const uint8_t ip[4],
                     const uint8_t* /*mac*/, bool showBoxes, int* error) {
  if (error != nullptr) {
    *error = host_error::kUnreachable;
  }
  if (ifindex <= 0 && table.LookupRouteInterface(ip, ifindex) != 0) {
    log.Say(0, DeleteFailedText(ip));
    return 0;
  }
  if (!table.InterfaceExists(ifindex)) {
    log.Say(0, Format("\n    Interface %d is gone, and its entries with it !", ifindex));
    log.Say(0, DeletedText(ip));
    return 1;
  }
  const int err = table.DeleteNeighbour(ifindex, ip);
  // Nothing to remove is what the removal was for; so is an interface that
  // went away meanwhile.
  if (err == 0 || err == host_error::kNoEntry || err == host_error::kNoInterface) {
    log.Say(0, DeletedText(ip));
    return 1;
  }
  if (error != nullptr) {
    *error = err;
  }
  const std::string text =
      AccessDenied(err) ? std::string(kAccessDeniedText) : Format("\nERROR (%d) !", err);
  if (showBoxes) {
    Box(log, text);
    if (AccessDenied(err)) {
      SayMissingNetAdmin(log, table);
    }
  } else {
    log.Say(0, text);
  }
  log.Say(0, DeleteFailedText(ip));
  return 0;
}

}  // namespace kova
