#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link_fixture.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"
#include "step_until.h"

namespace kova::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string AsText(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

class LineExchangeTest : public LinkTest {
 protected:
  LineExchangeTest() {
    link.NetStarted = 1;
    EXPECT_EQ(link.UDPSocket_Create(5002, 0), 1);
  }

  int Handle() const { return link.UDPSocket.handle; }

  void Pass() {
    RecvPass(link);
    Line_applay(link);
    UDP_applay(link);
  }

  // Runs the posted request to its end, and the UDP channel with it; the
  // ticks it took.
  int Finish() {
    return TicksUntil(
        countdown, [this] { Pass(); }, [this] { return Line_IsIdle(link) && UDP_IsIdle(link); });
  }

  std::vector<std::string> SentTexts() {
    std::vector<std::string> out;
    for (const FakeNet::Datagram& d : net->Sent()) {
      out.push_back(AsText(d.bytes));
    }
    return out;
  }
};

TEST_F(LineExchangeTest, CommandLineGetsCrLfAndTheMatchedReplyIsNamed) {
  struct Case {
    const char* what;
    std::vector<std::string> datagrams;  // delivered after the command has left
    int32_t result;
    int32_t matched;
  } cases[] = {
      {"first expected", {"1\r\n"}, 1, 0},
      {"second expected", {"Synchronized\r\n"}, 1, 1},
      {"only the first line of a datagram counts", {"?\r\n1\r\n"}, 0, -1},
      {"a longer line is no match", {"1 \r\n"}, 0, -1},
      {"CR without LF is no line", {"1\r", "\n"}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net->sent.clear();
    for (const std::string& d : c.datagrams) {
      net->AfterSent(1, Text(d));
    }
    ASSERT_EQ(Line_Command(link, "?", {"1\r\n", "Synchronized\r\n"}), 1);
    ASSERT_GE(Finish(), 0);
    EXPECT_EQ(SentTexts(), std::vector<std::string>{"?\r\n"});
    EXPECT_EQ(Line_Result(link), c.result);
    EXPECT_EQ(Line_Matched(link), c.matched);
    UDP_RecvMsgReset(link);  // a line left unfinished by a case
  }
}

TEST_F(LineExchangeTest, PositionalMatcherDecidesTheReply) {
  const LineMatcher versionLike = [](const uint8_t* line, int32_t length) {
    return (length == 6 && line[0] == 'V' && line[2] == '.') ? 0 : -1;
  };
  net->AfterSent(1, {'V', 0x01, '.', 0x02, '\r', '\n'});
  ASSERT_EQ(Line_Command(link, "b", versionLike), 1);
  ASSERT_GE(Finish(), 0);
  EXPECT_EQ(Line_Result(link), 1);
  EXPECT_EQ(Line_Matched(link), 0);
}

// A wrong reply waits out the 2-second deadline, which starts once the line
// was collected; a silent peer waits out the bound, which starts once the
// command has left. Either way the next exchange finds nothing armed and
// takes its own reply.
TEST_F(LineExchangeTest, WrongReplyFailsAtTheDeadlineAndSilenceAtTheBound) {
  struct Case {
    const char* what;
    std::vector<std::string> datagrams;
    int ticks;
  } cases[] = {
      {"wrong reply", {"9\r\n"}, kLineMatchTicks},
      {"no reply", {}, kLineBoundTicks},
      {"half a line", {"0\r"}, kLineBoundTicks},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net->sent.clear();
    for (const std::string& d : c.datagrams) {
      net->AfterSent(1, Text(d));
    }
    ASSERT_EQ(Line_Command(link, "U 23130", {"0\r\n"}), 1);
    const int ticks = Finish();
    EXPECT_EQ(Line_Result(link), 0);
    EXPECT_GE(ticks, c.ticks);
    EXPECT_LE(ticks, c.ticks + 1);
    EXPECT_TRUE(UDP_RecvMsgIsIdle(link));

    net->AfterSent(2, Text("0\r\n"));
    ASSERT_EQ(Line_Command(link, "U 23130", {"0\r\n"}), 1);
    Finish();
    EXPECT_EQ(Line_Result(link), 1) << "the exchange after it";
  }
}

TEST_F(LineExchangeTest, CollectReadsTheNextLineWithoutSending) {
  net->AfterSent(1, Text("0\r\n"));
  net->AfterSent(1, Text("637615927\r\n"));
  ASSERT_EQ(Line_Command(link, "J", {"0\r\n"}), 1);
  Finish();
  ASSERT_EQ(Line_Result(link), 1);
  ASSERT_EQ(Line_Collect(link, {"637615927\r\n"}), 1);
  Finish();
  EXPECT_EQ(Line_Result(link), 1);
  EXPECT_EQ(SentTexts(), std::vector<std::string>{"J\r\n"});
}

// Replies that came twice (the board's own repeat, or the network's), and
// answers to a command that reached the board twice: what is left of an
// earlier command's, in the ring or still in the socket, is gone when the
// next command leaves; a copy that comes after it, or a further line of a
// reply repeating the line before, is passed over.
TEST_F(LineExchangeTest, DuplicatedRepliesLeaveTheDialogueInStep) {
  net->AfterSent(1, Text("Synchronized\r\n"));
  net->AfterSent(1, Text("Synchronized\r\n"));
  ASSERT_EQ(Line_Command(link, "?", {"1\r\n", "Synchronized\r\n"}), 1);
  Finish();
  ASSERT_EQ(Line_Result(link), 1);
  RecvPass(link);
  net->Deliver(Handle(), Text("Synchronized\r\n"));  // a third copy, late

  net->AfterSent(2, Text("Synchronized\r\n"));  // a fourth, later still
  net->AfterSent(2, Text("OK\r\n"));
  ASSERT_EQ(Line_Command(link, "Synchronized", {"OK\r\n"}), 1);
  Finish();
  EXPECT_EQ(Line_Result(link), 1) << "the earlier reply answered the command";
  net->Deliver(Handle(), Text("1\r\n"));  // the synchronised board's answer to the copy

  for (const char* line : {"0\r\n", "0\r\n", "637615927\r\n", "637615927\r\n"}) {
    net->AfterSent(3, Text(line));
  }
  ASSERT_EQ(Line_Command(link, "J", {"0\r\n"}), 1);
  Finish();
  ASSERT_EQ(Line_Result(link), 1);
  ASSERT_EQ(Line_Collect(link, {"637615927\r\n"}), 1);
  Finish();
  EXPECT_EQ(Line_Result(link), 1) << "the repeated first line taken for the second";

  net->AfterSent(4, Text("BL1.234\r\n"));
  ASSERT_EQ(Line_Command(link, "b", {"BL1.234\r\n"}), 1);
  Finish();
  EXPECT_EQ(Line_Result(link), 1);
}

TEST_F(LineExchangeTest, DataLineLeavesAsItIsAndEndsWhenSent) {
  const std::string line = "M" + std::string(60, '`') + "\r\n";
  ASSERT_EQ(Line_SendData(link, reinterpret_cast<const uint8_t*>(line.data()),
                          static_cast<int32_t>(line.size())),
            1);
  EXPECT_EQ(Finish(), 0) << "no reply is awaited";
  EXPECT_EQ(Line_Result(link), 1);
  EXPECT_EQ(SentTexts(), std::vector<std::string>{line});
  EXPECT_TRUE(UDP_RecvMsgIsIdle(link));
}

TEST_F(LineExchangeTest, RequestsFailWhenTheirLineCannotLeave) {
  const uint8_t data[] = {'1', '\r', '\n'};
  struct Case {
    const char* what;
    std::function<int()> post;
  } cases[] = {
      {"command", [&] { return Line_Command(link, "?", {"1\r\n"}); }},
      {"data", [&] { return Line_SendData(link, data, 3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    net->failSend = true;
    ASSERT_EQ(c.post(), 1);
    EXPECT_EQ(Finish(), 0) << "fails at once";
    EXPECT_EQ(Line_Result(link), 0);

    // A UDP channel busy with another request refuses the line.
    net->failSend = false;
    ASSERT_EQ(UDP_Close(link), 1);
    ASSERT_EQ(c.post(), 1);
    Line_applay(link);
    EXPECT_EQ(Finish(), 0);
    EXPECT_EQ(Line_Result(link), 0);
    EXPECT_EQ(link.UDPSocket_Create(5002, 0), 1);
  }
  EXPECT_TRUE(net->Sent().empty());
}

TEST_F(LineExchangeTest, BusyChannelRefusesAnotherRequest) {
  ASSERT_EQ(Line_Command(link, "?", {"1\r\n"}), 1);
  EXPECT_EQ(Line_Command(link, "J", {"0\r\n"}), 0);
  EXPECT_EQ(Line_Collect(link, {"0\r\n"}), 0);
  EXPECT_EQ(Line_Command(link, "J", {"a", "b", "c", "d"}), 0);
  EXPECT_EQ(link.LineText, "?");
}

}  // namespace
}  // namespace kova::test
