// The ISP bench's minimal client: the same lines as the engine sends, on a
// blocking socket, each as soon as the board answered the last.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/isp_minimal_client.h"
#include "protocol/sockets.h"

namespace kova::bench {

namespace {

using Clock = std::chrono::steady_clock;

class Client {
 public:
  Client(const std::string& interfaceName, const uint8_t board[4]) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd_, SOL_SOCKET, SO_BINDTODEVICE, interfaceName.c_str(),
               static_cast<socklen_t>(interfaceName.size()));
    timeval tv{5, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    to_.sin_family = AF_INET;
    to_.sin_port = htons(kova::kBoardCommandPort);
    std::memcpy(&to_.sin_addr.s_addr, board, 4);
  }
  ~Client() { close(fd_); }

  void Send(const std::string& line) {
    const std::string wire = line + "\r\n";
    sendto(fd_, wire.data(), wire.size(), 0, reinterpret_cast<const sockaddr*>(&to_), sizeof to_);
  }

  // The next datagram's first line, without its CR LF; empty on time-out.
  std::string Receive() {
    char buf[1024];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n <= 0) {
      return "";
    }
    to_.sin_port = from.sin_port;  // follow the bootloader wherever it answers from
    std::string text(buf, static_cast<size_t>(n));
    return text.substr(0, text.find("\r\n"));
  }

  bool Exchange(const std::string& line, const std::string& expected) {
    Send(line);
    return Receive() == expected;
  }

 private:
  int fd_ = -1;
  sockaddr_in to_{};
};

std::string UULine(const uint8_t* data, int count) {
  auto ch = [](int v) { return static_cast<char>(v == 0 ? 0x60 : v + 0x20); };
  std::string line(1, ch(count));
  for (int i = 0; i < count; i += 3) {
    const int b0 = data[i];
    const int b1 = i + 1 < count ? data[i + 1] : 0;
    const int b2 = i + 2 < count ? data[i + 2] : 0;
    line += ch(b0 >> 2);
    line += ch(((b0 << 4) & 0x30) | (b1 >> 4));
    line += ch(((b1 << 2) & 0x3C) | (b2 >> 6));
    if (i + 2 < count) {
      line += ch(b2 & 0x3F);
    } else if (i + 1 < count) {
      line += ch(0);
    }
  }
  return line;
}

}  // namespace

int RunMinimal(const std::string& interfaceName, const uint8_t board[4], double& seconds) {
  std::vector<uint8_t> image(kRegion);
  for (size_t i = 0; i < kRegion; ++i) {
    image[i] = ImageByte(i);
  }
  Client c(interfaceName, board);
  const auto start = Clock::now();
  bool ok = true;
  c.Send("?");
  const std::string sync = c.Receive();
  if (sync == "Synchronized") {
    ok = c.Exchange("Synchronized", "OK");
  } else {
    ok = sync == "1";
  }
  for (int i = 0; i < 2 && ok; ++i) {
    ok = c.Exchange("J", "0") && c.Receive() == "637615927";
  }
  c.Send("b");
  ok = ok && !c.Receive().empty();
  for (int s = 29; s >= 2 && ok; --s) {
    const std::string n = std::to_string(s) + " " + std::to_string(s);
    ok = c.Exchange("U 23130", "0") && c.Exchange("P " + n, "0") && c.Exchange("E " + n, "0");
  }
  for (size_t block = 0; block < kRegion && ok; block += 1024) {
    for (int half = 0; half < 2 && ok; ++half) {
      const uint8_t* data = image.data() + block + 512 * static_cast<size_t>(half);
      unsigned sum = 0;
      for (int i = 0; i < 512; ++i) {
        sum += data[i];
      }
      ok = c.Exchange("U 23130", "0") &&
           c.Exchange("W " + std::to_string(268435968 + 512 * half) + " 512", "0");
      for (int i = 0; i < 512 && ok; i += 45) {
        c.Send(UULine(data + i, std::min(45, 512 - i)));
      }
      ok = ok && c.Exchange(std::to_string(sum), "OK");
    }
    ok = ok && c.Exchange("P 0 29", "0") &&
         c.Exchange("C " + std::to_string(block + 8192) + " 268435968 1024", "0");
  }
  seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::fprintf(stderr, "isp_bench: the minimal client's dialogue failed\n");
    return 1;
  }
  return 0;
}

}  // namespace kova::bench
