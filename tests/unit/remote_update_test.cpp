#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "bytes.h"
#include "engine_fixture.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

const Bytes kMac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
const Bytes kReportedIp = {192, 168, 100, 77};
constexpr uint8_t kErase = 0xF1;
constexpr uint8_t kSendFile = 0xF2;
constexpr uint8_t kUpdate = 0xF3;
constexpr uint8_t kCheck = 0xF4;

const std::string kLoad = "\n======Load upgarde file ... Successful !======";
const std::string kStart = "\n======KOVA : Remote firmware update ... Start !======";
const std::string kAddress = "\n======KOVA : Retrieve remote IP ... 192.168.100.77 !======";
const std::string kErased = "\n======KOVA : Erase remote FLASH ... Successful !======";
const std::string kSent = "\n======KOVA : Send file to remote ... Successful !======";
const std::string kUpdated = "\n======KOVA : Update remote firmware ... Successful !======";
const std::string kWait = "\n======KOVA : Wait for remote finish ... ";
const std::string kUpgradeOk = "\nKOVA firmware upgrade ... Successful !\nPower Restart !";
const std::string kUpgradeFailed = "\nKOVA firmware upgrade ... Failed !";

// One Motorola S-record with its count and checksum, without a line end.
std::string SRecord(char type, uint32_t address, const Bytes& data) {
  const int addressBytes = (type == '2' || type == '6' || type == '8') ? 3
                           : (type == '3' || type == '7')              ? 4
                                                                       : 2;
  Bytes body = {static_cast<uint8_t>(addressBytes + data.size() + 1)};
  for (int i = addressBytes - 1; i >= 0; --i) {
    body.push_back(static_cast<uint8_t>(address >> (8 * i)));
  }
  body.insert(body.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : body) {
    sum += b;
  }
  body.push_back(static_cast<uint8_t>(~sum));
  return std::string("S") + type + Hex(body);
}

std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\r\n") {
  std::string out;
  for (const std::string& l : lines) {
    out += l + end;
  }
  return out;
}

const std::string kHeader = SRecord('0', 0, Text("HDR"));
const std::string kData1 = SRecord('3', 0x10000, Counting(16, 0x00));
const std::string kData2 = SRecord('3', 0x10010, Counting(16, 0x10));
const std::string kEnd = SRecord('7', 0x10000, {});

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

Bytes SendFilePacket(const std::string& line) {
  return Concat(
      {{0x00, static_cast<uint8_t>(13 + line.size()), 0x81, 0xF2}, Text("SEND_FILE"), Text(line)});
}

// A whole REMOTE upgrade from Start, on the in-memory network, against a
// scripted board: it reports kReportedIp for its address, from that address,
// and acknowledges the remote commands unless told otherwise.
class RemoteUpdateTest : public EngineTest {
 protected:
  RemoteUpdateTest() {
    panel.recordTraces = false;
    dir.WriteConfig("REMOTE");
    StartUp();
    net->peer = [this](const FakeNet::Datagram& d) { Answer(d); };
    std::copy(kReportedIp.begin(), kReportedIp.end(), boardAddress.ip.begin());
    std::copy(kMac.begin(), kMac.end(), neighbours->segment[boardAddress.ip].begin());
  }

  UdpEndpoint boardAddress{{}, 5002};

  void Answer(const FakeNet::Datagram& d) {
    sent.push_back({d.bytes, d.peer, ticks, op.Progress.load()});
    if (d.bytes.size() < 4) {
      return;
    }
    const uint8_t table = d.bytes[2];
    const uint8_t code = d.bytes[3];
    if (table == 0x80 && code == 0x00) {
      if (answersAddress) {
        Bytes reply(31, 0x00);
        reply[1] = 31;
        reply[2] = 0x80;
        std::copy(kMac.begin(), kMac.end(), reply.begin() + 21);
        std::copy(kReportedIp.begin(), kReportedIp.end(), reply.begin() + 27);
        net->Deliver(d.handle, reply, boardAddress);
      }
      return;
    }
    if (table != 0x81 || code < kErase || code > kCheck) {
      return;
    }
    const int nth = ++seen[code];
    if (code == kSendFile) {
      lines.emplace_back(d.bytes.begin() + 13, d.bytes.end());
    }
    if (silentAt[code].count(nth) != 0 || (code == kCheck && nth < donePoll && !nakBusyPolls)) {
      return;
    }
    const bool nak = refuseAt[code].count(nth) != 0 || (code == kCheck && nth < donePoll);
    net->Deliver(d.handle, Frame(0x81, code, {static_cast<uint8_t>(nak ? 0x15 : 0x06)}), d.peer);
  }

  // Writes the image, presses Start and runs passes, `passesPerTick` to a
  // tick, until the operation has ended. Notes when the final wait began
  // and when it ended.
  void Upgrade(const std::string& image, int passesPerTick = 10) {
    dir.Write("app.bin", image);
    sent.clear();
    seen.clear();
    lines.clear();
    waitBegan = waitEnded = -1;
    ASSERT_TRUE(engine.PostAction(kActionUpgrade));
    const int before = engine.OperationsEnded();
    for (int pass = 1; pass <= 400000 && engine.OperationsEnded() == before; ++pass) {
      RecvPass(link);
      engine.RunPass();
      if (waitBegan < 0 && panel.list.find(kWait) != std::string::npos) {
        waitBegan = ticks;
      }
      if (waitBegan >= 0 && waitEnded < 0 && op.Step.Busy == STEP_END) {
        waitEnded = ticks;
      }
      if (pass % passesPerTick == 0) {
        if (strangerTalks && link.UDPSocket.open) {
          // Another machine, known to the host, acknowledges a status request.
          net->Deliver(link.UDPSocket.handle, Frame(0x81, kCheck, {0x06}), kStranger);
        }
        engine.CountdownTick();
        ++ticks;
      }
    }
    ASSERT_EQ(engine.OperationsEnded(), before + 1) << "the upgrade never ended";
  }

  std::vector<Bytes> SentOf(uint8_t code) const {
    std::vector<Bytes> out;
    for (const Sent& s : sent) {
      if (s.bytes.size() > 3 && s.bytes[2] == 0x81 && s.bytes[3] == code) {
        out.push_back(s.bytes);
      }
    }
    return out;
  }

  std::vector<int> TicksOf(uint8_t code) const {
    std::vector<int> out;
    for (const Sent& s : sent) {
      if (s.bytes.size() > 3 && s.bytes[2] == 0x81 && s.bytes[3] == code) {
        out.push_back(s.tick);
      }
    }
    return out;
  }

  std::string LastBox() const { return panel.boxes.empty() ? "" : panel.boxes.back().text; }

  // The board.
  bool answersAddress = true;
  std::map<uint8_t, std::set<int>> refuseAt;  // code -> the requests answered NAK
  std::map<uint8_t, std::set<int>> silentAt;  // code -> the requests not answered
  int donePoll = 1;                           // the first status poll acknowledged
  bool nakBusyPolls = false;                  // earlier polls answered NAK rather than nothing
  bool strangerTalks = false;                 // kStranger sends every tick
  const UdpEndpoint kStranger{{192, 168, 100, 7}, 5002};
  std::map<uint8_t, int> seen;
  std::vector<std::string> lines;  // SEND_FILE arguments, in order

  struct Sent {
    Bytes bytes;
    UdpEndpoint to;
    int tick;
    int32_t progress;  // the gauge value when it left
  };
  std::vector<Sent> sent;
  int ticks = 0;
  int waitBegan = -1;
  int waitEnded = -1;
};

TEST_F(RemoteUpdateTest, FourRecordFileTravelsLineByLineThenIsInstalled) {
  Upgrade(Lines({kHeader, kData1, kData2, kEnd}));

  EXPECT_EQ(panel.list,
            kLoad + kStart + kAddress + kErased + kSent + kUpdated + kWait + "Successful !======");
  EXPECT_EQ(LastBox(), kUpgradeOk);
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  const std::vector<Bytes> wire = {
      Concat({{0x00, 0x0B, 0x80, 0x00}, Text("ETH_REQ")}),
      Concat({{0x00, 0x10, 0x81, 0xF1}, Text("REMOTE_ERASE")}),
      SendFilePacket(kHeader),
      SendFilePacket(kData1),
      SendFilePacket(kData2),
      SendFilePacket(kEnd),
      Concat({{0x00, 0x11, 0x81, 0xF3}, Text("REMOTE_UPDATE")}),
      Concat({{0x00, 0x17, 0x81, 0xF4}, Text("CHECK_REMOTE_UPDATE")}),
  };
  ASSERT_EQ(sent.size(), wire.size());
  for (size_t i = 0; i < wire.size(); ++i) {
    EXPECT_EQ(sent[i].bytes, wire[i]) << i;
  }
  // Everything after the address request goes to the address the board gave.
  for (size_t i = 1; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].to.ip, (std::array<uint8_t, 4>{192, 168, 100, 77})) << i;
    EXPECT_EQ(sent[i].to.port, 5002) << i;
  }
}

TEST_F(RemoteUpdateTest, FilesThatWouldInstallAFragmentOrACorruptRecordAreRefusedUnsent) {
  struct Case {
    const char* what;
    std::string image;
    std::string why;
  };
  const std::string s1 = SRecord('1', 0x1000, Counting(16, 0));
  const std::string s2 = SRecord('2', 0x11000, Counting(16, 0));
  const std::string tooLong = SRecord('3', 0x10000, Counting(30, 0));  // 74 characters
  std::string withFF = kData1;
  withFF[20] = '\xFF';
  // kData1 is S3 15 00010000 then 16 data bytes and the checksum.
  std::string notHex = kData1;
  notHex[14] = 'G';
  std::string countTooLarge = kData1;
  countTooLarge[3] = '6';
  const std::string byteLost = kData1.substr(0, 12) + kData1.substr(14);
  const std::string digitLost = kData1.substr(0, 12) + kData1.substr(13);
  std::string badChecksum = kData1;
  badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
  std::string badHeader = kHeader;
  badHeader.back() = badHeader.back() == '0' ? '1' : '0';
  const std::string lostS = "X" + kData2.substr(1);
  const Case cases[] = {
      {"S1 data", Lines({kHeader, s1, s1, SRecord('9', 0x1000, {})}), "line 2: not an S3 file"},
      {"S2 data", Lines({kHeader, s2, s2, SRecord('8', 0x11000, {})}), "line 2: not an S3 file"},
      {"S1 after the S3 run", Lines({kHeader, kData1, s1, kEnd}), "line 3: not an S3 file"},
      {"S1 file without a header", Lines({s1, s1, SRecord('9', 0, {})}), "line 2: not an S3 file"},
      {"no end record", Lines({kHeader, kData1, kData2}), "line 4: no end record"},
      {"last data line without CR LF", Lines({kHeader, kData1}) + kData2, "line 3: no end record"},
      {"only a header", kHeader, "line 1: no end record"},
      {"a header after the data", Lines({kHeader, kData1, kHeader, kEnd}), "line 3: no end record"},
      {"S4 after the data", Lines({kHeader, kData1, "S4030000FC", kEnd}), "line 3: no end record"},
      {"text after the data", Lines({kHeader, kData1}) + "; Sum 1234\r\n", "line 3: no end record"},
      {"LF line ends", Lines({kHeader, kData1, kEnd}, "\n"), "line 1: lines must end in CR LF"},
      {"one LF line end", Lines({kHeader}) + kData1 + "\n" + Lines({kEnd}),
       "line 2: lines must end in CR LF"},
      {"CR CR LF", Lines({kHeader, kData1}, "\r\r\n") + kEnd, "line 1: lines must end in CR LF"},
      {"74 characters", Lines({kHeader, tooLong, kEnd}), "line 2: line too long"},
      {"0xFF in a record", Lines({kHeader, withFF, kEnd}), "line 2: not an S-record file"},
      {"binary image",
       std::string("\x7F"
                   "ELF\x02\x01\x01\x00",
                   8),
       "line 1: not an S-record file"},
      {"blank first line", Lines({"", kHeader, kData1, kEnd}), "line 1: not an S-record file"},
      {"empty file", "", "line 1: empty file"},
      {"a digit that is not hexadecimal", Lines({kHeader, kData1, notHex, kEnd}),
       "line 3: bad hexadecimal digit"},
      {"byte count above the bytes", Lines({kHeader, countTooLarge, kEnd}),
       "line 2: wrong byte count"},
      {"a byte lost", Lines({kHeader, byteLost, kEnd}), "line 2: wrong byte count"},
      {"a digit lost", Lines({kHeader, digitLost, kEnd}), "line 2: wrong byte count"},
      {"S3 with a 24-bit address",
       Lines({kHeader, SRecord('2', 0x10000, {}).replace(1, 1, "3"), kEnd}),
       "line 2: wrong byte count"},
      {"wrong checksum", Lines({kHeader, kData1, badChecksum, kEnd}), "line 3: wrong checksum"},
      {"header with a wrong checksum", Lines({badHeader, kData1, kEnd}), "line 1: wrong checksum"},
      {"a record without its S between data", Lines({kHeader, kData1, lostS, kEnd}),
       "line 3: not a record"},
      {"data after the end record", Lines({kHeader, kData1, kEnd, "", kData2}),
       "line 5: text after the end record"},
      {"text after the end record", Lines({kHeader, kData1, kEnd}) + "  ; end",
       "line 4: text after the end record"},
      {"count record that misses a record",
       Lines({kHeader, kData1, kData2, SRecord('5', 1, {}), kEnd}), "line 4: wrong record count"},
      {"S6 count record that counts the header",
       Lines({kHeader, kData1, SRecord('6', 2, {}), kEnd}), "line 3: wrong record count"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    panel.list.clear();
    Upgrade(c.image);
    EXPECT_EQ(panel.list,
              kLoad + kStart + "Failed !======" + "\n    Firmware file " + c.why + " !");
    EXPECT_EQ(LastBox(), kUpgradeFailed);
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(net->opened.empty()) << "no socket for a refused file";
  }
}

TEST_F(RemoteUpdateTest, FilesWithinTheRulesAreSentAsTheyStand) {
  struct Case {
    const char* what;
    std::string image;
    std::vector<std::string> lines;
  };
  // S-records have an even length: a blank makes the longest line the
  // template takes.
  const std::string longest = SRecord('3', 0x10000, Counting(29, 0)) + " ";
  ASSERT_EQ(longest.size(), 73u);
  const std::string count = SRecord('5', 2, {});
  std::string lower = kData1;
  std::transform(lower.begin() + 2, lower.end(), lower.begin() + 2,
                 [](char c) { return static_cast<char>(std::tolower(c)); });
  const Case cases[] = {
      {"73 characters", Lines({kHeader, longest, kEnd}), {kHeader, longest, kEnd}},
      {"end record up to the image's end",
       Lines({kHeader, kData1}) + kEnd,
       {kHeader, kData1, kEnd}},
      {"blank lines between records",
       Lines({kHeader, "", kData1, "", "", kEnd}),
       {kHeader, kData1, kEnd}},
      {"data without a header", Lines({kData1, kData2, kEnd}), {kData1, kData2, kEnd}},
      {"count record travels before the end record",
       Lines({kHeader, kData1, kData2, count, kEnd}),
       {kHeader, kData1, kData2, count, kEnd}},
      {"24-bit count record",
       Lines({kHeader, kData1, SRecord('6', 1, {}), kEnd}),
       {kHeader, kData1, SRecord('6', 1, {}), kEnd}},
      {"blank lines after the end record",
       Lines({kHeader, kData1, kEnd, "", " "}),
       {kHeader, kData1, kEnd}},
      {"lower-case digits", Lines({kHeader, lower, kEnd}), {kHeader, lower, kEnd}},
      {"no data at all", Lines({kHeader, kEnd}), {kHeader, kEnd}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Upgrade(c.image);
    EXPECT_EQ(engine.LastOutcome(), STEP_OK);
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(SentOf(kUpdate).size(), 1u);
  }
}

TEST_F(RemoteUpdateTest, ProgressAfterEachDataLineIsTheShareOfTheFileBeforeIt) {
  // Lines of 22 bytes with their CR LF, a 16-byte end record: 214 bytes. The
  // value after data line k is 22k * 100 / 214, rounded down.
  std::vector<std::string> file = {SRecord('0', 0, Counting(5, 0x41))};
  for (uint32_t k = 0; k < 8; ++k) {
    file.push_back(SRecord('3', 0x10000 + 3 * k, Counting(3, static_cast<uint8_t>(k))));
  }
  file.push_back(kEnd);
  ASSERT_EQ(Lines(file).size(), 214u);
  Upgrade(Lines(file));

  std::vector<int32_t> atSend;
  for (const Sent& s : sent) {
    if (s.bytes[3] == kSendFile) {
      atSend.push_back(s.progress);
    }
  }
  ASSERT_EQ(atSend.size(), 10u);
  EXPECT_EQ(std::vector<int32_t>(atSend.begin() + 2, atSend.end()),
            (std::vector<int32_t>{10, 20, 30, 41, 51, 61, 71, 82}));
}

TEST_F(RemoteUpdateTest, BoardThatReportsCompletionOnTheFourthPollHasUpdated) {
  // Each status request waits 10 s for its answer, after the 2 s in which
  // its socket settles.
  for (bool nak : {false, true}) {
    SCOPED_TRACE(nak ? "earlier polls refused" : "earlier polls unanswered");
    donePoll = 4;
    nakBusyPolls = nak;
    Upgrade(Lines({kHeader, kData1, kData2, kEnd}));
    EXPECT_EQ(engine.LastOutcome(), STEP_OK);
    const std::vector<int> polls = TicksOf(kCheck);
    ASSERT_EQ(polls.size(), 4u);
    for (size_t i = 1; i < polls.size(); ++i) {
      EXPECT_GE(polls[i] - polls[i - 1], 120) << i;
      EXPECT_LE(polls[i] - polls[i - 1], 122) << i;
    }
    EXPECT_TRUE(EndsWith(panel.list, kWait + "Successful !======"));
  }
}

TEST_F(RemoteUpdateTest, BoardThatNeverReportsCompletionFailsAfter120Seconds) {
  // Slow passes make the status requests drift against the bound: the wait
  // still ends on it, and so does a request still awaiting its answer.
  // Another machine's acknowledgements every tick change nothing of it.
  neighbours->Put(neighbours->routeIfindex, kStranger.ip, {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x99},
                  false);
  struct Run {
    int passesPerTick;
    bool strangerTalks;
  };
  for (const Run& run : {Run{10, false}, Run{3, false}, Run{10, true}}) {
    SCOPED_TRACE(run.passesPerTick);
    SCOPED_TRACE(run.strangerTalks);
    const int passesPerTick = run.passesPerTick;
    strangerTalks = run.strangerTalks;
    donePoll = 1000;
    Upgrade(Lines({kHeader, kData1, kData2, kEnd}), passesPerTick);
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
    EXPECT_EQ(LastBox(), kUpgradeFailed);
    EXPECT_TRUE(EndsWith(panel.list, kWait + "Failed !======"));
    EXPECT_GE(waitEnded - waitBegan, 1200);
    EXPECT_LE(waitEnded - waitBegan, 1201);
    EXPECT_EQ(op.Eeprom.State, 0) << "the last status request outlived the wait";
    EXPECT_GE(TicksOf(kCheck).size(), 9u);
    EXPECT_LE(TicksOf(kCheck).size(), 10u);
  }
}

TEST_F(RemoteUpdateTest, CommandTheBoardRefusesEndsTheUpdateOnItsOwnLine) {
  struct Case {
    const char* what;
    uint8_t code;  // 0: the address request goes unanswered
    int nth;
    bool silent;
    std::string shown;
    size_t lines;
  };
  const std::string sendFailed = "\n======KOVA : Send file to remote ... Failed !======";
  const Case cases[] = {
      {"no address", 0, 0, true,
       "\n======KOVA : Retrieve remote IP ... Fail !======Failed !======", 0},
      {"erase", kErase, 1, false,
       kAddress + "\n======KOVA : Erase remote FLASH ... Failed !======", 0},
      {"erase unanswered", kErase, 1, true,
       kAddress + "\n======KOVA : Erase remote FLASH ... Failed !======", 0},
      {"first line", kSendFile, 1, false, kAddress + kErased + sendFailed, 1},
      {"a data line", kSendFile, 3, false, kAddress + kErased + sendFailed, 3},
      {"a data line unanswered", kSendFile, 2, true, kAddress + kErased + sendFailed, 2},
      {"end record", kSendFile, 4, false, kAddress + kErased + sendFailed, 4},
      {"install", kUpdate, 1, false,
       kAddress + kErased + kSent + "\n======KOVA : Update remote firmware ... Failed !======", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    refuseAt.clear();
    silentAt.clear();
    answersAddress = c.code != 0;
    if (c.code != 0) {
      (c.silent ? silentAt : refuseAt)[c.code].insert(c.nth);
    }
    Upgrade(Lines({kHeader, kData1, kData2, kEnd}));
    EXPECT_EQ(panel.list, kLoad + kStart + c.shown);
    EXPECT_EQ(LastBox(), kUpgradeFailed);
    EXPECT_EQ(lines.size(), c.lines);
    EXPECT_EQ(SentOf(kUpdate).size(), c.code == kUpdate ? 1u : 0u) << "nothing is installed";
    EXPECT_TRUE(SentOf(kCheck).empty());
    if (c.code == 0) {
      EXPECT_EQ(sent.size(), 1u) << "nothing is sent to a board without an address";
    }
  }
}

}  // namespace
}  // namespace kova::test
