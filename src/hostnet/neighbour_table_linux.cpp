#include "hostnet/neighbour_table.h"

#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netlink/addr.h>
#include <netlink/msg.h>
#include <netlink/route/neighbour.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "hostnet/netlink_request_linux.h"
#include "hostnet/route_lookup.h"

namespace kova {

namespace {

// A dump that the table changed under is read again, a few times at most.
constexpr int kDumpAttempts = 3;

struct NeighPut {
  void operator()(rtnl_neigh* n) const { rtnl_neigh_put(n); }
};
struct AddrPut {
  void operator()(nl_addr* a) const { nl_addr_put(a); }
};
struct MsgFree {
  void operator()(nl_msg* m) const { nlmsg_free(m); }
};
using Neigh = std::unique_ptr<rtnl_neigh, NeighPut>;
using Addr = std::unique_ptr<nl_addr, AddrPut>;
using Msg = std::unique_ptr<nl_msg, MsgFree>;

// The row handed to the kernel: interface, address and, when given, the
// hardware address, as a permanent entry.
Neigh MakeRow(int ifindex, const uint8_t ip[4], const uint8_t* mac) {
  Neigh row(rtnl_neigh_alloc());
  Addr dst(nl_addr_build(AF_INET, ip, 4));
  if (!row || !dst || rtnl_neigh_set_dst(row.get(), dst.get()) < 0) {
    return nullptr;
  }
  rtnl_neigh_set_ifindex(row.get(), ifindex);
  rtnl_neigh_set_state(row.get(), NUD_PERMANENT);
  if (mac != nullptr) {
    Addr lladdr(nl_addr_build(AF_LLC, mac, 6));
    if (!lladdr) {
      return nullptr;
    }
    rtnl_neigh_set_lladdr(row.get(), lladdr.get());
  }
  return row;
}

int Add(int ifindex, const uint8_t ip[4], const uint8_t mac[6], int flags) {
  Neigh row = MakeRow(ifindex, ip, mac);
  nl_msg* raw = nullptr;
  if (!row || rtnl_neigh_build_add_request(row.get(), NLM_F_CREATE | flags, &raw) < 0) {
    return ENOMEM;
  }
  Msg msg(raw);
  return NetlinkRequest(msg.get());
}

void CollectRow(nlmsghdr& reply, std::vector<NeighbourEntry>& rows) {
  rtnl_neigh* parsed = nullptr;
  if (reply.nlmsg_type != RTM_NEWNEIGH || rtnl_neigh_parse(&reply, &parsed) < 0) {
    return;
  }
  Neigh neigh(parsed);
  nl_addr* dst = rtnl_neigh_get_dst(neigh.get());
  if (rtnl_neigh_get_family(neigh.get()) != AF_INET || dst == nullptr ||
      nl_addr_get_len(dst) != 4) {
    return;
  }
  NeighbourEntry row;
  row.ifindex = rtnl_neigh_get_ifindex(neigh.get());
  std::memcpy(row.ip.data(), nl_addr_get_binary_addr(dst), 4);
  nl_addr* lladdr = rtnl_neigh_get_lladdr(neigh.get());
  if (lladdr != nullptr && nl_addr_get_len(lladdr) == 6) {
    std::memcpy(row.mac.data(), nl_addr_get_binary_addr(lladdr), 6);
    row.hasMac = true;
  }
  row.permanent = (rtnl_neigh_get_state(neigh.get()) & NUD_PERMANENT) != 0;
  rows.push_back(row);
}

int DumpOnce(std::vector<NeighbourEntry>& rows) {
  Msg msg(nlmsg_alloc_simple(RTM_GETNEIGH, NLM_F_DUMP));
  ndmsg ndm{};
  ndm.ndm_family = AF_INET;
  if (!msg || nlmsg_append(msg.get(), &ndm, sizeof ndm, NLMSG_ALIGNTO) < 0) {
    return ENOMEM;
  }
  rows.clear();
  return NetlinkRequest(msg.get(), [&rows](nlmsghdr& reply) { CollectRow(reply, rows); });
}

}  // namespace

int DumpNeighbours(std::vector<NeighbourEntry>& rows) {
  int rc = EINTR;
  for (int attempt = 0; attempt < kDumpAttempts && rc == EINTR; ++attempt) {
    rc = DumpOnce(rows);
  }
  if (rc != 0) {
    rows.clear();
  }
  return rc;
}

int AddPermanentNeighbour(int ifindex, const uint8_t ip[4], const uint8_t mac[6]) {
  const int rc = Add(ifindex, ip, mac, NLM_F_EXCL);
  if (rc != EEXIST) {
    return rc;
  }
  std::vector<NeighbourEntry> rows;
  const int dumped = DumpNeighbours(rows);
  if (dumped != 0) {
    return dumped;
  }
  const NeighbourEntry* existing = FindNeighbour(rows, ifindex, ip);
  if (existing != nullptr && existing->Permanent()) {
    return EEXIST;
  }
  return Add(ifindex, ip, mac, NLM_F_REPLACE);
}

int DeleteNeighbour(int ifindex, const uint8_t ip[4]) {
  Neigh row = MakeRow(ifindex, ip, nullptr);
  nl_msg* raw = nullptr;
  if (!row || rtnl_neigh_build_delete_request(row.get(), 0, &raw) < 0) {
    return ENOMEM;
  }
  Msg msg(raw);
  const int rc = NetlinkRequest(msg.get());
  // The kernel says ESRCH for an entry that is not there on some paths.
  return rc == ESRCH ? ENOENT : rc;
}

int AskNeighbour(int ifindex, const uint8_t ip[4], NeighbourEntry& /*answer*/) {
  Neigh row = MakeRow(ifindex, ip, nullptr);
  nl_msg* raw = nullptr;
  if (!row) {
    return ENOMEM;
  }
  // "In use" has the kernel resolve the address as it would for a packet
  // waiting to go there; a new entry is an ordinary one, aged as any other.
  rtnl_neigh_set_state(row.get(), NUD_NONE);
  rtnl_neigh_set_flags(row.get(), NTF_USE);
  if (rtnl_neigh_build_add_request(row.get(), NLM_F_CREATE, &raw) < 0) {
    return ENOMEM;
  }
  Msg msg(raw);
  return NetlinkRequest(msg.get());
}

bool InterfaceStillExists(int ifindex) {
  char name[IF_NAMESIZE];
  // Only a definite "no such device" counts as gone.
  return if_indextoname(static_cast<unsigned>(ifindex), name) != nullptr || errno != ENXIO;
}

}  // namespace kova
