#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "cli/doctor_host.h"
#include "common/operation_events.h"
#include "hostnet/capabilities.h"
#include "hostnet/route_lookup.h"

namespace kova::cli {

namespace {

// Socket inodes bound to local UDP `port`, from /proc/net/udp and udp6.
std::vector<std::string> SocketInodes(uint16_t port) {
  std::vector<std::string> inodes;
  for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);  // the heading
    while (std::getline(in, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
            timeout >> inode)) {
        continue;
      }
      const size_t colon = local.rfind(':');
      if (colon != std::string::npos &&
          std::strtoul(local.c_str() + colon + 1, nullptr, 16) == port && inode != "0") {
        inodes.push_back(inode);
      }
    }
  }
  return inodes;
}

// 0 when UDP `port` can be bound on any address, else the errno; tied to
// `device` where that is allowed, `tied` telling whether it was.
int Probe(uint16_t port, const std::string& device, bool& tied) {
  tied = false;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return errno;
  }
  if (!device.empty()) {
    // Without the right to tie it, a socket on every interface is the
    // stricter test.
    tied = setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, device.c_str(),
                      static_cast<socklen_t>(device.size())) == 0;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  const int result = bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0 ? 0 : errno;
  close(fd);
  return result;
}

// Where the socket that keeps `port` from `device` listens: a socket tied
// to no device takes the port from every card, one tied to `device` from
// that card alone. Told apart by a socket tied to the loopback interface,
// which only the first keeps out; empty when it cannot be told.
std::string HolderScope(uint16_t port, const std::string& device) {
  bool tied = false;
  if (device.empty() || device == "lo" || Probe(port, device, tied) != EADDRINUSE || !tied) {
    return "";
  }
  const int elsewhere = Probe(port, "lo", tied);
  if (!tied) {
    return "";
  }
  return elsewhere == EADDRINUSE ? " on every interface: it keeps the boot server off every card"
                                 : " on " + device;
}

}  // namespace

DoctorCheck PortCheck(uint16_t port, const char* service, const std::string& device,
                      const std::string& program) {
  const std::string name = "port-" + std::to_string(port);
  const std::string what = "UDP port " + std::to_string(port) + " (" + service + ")";
  const int err = ProbeUdpPort(port, device);
  if (err == 0) {
    return Check(name.c_str(), true, what + " is free");
  }
  if (err == EACCES || err == EPERM) {
    return Check(name.c_str(), false, what + " needs cap_net_bind_service",
                 "run as root, or: " + SetcapCommand(program));
  }
  if (err == EADDRINUSE) {
    const std::string holder = UdpPortHolder(port);
    return Check(name.c_str(), false,
                 what + " is held by " + (holder.empty() ? "another socket" : holder) +
                     HolderScope(port, device),
                 "stop it while new-platform boards are upgraded: they fetch their image from "
                 "this tool's boot server");
  }
  return Check(name.c_str(), false, what + ": " + std::strerror(err),
               "a socket on this port must be possible for the boot server");
}

int ProbeUdpPort(uint16_t port, const std::string& device) {
  bool tied = false;
  return Probe(port, device, tied);
}

std::string UdpPortHolder(uint16_t port) {
  const std::vector<std::string> inodes = SocketInodes(port);
  if (inodes.empty()) {
    return "";
  }
  DIR* proc = opendir("/proc");
  if (proc == nullptr) {
    return "";
  }
  std::string holder;
  while (const dirent* entry = readdir(proc)) {
    const std::string pid = entry->d_name;
    if (pid.find_first_not_of("0123456789") != std::string::npos || !holder.empty()) {
      continue;
    }
    const std::string fdDir = "/proc/" + pid + "/fd";
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) {
      continue;
    }
    while (const dirent* fd = readdir(fds)) {
      char target[64];
      const ssize_t n = readlink((fdDir + "/" + fd->d_name).c_str(), target, sizeof target - 1);
      if (n <= 0) {
        continue;
      }
      target[n] = '\0';
      for (const std::string& inode : inodes) {
        if (std::string(target) == "socket:[" + inode + "]") {
          std::string comm;
          std::ifstream("/proc/" + pid + "/comm") >> comm;
          holder = (comm.empty() ? std::string("a process") : comm) + " (pid " + pid + ")";
        }
      }
    }
    closedir(fds);
  }
  closedir(proc);
  return holder;
}

DoctorCheck LinkCheck(const std::string& name) {
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  const bool read = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  if (fd >= 0) {
    close(fd);
  }
  const bool up = read && (request.ifr_flags & IFF_UP) != 0;
  const bool running = read && (request.ifr_flags & IFF_RUNNING) != 0;
  if (!up) {
    return Check("link", false, name + " is down", "ip link set " + name + " up");
  }
  return Check("link", running,
               running ? name + " is up and has a link" : name + " is up but has no link",
               "check the cable and the switch port");
}

std::string AddressFix(const std::string& name) {
  return "give it the address of the board's segment, e.g. ip addr add 192.168.100.1/24 dev " +
         name;
}

DoctorCheck RouteCheck(const std::string& name, const uint8_t board[4]) {
  int routed = 0;
  const bool found = LookupRouteInterface(board, routed) == 0;
  const int index = static_cast<int>(if_nametoindex(name.c_str()));
  char through[IF_NAMESIZE] = "";
  if (found && routed != index) {
    if_indextoname(static_cast<unsigned>(routed), through);
  }
  const std::string where = !found            ? std::string(" is not routed at all")
                            : routed == index ? " is routed through " + name
                                              : std::string(" is routed through ") +
                                                    (*through ? through : "another interface");
  return Check("route", found && routed == index,
               "the board's address " + DottedText(board) + where,
               "the board's segment must be reached through " + name +
                   ": check its netmask and the routes (ip route get " + DottedText(board) + ")");
}

std::string RoutedInterface(const uint8_t board[4]) {
  int routed = 0;
  char name[IF_NAMESIZE] = "";
  if (LookupRouteInterface(board, routed) != 0 ||
      if_indextoname(static_cast<unsigned>(routed), name) == nullptr) {
    return "";
  }
  return name;
}

bool ReversePathFilter(const std::string& name, int& all, int& own) {
  auto read = [](const std::string& conf) {
    int value = -1;
    std::ifstream("/proc/sys/net/ipv4/conf/" + conf + "/rp_filter") >> value;
    return value;
  };
  all = read("all");
  own = name.empty() || name.find('/') != std::string::npos ? -1 : read(name);
  return true;
}

int InterfaceIndex(const std::string& name) {
  return static_cast<int>(if_nametoindex(name.c_str()));
}

DoctorCheck PrivilegeCheck(const std::string& program) {
  uint64_t effective = 0;
  if (!EffectiveCapabilities(effective)) {
    return Check("capabilities", false, "the capabilities of this process are unknown",
                 "run as root, or: " + SetcapCommand(program));
  }
  std::vector<ProgramCapability> missing;
  for (const ProgramCapability& cap : ProgramCapabilities()) {
    if ((effective >> cap.number & 1) == 0) {
      missing.push_back(cap);
    }
  }
  std::string list;
  for (const ProgramCapability& cap : missing.empty() ? ProgramCapabilities() : missing) {
    list += (list.empty() ? "" : ", ") + std::string(cap.name) +
            (missing.empty() ? "" : std::string(" (") + cap.use + ")");
  }
  return Check("capabilities", missing.empty(),
               missing.empty() ? list + " are effective" : "missing " + list,
               "run as root, or: " + SetcapCommand(program));
}

}  // namespace kova::cli
