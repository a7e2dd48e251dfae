#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fake_net.h"

namespace kova::test {

inline constexpr uint8_t kBoardMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
inline const UdpEndpoint kBoardBootp{{0, 0, 0, 0}, 68};
inline const UdpEndpoint kBoardTftp{{192, 168, 100, 2}, 2000};

// A BOOTP request as a board's bootloader sends it.
inline std::vector<uint8_t> BootpRequest(const std::string& sname, const uint8_t* mac = kBoardMac) {
  std::vector<uint8_t> r(300, 0);
  r[0] = 1;  // request
  r[1] = 1;  // Ethernet
  r[2] = 6;  // address length
  std::copy(mac, mac + 6, r.begin() + 28);
  std::copy(sname.begin(), sname.end(), r.begin() + 44);
  return r;
}

// A read (1) or write (2) request for "firmware.bin", or another TFTP packet
// with its block number.
inline std::vector<uint8_t> TftpPacket(uint16_t opcode, uint16_t block = 0) {
  if (opcode == 1 || opcode == 2) {
    const char request[] = "\0\0firmware.bin\0octet";
    std::vector<uint8_t> r(request, request + sizeof(request));
    r[1] = static_cast<uint8_t>(opcode);
    return r;
  }
  return {0, static_cast<uint8_t>(opcode), static_cast<uint8_t>(block >> 8),
          static_cast<uint8_t>(block)};
}

// An image whose blocks all differ.
inline std::vector<uint8_t> PatternImage(size_t length) {
  std::vector<uint8_t> image(length);
  for (size_t i = 0; i < length; ++i) {
    image[i] = static_cast<uint8_t>(i * 31 + i / 512);
  }
  return image;
}

// Plays a new-platform board's network bootloader against a boot server on
// `net`, whose first three sockets are the server's BOOTP, TFTP and magic
// ones. Before each of the server's waits it sees every datagram the server
// sent since the last one (`onSent`, by default Take), then runs `onWait`.
class BootBoard {
 public:
  explicit BootBoard(FakeNet& net) : net_(net) {
    net_.onWait = [this] {
      const std::vector<FakeNet::Datagram> all = net_.Sent();
      for (; seen_ < all.size(); ++seen_) {
        if (onSent) {
          onSent(all[seen_]);
        } else {
          Take(all[seen_]);
        }
      }
      if (onWait) {
        onWait(net_.Waits());
      }
    };
  }
  BootBoard(const BootBoard&) = delete;
  BootBoard& operator=(const BootBoard&) = delete;

  int Bootp() const { return net_.opened.at(0); }
  int Tftp() const { return net_.opened.at(1); }
  int Magic() const { return net_.opened.at(2); }
  bool IsTransfer(int handle) const { return net_.opened.size() > 3 && handle > Magic(); }

  // Woken, the board asks for an address; answered, it reads the file; it
  // takes and acknowledges every DATA block that `lose` does not lose. The
  // blocks it takes in order make up `image`.
  void Take(const FakeNet::Datagram& d) {
    if (d.handle == Magic() && wakes && !woken) {
      woken = true;
      net_.Deliver(Bootp(), BootpRequest("stellaris"), kBoardBootp);
    } else if (d.handle == Bootp() && reads) {
      net_.Deliver(Tftp(), TftpPacket(1), kBoardTftp);
    } else if (IsTransfer(d.handle)) {
      const uint16_t block = static_cast<uint16_t>((d.bytes[2] << 8) | d.bytes[3]);
      dataBlocks.push_back(block);
      const int times = static_cast<int>(std::count(dataBlocks.begin(), dataBlocks.end(), block));
      if (lose && lose(block, times)) {
        return;
      }
      if (block == nextBlock) {
        image.insert(image.end(), d.bytes.begin() + 4, d.bytes.end());
        ++nextBlock;
      }
      net_.Deliver(d.handle, TftpPacket(4, block), ackFrom);
    }
  }

  std::function<void(const FakeNet::Datagram&)> onSent;
  std::function<void(int wait)> onWait;
  std::function<bool(uint16_t block, int times)> lose;
  bool wakes = true;  // answers the magic packet with a BOOTP request
  bool reads = true;  // answers the BOOTP reply with a read request
  UdpEndpoint ackFrom = kBoardTftp;

  bool woken = false;
  std::vector<uint16_t> dataBlocks;  // every DATA block seen, in order
  uint16_t nextBlock = 1;
  std::vector<uint8_t> image;

 private:
  FakeNet& net_;
  size_t seen_ = 0;
};

}  // namespace kova::test
