#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/station_file.h"
#include "temp_dir.h"

namespace kova::cli {
namespace {

struct Parsed {
  bool ok = false;
  std::string error;
  CliOptions options;
};

// Parses a command line held in storage of its own, freed on return, as
// each command line a process parses would be.
Parsed Parse(const std::vector<std::string>& args) {
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& a : args) {
    storage.emplace_back(new char[a.size() + 1]);
    a.copy(storage.back().get(), a.size());
    storage.back()[a.size()] = '\0';
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);
  Parsed p;
  p.ok = ParseOptions(static_cast<int>(args.size()), argv.data(), p.options, p.error);
  return p;
}

// A parse that stops inside a cluster of short options (at -h, or at an
// unknown letter) must leave nothing behind for the next parse to read.
TEST(ParseOptionsTest, AParseIsNotLedByWhereTheLastOneStopped) {
  const std::vector<std::vector<std::string>> firsts = {
      {"kova-upgrade", "-hv"},
      {"kova-upgrade", "-xv"},
      {"kova-upgrade", "-vhd", "7"},
  };
  for (const auto& first : firsts) {
    Parse(first);
    const Parsed next = Parse({"kova-upgrade", "-m", "00:1A:2B:3C:4D:5E", "version"});
    EXPECT_TRUE(next.ok) << first[1] << ": " << next.error;
    EXPECT_FALSE(next.options.verbose) << first[1];
    EXPECT_EQ(next.options.delayIndex, 0) << first[1];
    EXPECT_EQ(next.options.action, 2) << first[1];
  }
}

// --help and --version answer at once: no action, and nothing after them is
// read; an error before them still counts.
TEST(ParseOptionsTest, HelpAndVersionEndTheParse) {
  const struct {
    std::vector<std::string> args;
    bool ok, help, version;
  } cases[] = {
      {{"kova-upgrade", "--version"}, true, false, true},
      {{"kova-upgrade", "-v", "--version", "no-such-action", "-x"}, true, false, true},
      {{"kova-upgrade", "--help", "--version"}, true, true, false},
      {{"kova-upgrade", "--version", "--help"}, true, false, true},
      {{"kova-upgrade", "-x", "--version"}, false, false, false},
      {{"kova-upgrade", "-m", "00:1A:2B:3C:4D:5E", "version"}, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.ok, c.ok) << p.error;
    EXPECT_EQ(p.options.help, c.help);
    EXPECT_EQ(p.options.version, c.version);
  }
}

// Options may follow the ACTION, as with the usual tools; after "--" every
// word is an ACTION.
TEST(ParseOptionsTest, OptionsMayFollowTheAction) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    std::string interfaceName;
    bool json;
  } cases[] = {
      {{"doctor", "--json"}, "", "", true},
      {{"-i", "eth1", "-m", "00:1A:2B:3C:4D:5E", "-i", "eth2", "-m", "00:1A:2B:3C:4D:5F", "doctor"},
       "",
       "",
       false},
      {{"upgrade", "-i", "eth0", "-m", "00:1A:2B:3C:4D:5E"}, "", "eth0", false},
      {{"-i", "eth0", "version", "--json", "-m", "00:1A:2B:3C:4D:5E"}, "", "eth0", true},
      {{"-m", "00:1A:2B:3C:4D:5E", "--", "version"}, "", "", false},
      {{"-m", "00:1A:2B:3C:4D:5E", "version", "--", "-v"},
       "exactly one ACTION expected",
       "",
       false},
      {{"version", "-m", "00:1A:2B:3C:4D:5E", "eeprom"}, "exactly one ACTION expected", "", false},
      {{"version", "-m"}, "option needs a value: -m", "", false},
      {{"-m", "00:1A:2B:3C:4D:5E", "--"}, "no ACTION given", "", false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"kova-upgrade"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args[1] + " " + args[2]);
    const Parsed p = Parse(args);
    EXPECT_EQ(p.error, c.error);
    if (p.ok) {
      EXPECT_EQ(p.options.interfaceName, c.interfaceName);
      EXPECT_EQ(p.options.json, c.json);
    }
  }
}

TEST(ParseOptionsTest, AUsageErrorNamesTheOptionEvenInsideACluster) {
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"kova-upgrade", "-x"}, "unknown option: -x"},
      {{"kova-upgrade", "-xv"}, "unknown option: -x"},
      {{"kova-upgrade", "-vx", "version"}, "unknown option: -x"},
      {{"kova-upgrade", "--verbose", "-vxv"}, "unknown option: -x"},
      {{"kova-upgrade", "-:"}, "unknown option: -:"},
      {{"kova-upgrade", "--bogus", "-v"}, "unknown option: --bogus"},
      {{"kova-upgrade", "--verbose=1"}, "unknown option: --verbose=1"},
      {{"kova-upgrade", "-v", "-i"}, "option needs a value: -i"},
      {{"kova-upgrade", "-vi"}, "option needs a value: -i"},
      {{"kova-upgrade", "--interface"}, "option needs a value: --interface"},
      {{"kova-upgrade", "-m", "00:1A:2B:3C:4D:5E", "--ip"}, "option needs a value: --ip"},
  };
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_FALSE(p.ok) << c.error;
    EXPECT_EQ(p.error, c.error);
  }
}

// --verify and --retries: their values, and upgrade alone takes them.
TEST(ParseOptionsTest, VerifyAndRetriesGoWithAnUpgrade) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    int verifySeconds;
    int retries;
  } cases[] = {
      {{"upgrade"}, "", 0, 0},
      {{"--verify", "upgrade"}, "", 60, 0},
      {{"--verify=5", "--retries", "2", "upgrade"}, "", 5, 2},
      {{"--verify=0", "upgrade"}, "--verify takes 1..3600 seconds: 0", 0, 0},
      {{"--verify=x", "upgrade"}, "--verify takes 1..3600 seconds: x", 0, 0},
      {{"--retries", "11", "upgrade"}, "retries must be 0..10: 11", 0, 0},
      {{"--retries", "-1", "upgrade"}, "retries must be 0..10: -1", 0, 0},
      {{"--verify", "version"}, "--verify goes with upgrade only, not with --dry-run", 0, 0},
      {{"--retries", "1", "--dry-run", "upgrade"},
       "--retries goes with upgrade only, not with --dry-run",
       0,
       0},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"kova-upgrade", "-m", "00:1A:2B:3C:4D:5E"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args[3]);
    const Parsed p = Parse(args);
    EXPECT_EQ(p.ok, c.error.empty());
    EXPECT_EQ(p.error, c.error);
    if (p.ok) {
      EXPECT_EQ(p.options.verifySeconds, c.verifySeconds);
      EXPECT_EQ(p.options.retries, c.retries);
    }
  }
}

// A MAC or an address that no board can have would send to every board, to
// none or to this host: refused before anything runs, from -m, from a MAC
// file and from --ip alike.
TEST(ParseOptionsTest, AMacOrAddressNoBoardCanHaveIsAUsageError) {
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
  } cases[] = {
      {{"-m", "FF:FF:FF:FF:FF:FF"}, "broadcast MAC address: FF:FF:FF:FF:FF:FF"},
      {{"-m", "ffffffffffff"}, "broadcast MAC address: ffffffffffff"},
      {{"-m", "01-00-5E-00-00-01"}, "multicast MAC address: 01-00-5E-00-00-01"},
      {{"-m", "33:33:00:00:00:01"}, "multicast MAC address: 33:33:00:00:00:01"},
      {{"-m", "00:00:00:00:00:00"}, "all-zero MAC address: 00:00:00:00:00:00"},
      {{"-m", "02:00:00:00:00:00"}, ""},  // locally administered: a board may have it
      {{"-m", "FE:FF:FF:FF:FF:FF"}, ""},
      {{"--ip", "255.255.255.255"}, "broadcast IP address: 255.255.255.255"},
      {{"--ip", "127.0.0.1"}, "loopback IP address: 127.0.0.1"},
      {{"--ip", "127.255.255.254"}, "loopback IP address: 127.255.255.254"},
      {{"--ip", "224.0.0.1"}, "multicast IP address: 224.0.0.1"},
      {{"--ip", "239.255.255.255"}, "multicast IP address: 239.255.255.255"},
      {{"--ip", "0.0.0.0"}, "unspecified IP address: 0.0.0.0"},
      {{"--ip", "..."}, "unspecified IP address: ..."},
      {{"--ip", "192.168.100.255"}, ""},  // a host of a wider network
      {{"--ip", "240.0.0.1"}, ""},
      {{"--ip", "223.255.255.255"}, ""},
      {{"--ip", "128.0.0.1"}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::vector<std::string> args = {"kova-upgrade"};
    if (c.args[0] != "-m") {
      args.insert(args.end(), {"-m", "00:1A:2B:3C:4D:5E"});
    }
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("model-name");
    const Parsed p = Parse(args);
    EXPECT_EQ(p.ok, c.error.empty());
    EXPECT_EQ(p.error, c.error);

    if (c.args[0] == "-m") {
      std::vector<MacFields> macs;
      std::string error;
      const bool ok = ParseMacList("# tray 1\n00:1A:2B:3C:4D:5E\n\n  " + c.args[1] + " # next\n",
                                   "macs", macs, error);
      EXPECT_EQ(ok, c.error.empty());
      EXPECT_EQ(error, c.error.empty() ? "" : "macs:4: " + c.error);
    }
  }
}

// A station file: a fixture per line, its folder optional; what does not
// parse is named by file and line.
TEST(ParseOptionsTest, AStationFileGivesACardPerLine) {
  const struct {
    std::string text;
    std::string error;  // empty: accepted
    size_t cards;
  } cases[] = {
      {"# bench 3\neth1 00:1A:2B:3C:4D:5E fix1\n\n  eth2\t001a2b3c4d5f   # right\n", "", 2},
      {"eth1 00:1A:2B:3C:4D:5E\r\neth2 00-1A-2B-3C-4D-5F\r\n", "", 2},
      {"eth1 00:1A:2B:3C:4D:5E\neth2\n", "st:2: expected INTERFACE MAC [DIR]: eth2", 0},
      {"eth1 00:1A:2B:3C:4D:5E a b\n",
       "st:1: expected INTERFACE MAC [DIR]: eth1 00:1A:2B:3C:4D:5E a b", 0},
      {"\n\neth1 00:1A:2B:3C:4D\n", "st:3: unparsable MAC address: 00:1A:2B:3C:4D", 0},
      {"eth1 FF:FF:FF:FF:FF:FF\n", "st:1: broadcast MAC address: FF:FF:FF:FF:FF:FF", 0},
      {"# none\n", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<Card> cards;
    std::vector<std::string> origins;
    std::string error;
    EXPECT_EQ(ParseStationList(c.text, "st", cards, origins, error), c.error.empty());
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
      ASSERT_EQ(cards.size(), c.cards);
      ASSERT_EQ(origins.size(), c.cards);
    }
  }
  std::vector<Card> cards;
  std::vector<std::string> origins;
  std::string error;
  ASSERT_TRUE(ParseStationList(cases[0].text, "st", cards, origins, error));
  EXPECT_EQ(cards[0].interfaceName, "eth1");
  EXPECT_EQ(MacText(cards[0].mac), "00:1A:2B:3C:4D:5E");
  EXPECT_EQ(cards[0].directory, "fix1");
  EXPECT_EQ(cards[1].interfaceName, "eth2");
  EXPECT_EQ(MacText(cards[1].mac), "00:1A:2B:3C:4D:5F");
  EXPECT_EQ(cards[1].directory, "");
  EXPECT_EQ(origins[1], "st:4");
}

// Several -i pair one for one with the -m in their places; one -i with
// several -m stays a batch on one interface; a station stands alone.
TEST(ParseOptionsTest, SeveralInterfacesPairWithTheMacs) {
  kova::test::TempDir dir;
  const std::string station = dir.path() + "/station.txt";
  {
    std::FILE* f = std::fopen(station.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("eth1 00:1A:2B:3C:4D:5E\neth2 00:1A:2B:3C:4D:5F f2\neth1 00:1A:2B:3C:4D:60\n", f);
    std::fclose(f);
  }
  const std::string a = "00:1A:2B:3C:4D:5E", b = "00:1A:2B:3C:4D:5F";
  const struct {
    std::vector<std::string> args;
    std::string error;               // empty: accepted
    std::vector<std::string> cards;  // "INTERFACE MAC"
  } cases[] = {
      {{"-i", "eth1", "-m", a, "-i", "eth2", "-m", b}, "", {"eth1 " + a, "eth2 " + b}},
      {{"-i", "eth1", "-i", "eth2", "-m", a, "-m", b}, "", {"eth1 " + a, "eth2 " + b}},
      {{"-i", "eth1", "-m", a, "-m", b}, "", {}},
      {{"-i", "eth1", "-i", "eth2", "-m", a},
       "unequal counts: 2 -i for 1 -m; several -i pair each with the -m in its place",
       {}},
      {{"-i", "eth1", "-m", a, "-i", "eth1", "-m", b},
       "duplicate interface: eth1 (-i eth1 and -i eth1)",
       {}},
      {{"-i", "eth1", "-m", a, "-i", "eth2", "-m", a},
       "duplicate MAC address: " + a + " (-m " + a + " and -m " + a + ")",
       {}},
      {{"-i", "eth1", "-i", "eth2", "-m", a, "--mac-file", station},
       "several -i pair with -m, not with --mac-file",
       {}},
      {{"--station", station},
       "duplicate interface: eth1 (" + station + ":1 and " + station + ":3)",
       {}},
      {{"--station", station, "-m", a}, "--station takes the place of -i, -m and --mac-file", {}},
      {{"--station", dir.path() + "/none"},
       "cannot read the station file: " + dir.path() + "/none: No such file or directory",
       {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"kova-upgrade"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("upgrade");
    SCOPED_TRACE(args[2] + " " + args[3]);
    const Parsed p = Parse(args);
    EXPECT_EQ(p.ok, c.error.empty());
    EXPECT_EQ(p.error, c.error);
    std::vector<std::string> cards;
    for (const Card& card : p.options.cards) {
      cards.push_back(card.interfaceName + " " + MacText(card.mac));
    }
    if (c.error.empty()) {
      EXPECT_EQ(cards, c.cards);
    }
  }
}

// Where sockets are pinned to a card by its address, two cards with one
// address are refused, the first such pair named.
TEST(StationCardsTest, CardsSharingAnAddressAreNamed) {
  using Address = std::array<uint8_t, 4>;
  const Address a = {192, 168, 100, 1}, b = {192, 168, 101, 1}, none = {};
  const struct {
    std::vector<std::string> names;
    std::vector<Address> addresses;
    std::string error;  // empty: accepted
  } cases[] = {
      {{"eth1", "eth2"}, {a, b}, ""},
      {{"eth1"}, {a}, ""},
      {{"eth1", "eth2", "eth3"},
       {a, b, a},
       "duplicate address: 192.168.100.1 (eth1 and eth3); on Windows each card needs an address "
       "of its own"},
      {{"eth1", "eth2", "eth3"},
       {a, b, b},
       "duplicate address: 192.168.101.1 (eth2 and eth3); on Windows each card needs an address "
       "of its own"},
      {{"eth1", "eth2"},
       {none, none},
       "no IPv4 address on eth1 and eth2; on Windows each card needs an address of its own"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(SharedAddressProblem(c.names, c.addresses), c.error);
  }
}

}  // namespace
}  // namespace kova::cli
