// The host's neighbour (ARP) table through IP Helper: GetBestRoute for the
// interface, CreateIpNetEntry and DeleteIpNetEntry for the board's static
// row, GetIpNetTable to read it back, SendARP to ask the segment for an
// address. Never the *2 successors, which the Windows emulation of Linux
// test hosts does not have.

#include <winsock2.h>
// After winsock2.h.
#include <iphlpapi.h>
#include <netioapi.h>

#include <cstring>
#include <vector>

#include "hostnet/neighbour_table.h"
#include "hostnet/route_lookup.h"
#include "platform/host_errors.h"

namespace kova {

namespace {

// A table that grew between the size query and the read is read again.
constexpr int kReadAttempts = 4;

MIB_IPNETROW MakeRow(int ifindex, const uint8_t ip[4], const uint8_t* mac) {
  MIB_IPNETROW row;
  std::memset(&row, 0, sizeof row);
  row.dwIndex = static_cast<DWORD>(ifindex);
  row.dwPhysAddrLen = 6;
  if (mac != nullptr) {
    std::memcpy(row.bPhysAddr, mac, 6);
  }
  std::memcpy(&row.dwAddr, ip, 4);
  row.dwType = MIB_IPNET_TYPE_STATIC;
  return row;
}

}  // namespace

int DumpNeighbours(std::vector<NeighbourEntry>& rows) {
  rows.clear();
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD rc = GetIpNetTable(nullptr, &size, TRUE);
  for (int attempt = 0; attempt < kReadAttempts && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.assign(size, 0);
    rc = GetIpNetTable(reinterpret_cast<MIB_IPNETTABLE*>(buffer.data()), &size, TRUE);
  }
  if (rc == ERROR_NO_DATA) {
    return 0;  // an empty table
  }
  if (rc != NO_ERROR) {
    return static_cast<int>(rc);
  }
  const auto* table = reinterpret_cast<const MIB_IPNETTABLE*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_IPNETROW& r = table->table[i];
    NeighbourEntry row;
    row.ifindex = static_cast<int>(r.dwIndex);
    std::memcpy(row.ip.data(), &r.dwAddr, 4);
    if (r.dwPhysAddrLen == 6) {
      std::memcpy(row.mac.data(), r.bPhysAddr, 6);
      row.hasMac = true;
    }
    row.permanent = r.dwType == MIB_IPNET_TYPE_STATIC;
    rows.push_back(row);
  }
  return 0;
}

int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) {
  MIB_IPNETROW row = MakeRow(ifindex, ip, mac);
  const DWORD rc = CreateIpNetEntry(&row);
  if (rc != ERROR_OBJECT_ALREADY_EXISTS) {
    return static_cast<int>(rc);
  }
  // Only a static row counts as there already; one the host learnt itself
  // is made static with the board's MAC.
  std::vector<NeighbourEntry> rows;
  const int dumped = DumpNeighbours(rows);
  if (dumped != 0) {
    return dumped;
  }
  const NeighbourEntry* existing = FindNeighbour(rows, ifindex, ip);
  if (existing == nullptr || existing->Permanent()) {
    return host_error::kExists;
  }
  return static_cast<int>(SetIpNetEntry(&row));
}

int DeleteNeighbour(int ifindex, const uint8_t ip[4]) {
  MIB_IPNETROW row = MakeRow(ifindex, ip, nullptr);
  const DWORD rc = DeleteIpNetEntry(&row);
  if (rc == ERROR_FILE_NOT_FOUND || rc == ERROR_NOT_FOUND) {
    return host_error::kNoEntry;
  }
  return static_cast<int>(rc);
}

// SendARP takes no interface: the host asks where its route to the address
// leads, and only an address on a link of its own is answered. Wine has no
// SendARP (ERROR_NOT_SUPPORTED): the table is then all there is.
int AskNeighbour(int /*ifindex*/, const uint8_t ip[4], NeighbourEntry& answer) {
  IPAddr destination = 0;
  std::memcpy(&destination, ip, 4);
  ULONG mac[2] = {0, 0};
  ULONG length = 6;
  const DWORD rc = SendARP(destination, 0, mac, &length);
  if (rc != NO_ERROR) {
    return static_cast<int>(rc);
  }
  if (length == 6) {
    std::memcpy(answer.mac.data(), mac, 6);
    answer.hasMac = true;
  }
  return 0;
}

bool InterfaceStillExists(int ifindex) {
  MIB_IFROW row;
  std::memset(&row, 0, sizeof row);
  row.dwIndex = static_cast<DWORD>(ifindex);
  // Only a definite "no such interface" counts as gone.
  const DWORD rc = GetIfEntry(&row);
  return rc != ERROR_FILE_NOT_FOUND && rc != ERROR_NOT_FOUND && rc != ERROR_INVALID_DATA;
}

}  // namespace kova
