#include "hostnet/netlink_request_linux.h"

#include <linux/netlink.h>
#include <netlink/errno.h>
#include <netlink/handlers.h>
#include <netlink/msg.h>
#include <netlink/netlink.h>
#include <netlink/socket.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace kova {

namespace {

// The kernel answers at once; this only bounds a wait that went wrong.
constexpr auto kAnswerBound = std::chrono::seconds(2);
constexpr int kReceiveTimeoutMs = 500;

struct Exchange {
  const NetlinkReplyHandler* onReply = nullptr;
  bool done = false;
  bool interrupted = false;
  int error = 0;
};

// libnl reports its own codes; the callers speak errno.
int ErrnoOf(int nlError) {
  switch (nlError < 0 ? -nlError : nlError) {
    case NLE_AGAIN:
      return ETIMEDOUT;
    case NLE_MSG_TRUNC:
    case NLE_MSG_TOOSHORT:
    case NLE_MSGSIZE:
      return EMSGSIZE;
    case NLE_SEQ_MISMATCH:
      return EPROTO;
    case NLE_MSG_OVERFLOW:
      return ENOBUFS;
    case NLE_DUMP_INTR:
      return EINTR;
    case NLE_NOMEM:
      return ENOMEM;
    case NLE_PERM:
      return EPERM;
    case NLE_NOACCESS:
      return EACCES;
    case NLE_BAD_SOCK:
      return EBADF;
    default:
      return EIO;
  }
}

// Any process may write to our port; only the kernel answers.
int FromKernelOnly(nl_msg* msg, void*) {
  return nlmsg_get_src(msg)->nl_pid == 0 ? NL_OK : NL_SKIP;
}

int OnReply(nl_msg* msg, void* arg) {
  auto* ex = static_cast<Exchange*>(arg);
  if (*ex->onReply) {
    (*ex->onReply)(*nlmsg_hdr(msg));
  }
  return NL_OK;
}

int OnAck(nl_msg*, void* arg) {
  static_cast<Exchange*>(arg)->done = true;
  return NL_STOP;
}

// A dump that failed part way says so in its closing message.
int OnDumpEnd(nl_msg* msg, void* arg) {
  auto* ex = static_cast<Exchange*>(arg);
  const nlmsghdr* hdr = nlmsg_hdr(msg);
  if (nlmsg_datalen(hdr) >= static_cast<int>(sizeof(int))) {
    const int status = *static_cast<const int*>(nlmsg_data(hdr));
    if (status < 0) {
      ex->error = -status;
    }
  }
  ex->done = true;
  return NL_STOP;
}

// The table changed while it was being dumped: what came is not a snapshot.
int OnDumpInterrupted(nl_msg*, void* arg) {
  static_cast<Exchange*>(arg)->interrupted = true;
  return NL_OK;
}

int OnError(sockaddr_nl*, nlmsgerr* err, void* arg) {
  auto* ex = static_cast<Exchange*>(arg);
  ex->error = err->error < 0 ? -err->error : EPROTO;
  ex->done = true;
  return NL_STOP;
}

struct SocketFree {
  void operator()(nl_sock* sk) const { nl_socket_free(sk); }
};
struct CallbacksPut {
  void operator()(nl_cb* cb) const { nl_cb_put(cb); }
};

}  // namespace

int NetlinkRequest(nl_msg* request, const NetlinkReplyHandler& onReply) {
  std::unique_ptr<nl_sock, SocketFree> sk(nl_socket_alloc());
  std::unique_ptr<nl_cb, CallbacksPut> cb(nl_cb_alloc(NL_CB_DEFAULT));
  if (!sk || !cb) {
    return ENOMEM;
  }
  int rc = nl_connect(sk.get(), NETLINK_ROUTE);
  if (rc < 0) {
    return ErrnoOf(rc);
  }
  timeval tv{0, kReceiveTimeoutMs * 1000};
  if (setsockopt(nl_socket_get_fd(sk.get()), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
    return errno;
  }
  // Peeking sizes the buffer to each datagram, so nothing is cut short; the
  // acknowledgement makes the kernel confirm what it did.
  nl_socket_enable_msg_peek(sk.get());
  nl_socket_enable_auto_ack(sk.get());

  Exchange ex;
  ex.onReply = &onReply;
  nl_cb_set(cb.get(), NL_CB_MSG_IN, NL_CB_CUSTOM, FromKernelOnly, nullptr);
  nl_cb_set(cb.get(), NL_CB_VALID, NL_CB_CUSTOM, OnReply, &ex);
  nl_cb_set(cb.get(), NL_CB_ACK, NL_CB_CUSTOM, OnAck, &ex);
  nl_cb_set(cb.get(), NL_CB_FINISH, NL_CB_CUSTOM, OnDumpEnd, &ex);
  nl_cb_set(cb.get(), NL_CB_DUMP_INTR, NL_CB_CUSTOM, OnDumpInterrupted, &ex);
  nl_cb_err(cb.get(), NL_CB_CUSTOM, OnError, &ex);

  rc = nl_send_auto(sk.get(), request);
  if (rc < 0) {
    return ErrnoOf(rc);
  }
  const auto deadline = std::chrono::steady_clock::now() + kAnswerBound;
  while (!ex.done) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return ETIMEDOUT;
    }
    rc = nl_recvmsgs_report(sk.get(), cb.get());
    if (ex.done) {
      break;
    }
    if (rc < 0) {
      return ErrnoOf(rc);
    }
  }
  if (ex.error == 0 && ex.interrupted) {
    return EINTR;
  }
  return ex.error;
}

}  // namespace kova
