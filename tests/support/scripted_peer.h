#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "bytes.h"
#include "fake_net.h"

namespace kova::test {

// The board's side of a test: answers what the engine sends on a FakeNet.
// A rule fires on the datagram that matches it and delivers its replies to
// the socket that sent it, from `from`.
class ScriptedPeer {
 public:
  static constexpr UdpEndpoint kBoard{{192, 168, 100, 2}, 5002};

  explicit ScriptedPeer(FakeNet& net);
  ~ScriptedPeer();

  // After the nth datagram sent (counting from 1 on this network).
  void AfterSent(int n, std::vector<Bytes> replies, UdpEndpoint from = kBoard);
  // Every datagram sent that `match` accepts; `times` of them, or all (-1).
  void OnSent(std::function<bool(const Bytes&)> match, std::vector<Bytes> replies,
              UdpEndpoint from = kBoard, int times = -1);
  // Every datagram whose bytes are exactly `request`.
  void Answer(const Bytes& request, std::vector<Bytes> replies, UdpEndpoint from = kBoard,
              int times = -1);

  int SentCount() const;

 private:
  struct Rule {
    int nth;  // 0: by match
    std::function<bool(const Bytes&)> match;
    std::vector<Bytes> replies;
    UdpEndpoint from;
    int timesLeft;
  };
  void Seen(const FakeNet::Datagram& d);

  FakeNet& net_;
  mutable std::mutex mutex_;
  std::vector<Rule> rules_;
  int sent_ = 0;
};

}  // namespace kova::test
