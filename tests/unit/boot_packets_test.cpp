#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bootserver/boot_packets.h"

namespace kova::boot {
namespace {

const uint8_t kMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

std::vector<uint8_t> Request(const std::string& sname, const uint8_t* mac = kMac) {
  std::vector<uint8_t> r(300, 0);
  r[0] = 1;  // request
  r[1] = 1;  // Ethernet
  r[2] = 6;  // address length
  std::copy(mac, mac + 6, r.begin() + 28);
  std::copy(sname.begin(), sname.end(), r.begin() + 44);
  return r;
}

TEST(BootPackets, OnlyTheBoardsRequestForItsChipFamilyPasses) {
  const uint8_t otherMac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  struct Case {
    const char* name;
    std::vector<uint8_t> request;
    bool withMac;
    bool passes;
  };
  std::vector<Case> cases = {
      {"stellaris", Request("stellaris"), true, true},
      {"TIVA in capitals", Request("TIVA"), true, true},
      {"stellaris followed by more", Request("stellaris2"), true, false},
      {"another family", Request("msp430"), true, false},
      {"empty server name", Request(""), true, false},
      {"another MAC", Request("tiva", otherMac), true, false},
      {"another MAC, no MAC to test", Request("tiva", otherMac), false, true},
      {"server name without a zero", Request(std::string(64, 'a')), true, false},
  };
  auto reply = Request("tiva");
  reply[0] = 2;
  cases.push_back({"a reply", reply, true, false});
  auto token = Request("tiva");
  token[1] = 6;
  cases.push_back({"token ring", token, true, false});
  auto longAddress = Request("tiva");
  longAddress[2] = 16;
  cases.push_back({"16-byte address", longAddress, true, false});
  auto justLongEnough = Request("tiva");
  justLongEnough.resize(kBootpMinRequest);
  cases.push_back({"ends after the server name", justLongEnough, true, true});
  auto cut = Request("tiva");
  cut.resize(kBootpMinRequest - 1);
  cases.push_back({"cut inside the server name", cut, true, false});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsBoardBootpRequest(c.request.data(), c.request.size(), c.withMac ? kMac : nullptr),
              c.passes);
  }
}

TEST(BootPackets, ReplyIsTheRequestWithAddressesAndFileNameAndNothingLeftOver) {
  std::vector<uint8_t> request = Request("stellaris");
  for (size_t i = 4; i < 28; ++i) {
    request[i] = static_cast<uint8_t>(i);  // xid, secs, flags, ciaddr..giaddr
  }
  std::fill(request.begin() + 108, request.begin() + 236, 'x');
  request[299] = 0x77;

  for (size_t received : {size_t{300}, size_t{240}}) {
    SCOPED_TRACE(received);
    const auto reply =
        BuildBootpReply(request.data(), received, {192, 168, 100, 2}, {192, 168, 100, 1});
    std::vector<uint8_t> expected(request.begin(), request.begin() + received);
    expected.resize(300, 0);
    expected[0] = 2;
    std::copy_n("\xC0\xA8\x64\x02\xC0\xA8\x64\x01", 8, expected.begin() + 16);
    std::copy_n("firmware.bin", 13, expected.begin() + 108);
    EXPECT_EQ(std::vector<uint8_t>(reply.begin(), reply.end()), expected);
  }
}

TEST(BootPackets, MagicAndErrorPacketsByteForByte) {
  const auto magic = BuildMagicPacket(kMac);
  std::vector<uint8_t> expectedMagic(30, 0xAA);
  for (size_t i = 6; i < expectedMagic.size(); ++i) {
    expectedMagic[i] = kMac[i % 6];
  }
  EXPECT_EQ(std::vector<uint8_t>(magic.begin(), magic.end()), expectedMagic);

  const auto& error = OnlyRrqError();
  const std::string expectedError("\x00\x05\x00\x04Only RRQ is supported!\x00", 27);
  EXPECT_EQ(std::string(error.begin(), error.end()), expectedError);
}

TEST(BootPackets, BlocksAreSizedAndAcknowledgementsCounted) {
  struct Case {
    uint32_t length;
    uint32_t block;
    size_t size;
    bool last;
    int percent;  // reported when the acknowledgement is not the last
  };
  const Case cases[] = {
      {1000, 1, 512, false, 51},  {1000, 2, 488, true, 0}, {1024, 1, 512, false, 50},
      {1024, 2, 512, false, 100}, {1024, 3, 0, true, 0},   {0, 1, 0, true, 0},
      {513, 1, 512, false, 99},   {513, 2, 1, true, 0},    {100000000, 190000, 512, false, 97},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.length << " bytes, block " << c.block);
    EXPECT_EQ(DataBlockSize(c.block, c.length), c.size);
    EXPECT_EQ(IsLastBlock(c.block, c.length), c.last);
    if (!c.last) {
      EXPECT_EQ(AckPercent(c.block, c.length), c.percent);
    }
  }
}

TEST(BootPackets, DataPacketCarriesItsSliceUnderTheLow16BitsOfItsNumber) {
  std::vector<uint8_t> image(0x10001 * 512 + 3);
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 7);
  }
  std::array<uint8_t, kDataPacketMax> packet{};
  const uint32_t block = 0x10002;  // the last block: 3 bytes
  ASSERT_EQ(BuildDataPacket(block, image.data(), static_cast<uint32_t>(image.size()), packet), 7u);
  EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 7),
            (std::vector<uint8_t>{0, 3, 0x00, 0x02, image[image.size() - 3],
                                  image[image.size() - 2], image[image.size() - 1]}));

  const uint8_t ack[] = {0, 4, 0x00, 0x02};
  EXPECT_TRUE(IsAckOf(ack, 4, block));
  EXPECT_FALSE(IsAckOf(ack, 3, block));
  EXPECT_FALSE(IsAckOf(ack, 4, 1));
  const uint8_t data[] = {0, 3, 0x00, 0x02};
  EXPECT_FALSE(IsAckOf(data, 4, block));
}

TEST(BootPackets, TransferPortsStayBetween32768And40959) {
  for (uint32_t draw : {0u, 1u, 8191u, 8192u, 0xFFFFFFFFu}) {
    const uint16_t port = TransferPort(draw);
    EXPECT_GE(port, 32768);
    EXPECT_LE(port, 40959);
  }
  EXPECT_EQ(TransferPort(8193), 32769);
}

}  // namespace
}  // namespace kova::boot
