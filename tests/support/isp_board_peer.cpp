#include "isp_board_peer.h"

#include <algorithm>

#include <sstream>

namespace kova::test {

namespace {

constexpr uint32_t kRamBase = 0x10000000;
constexpr uint32_t kRamSize = 32 * 1024;
constexpr int kSectors = 30;

uint32_t SectorStart(int n) {
  return n < 16 ? static_cast<uint32_t>(n) * 4096 : 65536 + static_cast<uint32_t>(n - 16) * 32768;
}

uint32_t SectorEnd(int n) {
  return n + 1 < kSectors ? SectorStart(n + 1) : IspBoardPeer::kFlashSize;
}

int SectorOf(uint32_t address) {
  int n = 0;
  while (n + 1 < kSectors && SectorStart(n + 1) <= address) {
    ++n;
  }
  return n;
}

int UUValue(char c) {
  return (static_cast<uint8_t>(c) - 0x20) & 0x3F;
}

std::vector<uint8_t> UUDecodeLine(const std::string& line) {
  std::vector<uint8_t> out;
  if (line.empty()) {
    return out;
  }
  const size_t count = static_cast<size_t>(UUValue(line[0]));
  for (size_t i = 1; i < line.size() && out.size() < count; i += 4) {
    int v[4] = {0, 0, 0, 0};
    for (size_t k = 0; k < 4; ++k) {
      v[k] = (i + k < line.size()) ? UUValue(line[i + k]) : 0;
    }
    const uint32_t group = static_cast<uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    for (int shift = 16; shift >= 0 && out.size() < count; shift -= 8) {
      out.push_back(static_cast<uint8_t>(group >> shift));
    }
  }
  return out;
}

std::vector<long> Numbers(std::istringstream& in) {
  std::vector<long> out;
  long n = 0;
  while (in >> n) {
    out.push_back(n);
  }
  return out;
}

}  // namespace

IspBoardPeer::IspBoardPeer(FakeNet& net)
    : net_(net), flash_(kFlashSize), ram_(kRamSize, 0xA5), prepared_(kSectors, false) {
  for (size_t i = 0; i < kFlashSize; ++i) {
    flash_[i] = static_cast<uint8_t>(i < SectorStart(2) ? i * 7 + 3 : i * 31 + 5);
  }
  Attach();
}

void IspBoardPeer::Attach() {
  net_.peer = [this](const FakeNet::Datagram& d) { Take(d); };
  net_.peerOwner = this;
}

void IspBoardPeer::PowerCycle() {
  offered_ = synchronized_ = unlocked_ = writing_ = false;
  std::fill(prepared_.begin(), prepared_.end(), false);
  pending_.clear();
}

IspBoardPeer::~IspBoardPeer() {
  if (net_.peerOwner == this) {
    net_.peer = nullptr;
    net_.peerOwner = nullptr;
  }
}

void IspBoardPeer::Take(const FakeNet::Datagram& d) {
  const std::vector<uint8_t>& b = d.bytes;
  if (b.size() >= 4 && b[2] == 0x80) {
    // The platform check before an upgrade.
    if (b[3] == 0x07) {
      std::vector<uint8_t> reply = {0x00, static_cast<uint8_t>(4 + checkCode.size()), 0x80, 0x07};
      reply.insert(reply.end(), checkCode.begin(), checkCode.end());
      net_.Deliver(d.handle, reply);
    }
    return;
  }
  std::vector<std::string> replies;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text(b.begin(), b.end());
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
      std::string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') {
        line.pop_back();
      }
      for (std::string& r : Answer(line)) {
        replies.push_back(std::move(r));
      }
      start = end + 1;
    }
  }
  for (const std::string& r : replies) {
    const std::string wire = r + "\r\n";
    net_.Deliver(d.handle, std::vector<uint8_t>(wire.begin(), wire.end()), answersFrom);
  }
}

std::vector<std::string> IspBoardPeer::Answer(const std::string& line) {
  const int index = static_cast<int>(lines_.size());
  lines_.push_back(line);
  std::vector<std::string> replies;
  if (script && script(index, line, replies)) {
    return replies;
  }
  if (writing_) {
    if (pending_.size() < writeCount_) {
      for (uint8_t byte : UUDecodeLine(line)) {
        pending_.push_back(byte);
      }
      return {};
    }
    uint32_t sum = 0;
    for (uint8_t byte : pending_) {
      sum += byte;
    }
    const bool forced = resendFirst > 0;
    if (forced) {
      --resendFirst;
    } else if (line == std::to_string(sum) && pending_.size() == writeCount_) {
      std::copy(pending_.begin(), pending_.end(), ram_.begin() + (writeAddress_ - kRamBase));
      writing_ = false;
      return {"OK"};
    } else {
      ++mismatches_;
    }
    pending_.clear();
    return {"RESEND"};
  }
  if (!synchronized_ && alreadySynchronized) {
    synchronized_ = true;
  }
  if (!synchronized_) {
    if (line == "?") {
      offered_ = true;
      return {"Synchronized"};
    }
    if (line == "Synchronized" && offered_) {
      synchronized_ = true;
      return {"OK"};
    }
    return {};
  }
  return Command(line);
}

std::vector<std::string> IspBoardPeer::Command(const std::string& line) {
  std::istringstream in(line);
  std::string word;
  in >> word;
  const std::vector<long> n = Numbers(in);
  if (word == "J" && n.empty()) {
    return {"0", partId};
  }
  if (word == "b" && n.empty()) {
    return {std::string(version.begin(), version.end())};
  }
  if (word == "U" && n.size() == 1) {
    unlocked_ = n[0] == 23130;
    return {unlocked_ ? "0" : "16"};
  }
  if (word == "P" && n.size() == 2) {
    if (n[0] < 0 || n[0] > n[1] || n[1] >= kSectors) {
      return {"7"};
    }
    for (long s = n[0]; s <= n[1]; ++s) {
      prepared_[static_cast<size_t>(s)] = true;
    }
    return {"0"};
  }
  if (word == "E" && n.size() == 2) {
    if (n[0] < 2 || n[0] > n[1] || n[1] >= kSectors) {
      return {"7"};
    }
    for (long s = n[0]; s <= n[1]; ++s) {
      if (!unlocked_ || !prepared_[static_cast<size_t>(s)]) {
        return {"9"};
      }
    }
    std::fill(flash_.begin() + SectorStart(static_cast<int>(n[0])),
              flash_.begin() + SectorEnd(static_cast<int>(n[1])), 0xFF);
    std::fill(prepared_.begin(), prepared_.end(), false);
    return {"0"};
  }
  if (word == "W" && n.size() == 2) {
    if (n[0] < static_cast<long>(kRamBase + 0x200) ||
        n[0] + n[1] > static_cast<long>(kRamBase + kRamSize)) {
      return {"14"};
    }
    writing_ = true;
    writeAddress_ = static_cast<uint32_t>(n[0]);
    writeCount_ = static_cast<uint32_t>(n[1]);
    pending_.clear();
    return {"0"};
  }
  if (word == "C" && n.size() == 3) {
    const auto dst = static_cast<uint32_t>(n[0]);
    const auto src = static_cast<uint32_t>(n[1]);
    const auto count = static_cast<uint32_t>(n[2]);
    if (!unlocked_ || dst < SectorStart(2) || dst + count > kFlashSize || src < kRamBase ||
        src + count > kRamBase + kRamSize) {
      return {"3"};
    }
    for (int s = SectorOf(dst); s <= SectorOf(dst + count - 1); ++s) {
      if (!prepared_[static_cast<size_t>(s)]) {
        return {"9"};
      }
    }
    for (uint32_t i = 0; i < count; ++i) {
      flash_[dst + i] &= ram_[src - kRamBase + i];
    }
    std::fill(prepared_.begin(), prepared_.end(), false);
    ++copies_;
    return {"0"};
  }
  return {"1"};
}

std::vector<uint8_t> IspBoardPeer::Flash() {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_;
}

std::vector<std::string> IspBoardPeer::Lines() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> IspBoardPeer::Commands() {
  std::vector<std::string> out;
  for (const std::string& line : Lines()) {
    if (!line.empty() && line[0] != 'M' && !(line[0] == '1' && line.size() == 25)) {
      out.push_back(line);
    }
  }
  return out;
}

int IspBoardPeer::Copies() {
  std::lock_guard<std::mutex> lock(mutex_);
  return copies_;
}

int IspBoardPeer::ChecksumMismatches() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mismatches_;
}

void IspBoardPeer::SetFlash(const std::vector<uint8_t>& content) {
  std::lock_guard<std::mutex> lock(mutex_);
  flash_ = content;
  flash_.resize(kFlashSize, 0xFF);
}

}  // namespace kova::test
