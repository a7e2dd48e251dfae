#include "hostnet/route_lookup.h"

#include <linux/rtnetlink.h>
#include <netlink/attr.h>
#include <netlink/msg.h>
#include <sys/socket.h>

#include <cerrno>

#include "hostnet/netlink_request_linux.h"

namespace kova {

int LookupRouteInterface(const uint8_t ip[4], int& ifindex) {
  nl_msg* msg = nlmsg_alloc_simple(RTM_GETROUTE, 0);
  if (msg == nullptr) {
    return ENOMEM;
  }
  rtmsg rtm{};
  rtm.rtm_family = AF_INET;
  rtm.rtm_dst_len = 32;
  if (nlmsg_append(msg, &rtm, sizeof rtm, NLMSG_ALIGNTO) < 0 || nla_put(msg, RTA_DST, 4, ip) < 0) {
    nlmsg_free(msg);
    return ENOMEM;
  }

  int found = 0;
  const int rc = NetlinkRequest(msg, [&found](nlmsghdr& reply) {
    nlmsghdr* hdr = &reply;
    nlattr* attrs[RTA_MAX + 1] = {};
    if (hdr->nlmsg_type != RTM_NEWROUTE ||
        nlmsg_parse(hdr, sizeof(rtmsg), attrs, RTA_MAX, nullptr) < 0) {
      return;
    }
    // A local, broadcast or multicast destination is no board on a link.
    const auto* route = static_cast<const rtmsg*>(nlmsg_data(hdr));
    if (route->rtm_type == RTN_UNICAST && attrs[RTA_OIF] != nullptr &&
        nla_len(attrs[RTA_OIF]) >= static_cast<int>(sizeof(uint32_t))) {
      found = static_cast<int>(nla_get_u32(attrs[RTA_OIF]));
    }
  });
  nlmsg_free(msg);
  if (rc != 0) {
    return rc;
  }
  if (found <= 0) {
    return ENETUNREACH;
  }
  ifindex = found;
  return 0;
}

}  // namespace kova
