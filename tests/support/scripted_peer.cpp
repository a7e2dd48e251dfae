#include "scripted_peer.h"

namespace kova::test {

ScriptedPeer::ScriptedPeer(FakeNet& net) : net_(net) {
  net_.OnSent([this](const FakeNet::Datagram& d) { Seen(d); });
}

ScriptedPeer::~ScriptedPeer() {
  net_.OnSent(nullptr);
}

void ScriptedPeer::AfterSent(int n, std::vector<Bytes> replies, UdpEndpoint from) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back({n, nullptr, std::move(replies), from, 1});
}

void ScriptedPeer::OnSent(std::function<bool(const Bytes&)> match, std::vector<Bytes> replies,
                          UdpEndpoint from, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back({0, std::move(match), std::move(replies), from, times});
}

void ScriptedPeer::Answer(const Bytes& request, std::vector<Bytes> replies, UdpEndpoint from,
                          int times) {
  OnSent([request](const Bytes& sent) { return sent == request; }, std::move(replies), from, times);
}

int ScriptedPeer::SentCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sent_;
}

void ScriptedPeer::Seen(const FakeNet::Datagram& d) {
  std::vector<std::pair<std::vector<Bytes>, UdpEndpoint>> deliveries;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++sent_;
    for (Rule& rule : rules_) {
      if (rule.timesLeft == 0) {
        continue;
      }
      const bool fires = rule.nth > 0 ? rule.nth == sent_ : rule.match(d.bytes);
      if (fires) {
        if (rule.timesLeft > 0) {
          --rule.timesLeft;
        }
        deliveries.emplace_back(rule.replies, rule.from);
      }
    }
  }
  for (const auto& [replies, from] : deliveries) {
    for (const Bytes& reply : replies) {
      net_.Deliver(d.handle, reply, from);
    }
  }
}

}  // namespace kova::test
