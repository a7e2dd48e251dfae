#include "protocol/kova_command.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "bytes.h"
#include "protocol/command_tables.h"

namespace kova {
namespace {

using test::Bytes;
using test::Concat;
using test::Text;

constexpr uint8_t kCanary = 0xA5;

// Caller's buffer, pre-filled so that any byte written outside the packet shows.
struct OutBuffer {
  std::array<uint8_t, 512> bytes;
  OutBuffer() { bytes.fill(kCanary); }
  uint8_t* data() { return bytes.data(); }
  Bytes Take(int32_t n) const { return Bytes(bytes.begin(), bytes.begin() + n); }
  bool UntouchedFrom(size_t from) const {
    for (size_t i = from; i < bytes.size(); ++i) {
      if (bytes[i] != kCanary) {
        return false;
      }
    }
    return true;
  }
};

// Length (counting itself) + id + body, as the device expects it.
Bytes Packet(uint8_t id0, uint8_t id1, const Bytes& body) {
  const size_t length = body.size() + 4;
  return Concat(
      {{static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF), id0, id1}, body});
}

// A row as the device documents it: argument bytes before the command word,
// the word, argument bytes after it, and the packet size with every argument.
struct RowCase {
  int32_t index;
  uint8_t id1;
  size_t lead_args;
  const char* word;
  size_t trail_args;
  int32_t packet_bytes;
};

const RowCase kBroadcastRows[] = {
    {broadcast_cmd::kEthReq, 0x00, 0, "ETH_REQ", 0, 11},
    {broadcast_cmd::kFwVerReq, 0x01, 6, "FWVER_REQ", 0, 19},
    {broadcast_cmd::kSetDhcpMode, 0x02, 6, "SET_DHCPMODE", 0, 22},
    {broadcast_cmd::kSetIpAdr, 0x03, 6, "SET_IPADR", 8, 27},
    {broadcast_cmd::kReset, 0x04, 6, "RESET", 0, 15},
    {broadcast_cmd::kBootloader, 0x05, 6, "BOOTLOADER", 0, 20},
    {broadcast_cmd::kE2pDefault, 0x06, 6, "E2P_DEFAULT", 0, 21},
    {broadcast_cmd::kE2pRead, 0x07, 6, "E2P_READ", 2, 20},
};

const RowCase kUDPRows[] = {
    {udp_cmd::kEthReq, 0x00, 0, "ETH_REQ", 0, 11},
    {udp_cmd::kFwVerReq, 0x01, 0, "FWVER_REQ", 0, 13},
    {udp_cmd::kSetDhcpMode, 0x02, 0, "SET_DHCPMODE", 1, 17},
    {udp_cmd::kSetIpAdr, 0x03, 0, "SET_IPADR", 8, 21},
    {udp_cmd::kReset, 0x04, 0, "RESET", 0, 9},
    {udp_cmd::kRdE2p, 0x05, 0, "RD_E2P", 1, 11},
    {udp_cmd::kWrE2p, 0x06, 0, "WR_E2P", 2, 12},
    {udp_cmd::kRdIflash, 0x07, 0, "RD_IFLASH", 4, 17},
    {udp_cmd::kBootloader, 0x08, 0, "BOOTLOADER", 0, 14},
    {udp_cmd::kSetDhcpName, 0x09, 0, "SET_DHCPNAME", 16, 32},
    {udp_cmd::kSetMacAdr, 0x0A, 0, "SET_MACADR", 6, 20},
    {udp_cmd::kSetNetmask, 0x0B, 0, "SET_NETMASK", 4, 19},
    {udp_cmd::kSetGateway, 0x0C, 0, "SET_GATEWAY", 4, 19},
    {udp_cmd::kSetPriDns, 0x0D, 0, "SET_PRIDNS", 4, 18},
    {udp_cmd::kSetSecDns, 0x0E, 0, "SET_SECDNS", 4, 18},
    {udp_cmd::kInitE2p, 0x0F, 0, "INIT_E2P", 43, 55},
    {udp_cmd::kEraseE2p, 0x10, 0, "ERASE_E2P", 0, 13},
    {udp_cmd::kGetBlVer, 0x11, 0, "GET_BLVER", 0, 13},
    {udp_cmd::kCheckE2p, 0x12, 0, "CHECK_E2P", 0, 13},
    {udp_cmd::kGetTitleName, 0x13, 0, "GET_TITLENAME", 0, 17},
    {udp_cmd::kGetCheckCode, 0x14, 0, "GET_CHECKCODE", 0, 17},
    {udp_cmd::kGetDhcpMode, 0x15, 0, "GET_DHCPMODE", 0, 16},
    {udp_cmd::kGetDhcpName, 0x16, 0, "GET_DHCPNAME", 0, 16},
    {udp_cmd::kGetIpAdr, 0x17, 0, "GET_IPADR", 0, 13},
    {udp_cmd::kGetMacAdr, 0x18, 0, "GET_MACADR", 0, 14},
    {udp_cmd::kGetGateway, 0x19, 0, "GET_GATEWAY", 0, 15},
    {udp_cmd::kGetNetmask, 0x1A, 0, "GET_NETMASK", 0, 15},
    {udp_cmd::kGetPriDns, 0x1B, 0, "GET_PRIDNS", 0, 14},
    {udp_cmd::kGetSecDns, 0x1C, 0, "GET_SECDNS", 0, 14},
    {udp_cmd::kGetE2p256, 0x1D, 0, "GET_E2P256", 0, 14},
    {udp_cmd::kGetDhcpStatus, 0x1E, 0, "GET_DHCPSTATUS", 0, 18},
    {udp_cmd::kGetModelName, 0x1F, 0, "GET_MODELNAME", 0, 17},
    {udp_cmd::kSetModelName, 0x20, 0, "SET_MODELNAME", 16, 33},
    {udp_cmd::kRemoteErase, 0xF1, 0, "REMOTE_ERASE", 0, 16},
    {udp_cmd::kSendFile, 0xF2, 0, "SEND_FILE", 73, 86},
    {udp_cmd::kRemoteUpdate, 0xF3, 0, "REMOTE_UPDATE", 0, 17},
    {udp_cmd::kCheckRemoteUpdate, 0xF4, 0, "CHECK_REMOTE_UPDATE", 0, 23},
};

// Arguments all zero, and arguments counting up from 1 (never the stop byte)
// so that a wrong argument order shows too.
std::array<Bytes, 2> ArgumentPatterns() {
  Bytes zeros(128, 0x00);
  Bytes counting(128);
  for (size_t i = 0; i < counting.size(); ++i) {
    counting[i] = static_cast<uint8_t>(i + 1);
  }
  return {zeros, counting};
}

Bytes ExpectedPacket(uint8_t id0, const RowCase& row, const Bytes& args) {
  const auto lead_end = args.begin() + static_cast<std::ptrdiff_t>(row.lead_args);
  const auto trail_end = lead_end + static_cast<std::ptrdiff_t>(row.trail_args);
  return Packet(
      id0, row.id1,
      Concat({Bytes(args.begin(), lead_end), Text(row.word), Bytes(lead_end, trail_end)}));
}

void ExpectEveryRow(const RowCase* rows, size_t count, int32_t table_size, uint8_t id0,
                    int32_t (CKOVA_Command::*build)(uint8_t, const uint8_t*, uint8_t*) const) {
  ASSERT_EQ(static_cast<int32_t>(count), table_size);
  for (size_t r = 0; r < count; ++r) {
    const RowCase& row = rows[r];
    for (const Bytes& args : ArgumentPatterns()) {
      SCOPED_TRACE(std::string(row.word) + " args from " + std::to_string(args[0]));
      OutBuffer out;
      const int32_t n =
          (KovaCommand().*build)(static_cast<uint8_t>(row.index), args.data(), out.data());
      ASSERT_EQ(n, row.packet_bytes);
      EXPECT_EQ((out.bytes[0] << 8) | out.bytes[1], n);
      EXPECT_EQ(out.Take(n), ExpectedPacket(id0, row, args));
      EXPECT_TRUE(out.UntouchedFrom(static_cast<size_t>(n)));
    }
  }
}

TEST(KovaCommandTest, EveryBroadcastRowBuildsItsDocumentedPacket) {
  // The closing row is the ninth valid index and is checked separately.
  ExpectEveryRow(kBroadcastRows, std::size(kBroadcastRows), kBroadcastCommandCount - 1, 0x80,
                 &CKOVA_Command::BuildBroadcastPacket);
}

TEST(KovaCommandTest, EveryUDPRowBuildsItsDocumentedPacket) {
  ExpectEveryRow(kUDPRows, std::size(kUDPRows), kUDPCommandCount, 0x81,
                 &CKOVA_Command::BuildUDPPacket);
}

TEST(KovaCommandTest, UDPResetIsLengthIdAndWord) {
  OutBuffer out;
  ASSERT_EQ(KovaCommand().BuildUDPPacket(udp_cmd::kReset, nullptr, out.data()), 9);
  EXPECT_EQ(out.Take(9), Concat({{0x00, 0x09, 0x81, 0x04}, Text("RESET")}));
}

TEST(KovaCommandTest, LastUDPRowIsCheckRemoteUpdate) {
  OutBuffer out;
  ASSERT_EQ(KovaCommand().BuildUDPPacket(36, nullptr, out.data()), 23);
  EXPECT_EQ(out.Take(4), (Bytes{0x00, 0x17, 0x81, 0xF4}));
}

TEST(KovaCommandTest, IndexesPastTheValidRowsBuildNothing) {
  const Bytes args(128, 0x00);
  for (int index : {37, 38, 100, 255}) {
    SCOPED_TRACE(index);
    OutBuffer out;
    EXPECT_EQ(KovaCommand().BuildUDPPacket(static_cast<uint8_t>(index), args.data(), out.data()),
              0);
    EXPECT_TRUE(out.UntouchedFrom(0));
  }
  for (int index : {broadcast_cmd::kClosing, 9, 255}) {
    SCOPED_TRACE(index);
    OutBuffer out;
    EXPECT_EQ(
        KovaCommand().BuildBroadcastPacket(static_cast<uint8_t>(index), args.data(), out.data()),
        0);
    EXPECT_TRUE(out.UntouchedFrom(0));
  }
}

TEST(KovaCommandTest, UnicastClosingRowFollowsTheValidRows) {
  const CommandEntry& closing = UDPCommandTable[kUDPCommandCount];
  EXPECT_EQ(closing.id[0], 0x81);
  EXPECT_EQ(closing.id[1], 0x25);
  EXPECT_STREQ(closing.text, "#");
}

TEST(KovaCommandTest, UDPStopByteEndsTheArgumentAndNothingAfterIsSent) {
  struct Case {
    int32_t index;
    Bytes args;
    Bytes expected;
  };
  const Case cases[] = {
      // A short model name: its 0x00 goes out, the 0xFF and the rest do not.
      {udp_cmd::kSetModelName, Concat({Text("KV-100"), {0x00, 0xFF}, Text("IGNORED!")}),
       Concat({{0x00, 0x18, 0x81, 0x20}, Text("SET_MODELNAME"), Text("KV-100"), {0x00}})},
      {udp_cmd::kSetDhcpMode, {0xFF}, Concat({{0x00, 0x10, 0x81, 0x02}, Text("SET_DHCPMODE")})},
      {udp_cmd::kSetIpAdr,
       {192, 168, 0, 0xFF, 1, 2, 3, 4},
       Concat({{0x00, 0x10, 0x81, 0x03}, Text("SET_IPADR"), {192, 168, 0}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    OutBuffer out;
    const int32_t n =
        KovaCommand().BuildUDPPacket(static_cast<uint8_t>(c.index), c.args.data(), out.data());
    ASSERT_EQ(n, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(out.Take(n), c.expected);
    EXPECT_TRUE(out.UntouchedFrom(static_cast<size_t>(n)));
  }
}

TEST(KovaCommandTest, BroadcastSendsEveryArgumentByteIncludingFF) {
  const Bytes mac = {0x00, 0x1A, 0x2B, 0xFF, 0x4D, 0x5E};
  struct Case {
    int32_t index;
    Bytes args;
    Bytes expected;
  };
  const Case cases[] = {
      {broadcast_cmd::kFwVerReq, mac, Concat({{0x00, 0x13, 0x80, 0x01}, mac, Text("FWVER_REQ")})},
      {broadcast_cmd::kE2pRead, Concat({mac, {0xFE, 0x02}}),
       Concat({{0x00, 0x14, 0x80, 0x07}, mac, Text("E2P_READ"), {0xFE, 0x02}})},
      {broadcast_cmd::kReset, Bytes(6, 0xFF),
       Concat({{0x00, 0x0F, 0x80, 0x04}, Bytes(6, 0xFF), Text("RESET")})},
      {broadcast_cmd::kE2pRead, Concat({mac, {0xFF, 0xFF}}),
       Concat({{0x00, 0x14, 0x80, 0x07}, mac, Text("E2P_READ"), {0xFF, 0xFF}})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    OutBuffer out;
    const int32_t n = KovaCommand().BuildBroadcastPacket(static_cast<uint8_t>(c.index),
                                                         c.args.data(), out.data());
    ASSERT_EQ(n, static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(out.Take(n), c.expected);
  }
}

TEST(KovaCommandTest, MissingArgumentsBuildNothingInsteadOfReadingThroughNull) {
  OutBuffer out;
  EXPECT_EQ(KovaCommand().BuildUDPPacket(udp_cmd::kSetDhcpMode, nullptr, out.data()), 0);
  EXPECT_EQ(KovaCommand().BuildBroadcastPacket(broadcast_cmd::kFwVerReq, nullptr, out.data()), 0);
  EXPECT_TRUE(out.UntouchedFrom(0));
  // A row without arguments needs none.
  EXPECT_EQ(KovaCommand().BuildBroadcastPacket(broadcast_cmd::kEthReq, nullptr, out.data()), 11);
}

TEST(KovaCommandTest, RawPacketFramesUpTo126BytesAndRefusesMore) {
  Bytes data(200);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(0x30 + i);
  }
  struct Case {
    int32_t length;
    int32_t expected;
  };
  for (const Case c : {Case{0, 0}, Case{-1, 0}, Case{1, 3}, Case{3, 5}, Case{126, 128},
                       Case{127, 0}, Case{200, 0}}) {
    SCOPED_TRACE(c.length);
    OutBuffer out;
    const int32_t n = KovaCommand().BuildRawPacket(data.data(), c.length, out.data());
    ASSERT_EQ(n, c.expected);
    if (n == 0) {
      EXPECT_TRUE(out.UntouchedFrom(0));
      continue;
    }
    const Bytes body(data.begin(), data.begin() + c.length);
    EXPECT_EQ(out.Take(n), Concat({{static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}, body}));
    EXPECT_TRUE(out.UntouchedFrom(static_cast<size_t>(n)));
  }
  OutBuffer out;
  ASSERT_EQ(KovaCommand().BuildRawPacket(data.data(), 3, out.data()), 5);
  EXPECT_EQ(out.Take(5), (Bytes{0x00, 0x05, 0x30, 0x31, 0x32}));
}

}  // namespace
}  // namespace kova
