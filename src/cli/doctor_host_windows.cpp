#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <iphlpapi.h>

#include <cstring>
#include <vector>

#include "cli/doctor_host.h"
#include "common/operation_events.h"
#include "hostnet/adapter_list.h"
#include "hostnet/capabilities.h"
#include "hostnet/route_lookup.h"
#include "platform/host_errors.h"
#include "platform/wide_text_windows.h"

namespace kova::cli {

namespace {

// The adapter the table names `description`, from the fuller list that
// also says whether it is connected and what Windows calls the connection.
struct AdapterState {
  bool found = false;
  DWORD index = 0;
  bool up = false;
  std::string connection;  // "Ethernet 2", as Network Connections shows it
};

AdapterState FindAdapter(const std::string& description) {
  AdapterState state;
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int attempt = 0; attempt < 4 && rc == ERROR_BUFFER_OVERFLOW; ++attempt) {
    buffer.assign(size, 0);
    rc = GetAdaptersAddresses(AF_INET, GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_MULTICAST, nullptr,
                              reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  if (rc != NO_ERROR) {
    return state;
  }
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
       a = a->Next) {
    if (host::Narrow(a->Description) == description) {
      state.found = true;
      state.index = a->IfIndex;
      state.up = a->OperStatus == IfOperStatusUp;
      state.connection = host::Narrow(a->FriendlyName);
      return state;
    }
  }
  return state;
}

std::string Connection(const std::string& name) {
  const AdapterState state = FindAdapter(name);
  return state.connection.empty() ? name : state.connection;
}

std::string ProcessName(DWORD pid) {
  const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    return "";
  }
  wchar_t path[MAX_PATH * 2];
  DWORD size = sizeof path / sizeof *path;
  std::string name;
  if (QueryFullProcessImageNameW(process, 0, path, &size)) {
    name = host::Narrow(path, static_cast<int>(size));
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) {
      name.erase(0, slash + 1);
    }
  }
  CloseHandle(process);
  return name;
}

}  // namespace

DoctorCheck LinkCheck(const std::string& name) {
  const AdapterState state = FindAdapter(name);
  if (!state.found) {
    return Check("link", false, name + ": its state is unknown",
                 "check the adapter in Network Connections (ncpa.cpl)");
  }
  return Check(
      "link", state.up,
      state.up ? name + " is up and has a link"
               : name + " (" + state.connection + ") is disabled or has no link",
      "enable \"" + state.connection +
          "\" in Network Connections (ncpa.cpl), then check the cable and the switch port");
}

std::string AddressFix(const std::string& name) {
  return "give it the address of the board's segment, e.g. as Administrator: netsh interface "
         "ipv4 set address name=\"" +
         Connection(name) + "\" static 192.168.100.1 255.255.255.0";
}

DoctorCheck RouteCheck(const std::string& name, const uint8_t board[4]) {
  const AdapterState state = FindAdapter(name);
  int routed = 0;
  const bool found = LookupRouteInterface(board, routed) == 0;
  const bool through = found && state.found && static_cast<DWORD>(routed) == state.index;
  const std::string where =
      !found    ? std::string(" is not routed at all")
      : through ? " is routed through " + name
                : " is routed through another adapter (interface " + std::to_string(routed) + ")";
  return Check("route", through, "the board's address " + DottedText(board) + where,
               "the board's segment must be reached through " + name +
                   ": check its subnet mask and the routes (route print " + DottedText(board) +
                   ")");
}

std::string RoutedInterface(const uint8_t board[4]) {
  int routed = 0;
  if (LookupRouteInterface(board, routed) != 0) {
    return "";
  }
  AdapterTable adapters;
  Load_AdapterList(adapters);
  for (int i = 0; i < adapters.Count; ++i) {
    const std::string description = adapters.AdapterDesc[i];
    if (InterfaceIndex(description) == routed) {
      return description;
    }
  }
  return "";
}

// Windows filters no replies by the route back to their sender.
bool ReversePathFilter(const std::string& /*name*/, int& all, int& own) {
  all = -1;
  own = -1;
  return false;
}

int InterfaceIndex(const std::string& name) {
  const AdapterState state = FindAdapter(name);
  return state.found ? static_cast<int>(state.index) : 0;
}

int ProbeUdpPort(uint16_t port, const std::string& /*device*/) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    return host_error::kNoMemory;
  }
  int result = 0;
  const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    result = WSAGetLastError();
  } else {
    // On every address: the stricter test, as the server's own socket is
    // exclusive on its adapter's address.
    const BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
      result = WSAGetLastError();
    }
    closesocket(s);
  }
  WSACleanup();
  return result;
}

std::string UdpPortHolder(uint16_t port) {
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD rc = GetExtendedUdpTable(nullptr, &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
  for (int attempt = 0; attempt < 4 && rc == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    buffer.assign(size, 0);
    rc = GetExtendedUdpTable(buffer.data(), &size, FALSE, AF_INET, UDP_TABLE_OWNER_PID, 0);
  }
  if (rc != NO_ERROR) {
    return "";
  }
  const auto* table = reinterpret_cast<const MIB_UDPTABLE_OWNER_PID*>(buffer.data());
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_UDPROW_OWNER_PID& row = table->table[i];
    if (ntohs(static_cast<u_short>(row.dwLocalPort)) == port && row.dwOwningPid != 0) {
      const std::string name = ProcessName(row.dwOwningPid);
      return (name.empty() ? std::string("a process") : name) + " (pid " +
             std::to_string(row.dwOwningPid) + ")";
    }
  }
  return "";
}

DoctorCheck PortCheck(uint16_t port, const char* service, const std::string& device,
                      const std::string& /*program*/) {
  const std::string name = "port-" + std::to_string(port);
  const std::string what = "UDP port " + std::to_string(port) + " (" + service + ")";
  const int err = ProbeUdpPort(port, device);
  if (err == 0) {
    return Check(name.c_str(), true, what + " is free");
  }
  if (err == host_error::kAddressInUse || err == host_error::kSocketDenied) {
    const std::string holder = UdpPortHolder(port);
    return Check(name.c_str(), false,
                 what + " is held by " + (holder.empty() ? "another socket" : holder),
                 "stop it while new-platform boards are upgraded: they fetch their image from "
                 "this tool's boot server (a DHCP server, or Internet Connection Sharing, often "
                 "holds port 67)");
  }
  return Check(name.c_str(), false, what + ": " + host::SystemMessage(static_cast<DWORD>(err)),
               "a socket on this port must be possible for the boot server");
}

DoctorCheck PrivilegeCheck(const std::string& program) {
  const bool elevated = HasEffectiveCapability(kCapNetAdmin);
  return Check("elevation", elevated,
               elevated ? std::string("this process runs as Administrator (elevated)")
                        : "not elevated: the board's neighbour entry needs Administrator",
               "start " + (program.empty() ? std::string("kova-upgrade") : program) +
                   " from an Administrator command prompt (right-click, Run as administrator)");
}

}  // namespace kova::cli
