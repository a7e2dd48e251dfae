#include <gtest/gtest.h>

#include <array>
#include <string>

#include "common/adapter_table.h"
#include "controller/operator_input.h"
#include "engine_fixture.h"

namespace kova {
namespace {

struct IpCase {
  const char* text;
  int result;
  std::array<uint8_t, 4> bytes;
};

TEST(ReadIPFieldTest, ParsesLenientlyAndRejectsWhatWouldAddressAnotherBoard) {
  const IpCase cases[] = {
      {"192.168.100.100", 1, {0xC0, 0xA8, 0x64, 0x64}},
      {"1..2.3", 1, {1, 0, 2, 3}},
      {"...", 1, {0, 0, 0, 0}},
      {"255.255.255.255", 1, {255, 255, 255, 255}},
      {"010.001.0.9", 1, {10, 1, 0, 9}},
      {"1.2.3", 0, {}},
      {"1.2.3.4.5", 0, {}},
      {"1.2.3.4x", 0, {}},
      {" 1.2.3.4", 0, {}},
      {"1.2.3.0004", 0, {}},        // a fourth digit
      {"300.1.1.1", 0, {}},         // would wrap to 44
      {"1.1.1.256", 0, {}},         // would wrap to 0
      {"192.168.100.1001", 0, {}},  // sixteen characters
      {"", 0, {}},
  };
  for (const IpCase& c : cases) {
    uint8_t ip[4] = {7, 7, 7, 7};
    EXPECT_EQ(ReadIPField(c.text, ip), c.result) << c.text;
    if (c.result == 1) {
      EXPECT_EQ((std::array<uint8_t, 4>{ip[0], ip[1], ip[2], ip[3]}), c.bytes) << c.text;
    } else {
      EXPECT_EQ((std::array<uint8_t, 4>{ip[0], ip[1], ip[2], ip[3]}),
                (std::array<uint8_t, 4>{7, 7, 7, 7}))
          << "a failed parse must leave the address untouched: " << c.text;
    }
  }
}

struct MacCase {
  std::array<std::string, 6> fields;
  int result;
  std::array<uint8_t, 6> bytes;
};

// The adapter list on Windows gives each adapter's address as text.
TEST(AdapterAddressTest, ReadsTheListsDottedTextAsTheChoiceAlwaysHas) {
  const IpCase cases[] = {
      {"192.168.1.10", 1, {192, 168, 1, 10}},
      {"0.0.0.0", 1, {0, 0, 0, 0}},  // an adapter without an address
      {"", 1, {0, 0, 0, 0}},
      {"10.1.2", 1, {10, 1, 2, 0}},
      {"1.2.3.4.5", 1, {1, 2, 3, 4}},   // nothing past the fourth byte
      {"1.a.3.4", 1, {1, 10, 3, 4}},    // a hex digit's value
      {"1.x.3.4", 1, {1, 255, 3, 4}},   // no digit: 255
      {"300.1.1.1", 1, {44, 1, 1, 1}},  // 8 bits
  };
  for (const IpCase& c : cases) {
    EXPECT_EQ(ParseAdapterAddress(c.text), c.bytes) << c.text;
  }
}

TEST(ReadMACFieldsTest, ReadsSixHexFieldsOrNothing) {
  const MacCase cases[] = {
      {{"0", "1A", "b", "2", "3", "ff"}, 1, {0x00, 0x1A, 0x0B, 0x02, 0x03, 0xFF}},
      {{"00", "1a", "2B", "3c", "4D", "5e"}, 1, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
      {{"00", "", "2B", "3c", "4D", "5e"}, 0, {}},     // one field empty
      {{"00", "00", "00", "00", "00", "00"}, 0, {}},   // all zero
      {{"00", "1G", "2B", "3c", "4D", "5e"}, 0, {}},   // not a hex digit
      {{"00", "1A", "2B", "3c", "4D", " 5"}, 0, {}},   // a blank
      {{"00", "1A", "2B", "3c", "4D", "5e0"}, 0, {}},  // three characters
  };
  for (const MacCase& c : cases) {
    uint8_t mac[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(ReadMACFields(c.fields, mac), c.result) << c.fields[1];
    const std::array<uint8_t, 6> got{mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]};
    EXPECT_EQ(got, c.bytes) << c.fields[1];
  }
}

TEST(DeriveDeviceIPTest, FollowsTheHostButNeverTakesItsAddress) {
  const std::pair<uint8_t, uint8_t> cases[] = {
      {0, 2}, {1, 2}, {2, 3}, {3, 4}, {10, 11}, {252, 253}, {253, 252}, {254, 253}, {255, 253},
  };
  for (const auto& [host, device] : cases) {
    const uint8_t hostIp[4] = {192, 168, 1, host};
    uint8_t out[4] = {0, 0, 0, 0};
    DeriveDeviceIP(hostIp, out);
    EXPECT_EQ(out[0], 192);
    EXPECT_EQ(out[1], 168);
    EXPECT_EQ(out[2], 1);
    EXPECT_EQ(out[3], device) << "host ." << int(host);
    EXPECT_NE(out[3], host);
  }
}

class MacReportTest : public test::EngineTest {};

TEST_F(MacReportTest, ReportsTheTypedAddressWithoutTouchingTheWorkersCopy) {
  op.DeviceMAC[0] = 0x42;
  engine.Get_MACAddres({"00", "1A", "2B", "3C", "4D", "5E"});
  engine.Get_MACAddres({"00", "1A", "", "3C", "4D", "5E"});
  EXPECT_EQ(panel.shown,
            (std::vector<std::string>{"\nGet_MACAddres(0-1a-2b-3c-4d-5e) ... Successful !",
                                      "\nGet_MACAddres(0-0-0-0-0-0) ... Failed !"}));
  EXPECT_EQ(op.DeviceMAC[0], 0x42);
  EXPECT_TRUE(op.Log.MsgText.empty());
}

}  // namespace
}  // namespace kova
