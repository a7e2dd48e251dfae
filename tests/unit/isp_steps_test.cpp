#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "isp/isp_dialogue.h"
#include "isp/uu_encode.h"
#include "isp_board_peer.h"
#include "link_fixture.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/receive_path.h"
#include "step_until.h"

namespace kova::test {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Str(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

TEST(UUEncodeTest, KnownVectorsAndEveryRemainder) {
  struct Case {
    Bytes data;
    uint8_t fill;
    std::string expected;
  } cases[] = {
      {{'a', 'b', 'c'}, 0, "86)C"},
      {{'a', 'b'}, 0, "86(`"},
      {{'a'}, 0, "80`"},
      {{'a', 'b'}, 0xFF, "86+_"},
      {{'a'}, 0xFF, "8?\\"},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0, "``$\"`P0%!@<(\"0`"},
      {{0xFF, 0xFE, 0xFD, 0xFC}, 0, "__[]_``"},
      {Bytes(512, 0x00), 0, std::string(684, '`')},
      {Bytes(512, 0xFF), 0, std::string(680, '_') + "__\\`"},
      {{}, 0, ""},
  };
  for (const Case& c : cases) {
    uint8_t out[1024] = {};
    const int32_t n = UUEncode(static_cast<int32_t>(c.data.size()), c.data.data(), out, c.fill);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.expected)
        << c.data.size() << " bytes";
  }
}

// One ISP step at a time on the in-memory network, against a board that
// answers as its bootloader does.
class IspStepTest : public LinkTest {
 protected:
  IspStepTest() : peer(*net) {
    link.NetStarted = 1;
    EXPECT_EQ(link.UDPSocket_Create(5002, 0), 1);
    peer.alreadySynchronized = true;
    for (int32_t i = 0; i < SharedBuffers::kAppImageSize; ++i) {
      buf.AppImage[i] = static_cast<uint8_t>(i * 13 + (i >> 10));
    }
    isp.Image = buf.AppImage.get();
  }

  void Pass() {
    ++passes;
    RecvPass(link);
    RunIspStep(isp, isp.IspStep);
    Line_applay(link);
    UDP_applay(link);
    if (shown.empty() || shown.back() != progress.load()) {
      shown.push_back(progress.load());
    }
  }

  // Runs step `step` to its end; the ticks it took.
  int RunStep(int step, int passesPerTick = 10) {
    isp.IspStep = static_cast<uint8_t>(step);
    isp.IspState = 1;
    const int ticks = TicksUntil(
        countdown, [this] { Pass(); }, [this] { return isp.IspState == 0; }, passesPerTick);
    EXPECT_GE(ticks, 0) << "step " << step << " never ended";
    return ticks;
  }

  // Runs the dialogue from step `first` as the upgrade does, as long as the
  // steps succeed and stay at most `last`; the steps run.
  std::vector<int> RunSteps(int first, int last) {
    std::vector<int> ran;
    int step = first;
    while (step <= last) {
      ran.push_back(step);
      RunStep(step);
      if (isp.IspDone != 1) {
        break;
      }
      step = isp.IspNextStep;
    }
    return ran;
  }

  // The text datagrams the engine sent, from the `from`th on.
  std::vector<std::string> SentTexts(size_t from = 0) {
    std::vector<std::string> out;
    const auto sent = net->Sent();
    for (size_t i = from; i < sent.size(); ++i) {
      out.push_back(Str(sent[i].bytes));
    }
    return out;
  }

  // Replaces the board's answer to the first line that `line` matches, and
  // notes the pass in which it was sent.
  void Answer(IspBoardPeer& board, const std::string& line, std::vector<std::string> replies) {
    board.script = [this, line, replies, done = false](int, const std::string& l,
                                                       std::vector<std::string>& out) mutable {
      if (done || l != line) {
        return false;
      }
      done = true;
      answeredAt = passes;
      out = replies;
      return true;
    };
  }

  bool Traced(const std::string& text) const {
    for (const std::string& t : panel.traces) {
      if (t == text) {
        return true;
      }
    }
    return false;
  }

  IspBoardPeer peer;
  IspDialogue isp{link, IspProgress{progress, progressStep}};
  std::vector<int32_t> shown;
  int passes = 0;
  int answeredAt = 0;
};

TEST_F(IspStepTest, DialogueUpToTheEraseFollowsTheBoardsSynchronisation) {
  const std::string identify =
      "\n======(3). Device identify request ...Successful !======"
      "\n======(4). Device identify request ...Successful !======"
      "\n======(5). Bootloader firmware version request ..."
      "\n           Bootloader is 3rd version(v1.234) !";
  struct Case {
    bool synchronized;
    std::vector<int> steps;
    std::vector<std::string> lines;
    std::string list;
  } cases[] = {
      {false,
       {1, 2, 3, 4, 5},
       {"?\r\n", "Synchronized\r\n", "J\r\n", "J\r\n", "b\r\n"},
       "\n======(1). Upgrade request ... Successful !======"
       "\n======(2). Upgrade synchronized ... Successful !======" +
           identify},
      {true,
       {1, 3, 4, 5},
       {"?\r\n", "J\r\n", "J\r\n", "b\r\n"},
       "\n======(1). Upgrade request ... Successful !======" + identify},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.synchronized);
    IspBoardPeer board(*net);
    board.alreadySynchronized = c.synchronized;
    panel.list.clear();
    net->sent.clear();
    EXPECT_EQ(RunSteps(1, 5), c.steps);
    EXPECT_EQ(isp.IspDone, 1);
    EXPECT_EQ(isp.IspNextStep, 6);
    EXPECT_EQ(SentTexts(), c.lines);
    EXPECT_EQ(panel.list, c.list);
  }
}

TEST_F(IspStepTest, EraseGoesFromSector29DownTo2WithThreeCommandsEach) {
  RunStep(6);
  std::vector<std::string> expected;
  std::vector<int32_t> gauge = {0};
  for (int sector = 29; sector >= 2; --sector) {
    expected.push_back("U 23130\r\n");
    expected.push_back("P " + std::to_string(sector) + " " + std::to_string(sector) + "\r\n");
    expected.push_back("E " + std::to_string(sector) + " " + std::to_string(sector) + "\r\n");
    gauge.push_back(3 * (30 - sector));
  }
  gauge.push_back(100);
  EXPECT_EQ(SentTexts(), expected);
  EXPECT_EQ(shown, gauge);
  EXPECT_EQ(isp.IspDone, 1);
  EXPECT_EQ(isp.IspNextStep, 7);
  EXPECT_EQ(panel.list, "\n======(6). Erase ... Successful !======");
  EXPECT_TRUE(Traced("\n    Erase sector for application flash !"));
  EXPECT_TRUE(Traced("\n    Erase sector 2 to 2 !"));
  const Bytes flash = peer.Flash();
  EXPECT_EQ(Bytes(flash.begin() + 8192, flash.end()), Bytes(flash.size() - 8192, 0xFF));
}

TEST_F(IspStepTest, FirstBlockGoesOutInTwoHalvesThenIsCopied) {
  std::fill(buf.AppImage.get(), buf.AppImage.get() + 512, 0);
  Bytes erased = peer.Flash();
  std::fill(erased.begin() + 8192, erased.end(), 0xFF);
  peer.SetFlash(erased);
  uint32_t secondSum = 0;
  for (int i = 512; i < 1024; ++i) {
    secondSum += buf.AppImage[i];
  }
  // The board stops answering after the first copy.
  peer.script = [copied = false](int, const std::string& line,
                                 std::vector<std::string>& out) mutable {
    if (copied) {
      out.clear();
      return true;
    }
    copied = line.rfind("C ", 0) == 0;
    return false;
  };
  RunStep(7);

  const std::vector<std::string> sent = SentTexts();
  ASSERT_GE(sent.size(), 32u);
  std::vector<std::string> expected = {"U 23130\r\n", "W 268435968 512\r\n"};
  for (int i = 0; i < 11; ++i) {
    expected.push_back("M" + std::string(60, '`') + "\r\n");
  }
  expected.push_back("1" + std::string(24, '`') + "\r\n");
  expected.push_back("0\r\n");
  expected.push_back("U 23130\r\n");
  expected.push_back("W 268436480 512\r\n");
  EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 17), expected);
  for (size_t i = 17; i < 29; ++i) {
    const size_t length = (i < 28) ? 63 : 27;
    EXPECT_EQ(sent[i].size(), length) << "line " << i - 17;
    EXPECT_EQ(sent[i][0], (i < 28) ? 'M' : '1');
    EXPECT_EQ(sent[i].substr(length - 2), "\r\n");
  }
  EXPECT_EQ(std::vector<std::string>(sent.begin() + 29, sent.begin() + 32),
            (std::vector<std::string>{std::to_string(secondSum) + "\r\n", "P 0 29\r\n",
                                      "C 8192 268435968 1024\r\n"}));
  // The board decoded both halves to the image's bytes and copied them.
  const Bytes flash = peer.Flash();
  EXPECT_EQ(Bytes(flash.begin() + 8192, flash.begin() + 9216),
            Bytes(buf.AppImage.get(), buf.AppImage.get() + 1024));
  EXPECT_EQ(peer.ChecksumMismatches(), 0);
  EXPECT_EQ(isp.IspDone, 0);
  EXPECT_EQ(isp.IspNextStep, 8) << "named on falling idle, after a failure too";
}

TEST_F(IspStepTest, ProgramWritesTheWholeRegionAndLeavesTheBootloaderAlone) {
  panel.recordTraces = false;
  const Bytes before = peer.Flash();
  RunSteps(6, 7);
  EXPECT_EQ(isp.IspDone, 1);
  EXPECT_EQ(isp.IspNextStep, 8);
  const Bytes flash = peer.Flash();
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 8192, before.begin()));
  EXPECT_TRUE(std::equal(flash.begin() + 8192, flash.end(), buf.AppImage.get()));
  EXPECT_EQ(peer.Copies(), 504);
  EXPECT_EQ(peer.ChecksumMismatches(), 0);
  EXPECT_EQ(peer.Commands().back(), "C 523264 268435968 1024");
  EXPECT_EQ(panel.list,
            "\n======(6). Erase ... Successful !======\n======(7). Program ... Successful !======");
  EXPECT_EQ(log.MsgText, "Successful !======");
  // Block by block: 0 after the first (1024 * 100 / 516096), 1 after six.
  const std::vector<int32_t> start = {0, 1, 2};
  const size_t afterErase = std::find(shown.begin(), shown.end(), 100) - shown.begin();
  ASSERT_LT(afterErase + 3, shown.size());
  EXPECT_EQ(std::vector<int32_t>(shown.begin() + afterErase + 1, shown.begin() + afterErase + 4),
            start);
  EXPECT_EQ(shown.back(), 100);
}

TEST_F(IspStepTest, HalfIsSentAgainOnResendAtMostFourTimes) {
  struct Case {
    int resends;
    int32_t done;
    int copies;
  } cases[] = {{3, 1, 504}, {4, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.resends);
    IspBoardPeer board(*net);
    board.alreadySynchronized = true;
    board.resendFirst = c.resends;
    panel.traces.clear();
    panel.list.clear();
    panel.recordTraces = c.done == 0;  // the whole region is a lot of trace
    RunStep(7);
    EXPECT_EQ(isp.IspDone, c.done);
    EXPECT_EQ(board.Copies(), c.copies);
    const std::vector<std::string> lines = board.Lines();
    const auto writes = std::count(lines.begin(), lines.end(), "W 268435968 512");
    EXPECT_EQ(writes, c.done == 1 ? 504 : 1) << "the W is not repeated";
    const auto firstHalfLines = std::count_if(lines.begin(), lines.begin() + 2 + 13 * 4,
                                              [](const std::string& l) { return l[0] == 'M'; });
    EXPECT_EQ(firstHalfLines, 11 * 4);
    if (c.done == 0) {
      EXPECT_EQ(panel.list, "\n======(7). Program ... Failed !======");
      for (int left : {3, 2, 1}) {
        EXPECT_TRUE(Traced("\n      Block failed .. retry(" + std::to_string(left) + ") !"));
      }
      EXPECT_FALSE(Traced("\n      Block failed .. retry(0) !"));
      EXPECT_EQ(lines.size(), 2u + 13 * 4) << "nothing after the fourth RESEND";
    } else {
      EXPECT_EQ(panel.list, "\n======(7). Program ... Successful !======");
    }
  }
}

TEST_F(IspStepTest, BootloaderVersionInEachFormAndAWrongOne) {
  const std::string announce = "\n======(5). Bootloader firmware version request ...";
  struct Case {
    Bytes reply;
    std::string list;
  } cases[] = {
      {{'V', 0x01, '.', 0x02}, announce + "\n           Bootloader is 2nd version(v1.2) !"},
      {{'V', '1', '.', '2'}, announce + "\n           Bootloader is 2nd version(v49.50) !"},
      {{'B', 'L', '1', '.', '2', '3', '4'},
       announce + "\n           Bootloader is 3rd version(v1.234) !"},
      {{'1'}, announce + "\n           Bootloader is 1st version(50 pcs) !"},
      {{'V', '1', ',', '2'}, announce + "Failed !======"},
      {{'B', 'L', '1', '2', '3', '4', '5'}, announce + "Failed !======"},
      {{'B', 'L', '1', '.', '2', '3'}, announce + "Failed !======"},
      {{'2'}, announce + "Failed !======"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Str(c.reply));
    peer.version = c.reply;
    panel.list.clear();
    const int ticks = RunStep(5);
    EXPECT_EQ(panel.list, c.list);
    const bool ok = c.list.find("Failed") == std::string::npos;
    EXPECT_EQ(isp.IspDone, ok ? 1 : 0);
    if (!ok) {
      EXPECT_GE(ticks, kLineMatchTicks) << "a wrong reply fails once the 2 s have passed";
    }
  }
}

// A reply the step does not expect fails it 2 s after it was collected; no
// reply at all fails it when the bound runs out.
TEST_F(IspStepTest, WrongOrMissingReplyFailsTheStep) {
  struct Case {
    int step;
    bool synchronized;
    std::string line;  // the line whose answer is replaced
    std::vector<std::string> answer;
    int ticks;
  } cases[] = {
      {1, false, "?", {"0"}, kLineMatchTicks},
      {1, false, "?", {}, kLineBoundTicks},
      {3, true, "J", {"1", "637615927"}, kLineMatchTicks},
      {3, true, "J", {"0", "637615928"}, kLineMatchTicks},
      {3, true, "J", {"0"}, kLineBoundTicks},
      {6, true, "P 17 17", {"9"}, kLineMatchTicks},
      {6, true, "E 2 2", {}, kLineBoundTicks},
      {7, true, "W 268436480 512", {"OK"}, kLineMatchTicks},
      {7, true, "P 0 29", {}, kLineBoundTicks},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.step) + " " + c.line);
    IspBoardPeer board(*net);
    board.alreadySynchronized = c.synchronized;
    Answer(board, c.line, c.answer);
    panel.list.clear();
    while (UDP_RxAvailable(link)) {  // what an earlier case left unread
      UDP_RxSkip(link);
    }
    RunStep(c.step);
    EXPECT_EQ(isp.IspDone, 0);
    // Ten passes to a tick; the exchanges after the line's send take a few
    // passes before the wait starts.
    const int ticks = (passes - answeredAt) / 10;
    EXPECT_GE(ticks, c.ticks - 1);
    EXPECT_LE(ticks, c.ticks + 3);
    EXPECT_EQ(panel.list.substr(panel.list.size() - 14), "Failed !======");
    EXPECT_TRUE(UDP_RecvMsgIsIdle(link)) << "nothing stays armed";
  }
}

TEST_F(IspStepTest, LineThatCannotLeaveFailsTheStepAtOnce) {
  struct Case {
    const char* what;
    int step;
    std::string after;  // the send fails once the board has taken this line
  } cases[] = {
      {"command", 1, ""},
      {"first data line", 7, "W 268435968 512"},
      {"checksum", 7, "1" + std::string(24, '`')},
      {"copy", 7, "P 0 29"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IspBoardPeer board(*net);
    board.alreadySynchronized = true;
    std::fill(buf.AppImage.get(), buf.AppImage.get() + 1024, 0);
    net->failSend = c.after.empty();
    board.script = [this, c](int, const std::string& l, std::vector<std::string>&) {
      if (l == c.after) {
        net->failSend = true;
      }
      return false;
    };
    const size_t before = net->Sent().size();
    panel.list.clear();
    EXPECT_EQ(RunStep(c.step, 1000000), 0) << "no wait for a reply";
    EXPECT_EQ(isp.IspDone, 0);
    EXPECT_EQ(panel.list.substr(panel.list.size() - 14), "Failed !======");
    const std::vector<std::string> sent = SentTexts(before);
    if (!c.after.empty()) {
      ASSERT_FALSE(sent.empty());
      EXPECT_EQ(sent.back(), c.after + "\r\n") << "nothing left after the failed send";
    }
    net->failSend = false;
  }
}

TEST_F(IspStepTest, EmptyStepsNameTheNextNumberSilently) {
  for (int step : {8, 9, 10}) {
    RunStep(step);
    EXPECT_EQ(isp.IspDone, 1);
    EXPECT_EQ(isp.IspNextStep, step + 1);
  }
  isp.IspState = 1;
  RunIspStep(isp, 11);
  EXPECT_EQ(isp.IspState, 1) << "no such step";
  EXPECT_TRUE(panel.list.empty());
  EXPECT_TRUE(net->Sent().empty());
}

}  // namespace
}  // namespace kova::test
