#pragma once

#include <functional>

struct nl_msg;
struct nlmsghdr;

namespace kova {

using NetlinkReplyHandler = std::function<void(nlmsghdr&)>;

// Sends one request on a routing netlink socket of its own and reads the
// kernel's answer until the request is acknowledged, refused or its dump has
// ended; every data message of the answer goes to `onReply`. The socket is
// closed before returning. 0 on success, else a positive errno: the kernel's
// own refusal, ETIMEDOUT when no answer came, EMSGSIZE for a truncated one,
// EPROTO for one that belongs to another request, EINTR for a dump that
// the table changed under (worth repeating).
int NetlinkRequest(nl_msg* request, const NetlinkReplyHandler& onReply = {});

}  // namespace kova
