// Prints how long a TFTP client at the board's address takes to read an
// image from the boot server, next to Debian's tftpd-hpa serving the same
// file to the same client over the same link, and the ratio of the medians.
//
// Runs in the server's network namespace; the client runs in the board's,
// entered by the child process before it executes the client, so that the
// time of each read is the client's own run and nothing more. tftpd-hpa
// listens on a port of its own beside port 69, so that the reads can take
// turns and a busy spell of the machine falls on both alike. Started by
// bench/bootserver_bench.sh, which builds the namespaces.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bootserver/boot_server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string boardNetns;
  std::string device = "eth1";
  std::string serverIp = "192.168.100.1";
  std::string clientIp = "192.168.100.2";
  std::string image;  // also what tftpd-hpa serves: its directory is the root
  std::string out;    // where the client writes what it read
  int runs = 10;
};

bool ParseIp(const std::string& text, std::array<uint8_t, 4>& ip) {
  unsigned a, b, c, d;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4 || a > 255 || b > 255 ||
      c > 255 || d > 255) {
    return false;
  }
  ip = {static_cast<uint8_t>(a), static_cast<uint8_t>(b), static_cast<uint8_t>(c),
        static_cast<uint8_t>(d)};
  return true;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

constexpr int kTftpdPort = 6969;

// Whether some socket of this namespace is bound to the UDP port.
bool PortBound(int port) {
  char local[8];
  std::snprintf(local, sizeof(local), ":%04X ", port);
  std::ifstream udp("/proc/net/udp");
  std::string line;
  while (std::getline(udp, line)) {
    const size_t at = line.find(local);
    if (at != std::string::npos && at < 20) {
      return true;
    }
  }
  return false;
}

bool WaitForPort(int port, std::chrono::milliseconds limit) {
  const auto end = Clock::now() + limit;
  while (!PortBound(port)) {
    if (Clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// One read by the TFTP client in the board's namespace; the wall time of the
// client's run, or a negative value if it failed.
double TimedRead(const Options& o, int port) {
  std::remove(o.out.c_str());
  const std::string portText = std::to_string(port);
  const std::string netnsPath = "/run/netns/" + o.boardNetns;
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(netnsPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
      _exit(126);
    }
    execlp("tftp", "tftp", "-m", "binary", o.serverIp.c_str(), portText.c_str(), "-c", "get",
           "firmware.bin", o.out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

bool SameAsImage(const Options& o, const std::vector<uint8_t>& image) {
  return ReadFile(o.out) == image;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void NoProgress(int, void*) {}

// One read from the boot server, started afresh since it ends with the
// transfer; negative if it failed.
double ReadFromBootServer(const Options& o, const std::vector<uint8_t>& image,
                          kova::NetPlatform& net) {
  std::array<uint8_t, 4> server{}, client{};
  if (!ParseIp(o.serverIp, server) || !ParseIp(o.clientIp, client)) {
    return -1;
  }
  const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::atomic<int32_t> stop{0};
  int result = -1;
  kova::BootServerParams params;
  params.requestBound = std::chrono::seconds(20);
  std::thread serverThread([&] {
    result =
        kova::BootServer_Run(mac, server, client, image.data(), static_cast<uint32_t>(image.size()),
                             &NoProgress, nullptr, stop, net, o.device, params);
  });
  double ms = -1;
  if (WaitForPort(69, std::chrono::seconds(5))) {
    ms = TimedRead(o, 69);
  }
  if (ms < 0) {
    stop = 1;
  }
  serverThread.join();
  if (result != kova::kBootServerComplete) {
    std::fprintf(stderr, "boot server: result %d\n", result);
    return -1;
  }
  return ms;
}

pid_t StartTftpd(const Options& o) {
  const std::string root = o.image.substr(0, o.image.rfind('/'));
  const std::string address = o.serverIp + ":" + std::to_string(kTftpdPort);
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("in.tftpd", "in.tftpd", "--listen", "--foreground", "--address", address.c_str(),
           "--secure", root.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--board-netns") {
      o.boardNetns = value;
    } else if (key == "--device") {
      o.device = value;
    } else if (key == "--server") {
      o.serverIp = value;
    } else if (key == "--client") {
      o.clientIp = value;
    } else if (key == "--image") {
      o.image = value;
    } else if (key == "--out") {
      o.out = value;
    } else if (key == "--runs") {
      o.runs = std::max(1, std::atoi(value.c_str()));
    }
  }
  if (o.boardNetns.empty() || o.image.empty() || o.out.empty()) {
    std::fprintf(stderr,
                 "usage: %s --board-netns NAME --image DIR/firmware.bin --out FILE [--device "
                 "IF] [--server IP] [--client IP] [--runs N]\n",
                 argv[0]);
    return 2;
  }
  const std::vector<uint8_t> image = ReadFile(o.image);

  const pid_t tftpd = StartTftpd(o);
  if (tftpd < 0 || !WaitForPort(kTftpdPort, std::chrono::seconds(5))) {
    std::fprintf(stderr, "in.tftpd did not start\n");
    return 1;
  }
  auto net = kova::MakeNetPlatform();
  std::vector<double> ours, theirs;
  bool ok = true;
  // The first pair warms the caches and is not counted.
  for (int run = 0; ok && run <= o.runs; ++run) {
    const double a = ReadFromBootServer(o, image, *net);
    ok = a >= 0 && SameAsImage(o, image);
    const double b = ok ? TimedRead(o, kTftpdPort) : -1;
    ok = ok && b >= 0 && SameAsImage(o, image);
    if (ok && run > 0) {
      ours.push_back(a);
      theirs.push_back(b);
    }
  }
  kill(tftpd, SIGTERM);
  waitpid(tftpd, nullptr, 0);
  if (!ok) {
    std::fprintf(stderr, "a read failed or brought another file\n");
    return 1;
  }
  const double a = Median(ours);
  const double b = Median(theirs);
  std::printf("image %zu bytes, %zu reads each by tftp-hpa at %s\n", image.size(), ours.size(),
              o.clientIp.c_str());
  std::printf("boot server  median %8.1f ms  min %8.1f ms\n", a,
              *std::min_element(ours.begin(), ours.end()));
  std::printf("tftpd-hpa    median %8.1f ms  min %8.1f ms\n", b,
              *std::min_element(theirs.begin(), theirs.end()));
  std::printf("ratio boot server / tftpd-hpa: %.2f (goal 1.1 or less)\n", a / b);
  return 0;
}
