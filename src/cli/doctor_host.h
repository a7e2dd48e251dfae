#pragma once

#include <cstdint>
#include <string>

#include "cli/doctor.h"

// The doctor's checks that ask the host itself, one implementation per
// system; the doctor puts them in its order.
namespace kova::cli {

DoctorCheck Check(const char* name, bool ok, std::string detail, std::string fix = "");

// "link": the interface is up and has a carrier.
DoctorCheck LinkCheck(const std::string& name);
// How to give the interface an address on the board's segment.
std::string AddressFix(const std::string& name);
// "route": the board's address is reached through the interface.
DoctorCheck RouteCheck(const std::string& name, const uint8_t board[4]);
// "port-N": the boot server's port can be opened, else who holds it.
DoctorCheck PortCheck(uint16_t port, const char* service, const std::string& device,
                      const std::string& program);
// "capabilities" (Linux) or "elevation" (Windows): the rights the neighbour
// entry and the boot server need.
DoctorCheck PrivilegeCheck(const std::string& program);

// The name of the interface the host routes `board` through; empty when it
// is not routed.
std::string RoutedInterface(const uint8_t board[4]);
// The host's reverse-path filtering for `name`: net.ipv4.conf.all's value
// and the interface's own, -1 where not known; false where the host filters
// no such way (Windows), and the check is left out.
bool ReversePathFilter(const std::string& name, int& all, int& own);

// The host's index of the interface `name`; 0 when there is none.
int InterfaceIndex(const std::string& name);

// Who holds UDP `port` in this network namespace, "NAME (pid N)", as far
// as /proc tells; empty when it does not.
std::string UdpPortHolder(uint16_t port);

// 0 when UDP `port` can be bound on any address (tied to `device` where
// that is allowed, as the boot server does), else the errno.
int ProbeUdpPort(uint16_t port, const std::string& device);

}  // namespace kova::cli
