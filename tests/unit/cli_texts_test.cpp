#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/answer_texts.h"
#include "cli/batch_summary.h"
#include "cli/cli_options.h"
#include "cli/cli_panel.h"
#include "cli/dry_run_text.h"
#include "cli/interfaces.h"
#include "cli/json_line.h"
#include "cli/progress_line.h"
#include "cli/restart_watch.h"
#include "cli/station_output.h"
#include "engine_fixture.h"

namespace kova::cli {
namespace {

bool Parse(std::vector<std::string> args, CliOptions& out, std::string& error) {
  args.insert(args.begin(), "kova-upgrade");
  std::vector<char*> argv;
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  return ParseOptions(static_cast<int>(args.size()), argv.data(), out, error);
}

TEST(JsonStringTest, EveryTextBecomesOneValidString) {
  const struct {
    std::string text;
    std::string json;
  } cases[] = {
      {"\n======Load ... ", R"("\n======Load ... ")"},
      {"say \"hi\" \\ there\t\r", R"("say \"hi\" \\ there\t\r")"},
      {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"},
      {"caf\xc3\xa9 \xe2\x82\xac", "\"caf\xc3\xa9 \xe2\x82\xac\""},  // UTF-8 stays
      {"\xff\xc3", R"("\ufffd\ufffd")"},                             // bytes that are not
      {"\xc0\xaf", R"("\ufffd\ufffd")"},                             // an overlong form
      {"\xed\xa0\x80", R"("\ufffd\ufffd\ufffd")"},                   // a surrogate
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JsonString(c.text), c.json);
  }
  EXPECT_EQ(JsonLine("result").Bool("ok", false).Null("reason").Seconds("elapsed", 1.5).Text(),
            "{\"event\":\"result\",\"ok\":false,\"reason\":null,\"elapsed\":1.500}\n");
}

TEST(MacListTest, CommentsAndBlankLinesAreSkippedAndABadLineIsNamed) {
  std::vector<MacFields> macs;
  std::string error;
  ASSERT_TRUE(ParseMacList("# tray 1\r\n00:1A:2B:3C:4D:5E\n\n  001a2b3c4d5f  # spare\r\n\t\n",
                           "macs", macs, error))
      << error;
  ASSERT_EQ(macs.size(), 2u);
  EXPECT_EQ(MacText(macs[1]), "00:1A:2B:3C:4D:5F");

  const struct {
    const char* text;
    const char* error;
  } bad[] = {
      {"00:1A:2B:3C:4D:5E\n00:1A:2B:3C:4D\n", "macs:2: unparsable MAC address: 00:1A:2B:3C:4D"},
      {"# x\n\n00:1A:2B:3C:4D:5E junk\n", "macs:3: unparsable MAC address: 00:1A:2B:3C:4D:5E junk"},
  };
  for (const auto& c : bad) {
    macs.clear();
    EXPECT_FALSE(ParseMacList(c.text, "macs", macs, error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(ParseOptionsTest, BatchesDryRunLogAndDoctor) {
  test::WorkDir dir;
  dir.Write("macs", "00:1A:2B:3C:4D:60\n");
  dir.Write("twice", "00:1A:2B:3C:4D:60\n# again\n00-1a-2b-3c-4d-60\n");
  const struct {
    std::vector<std::string> args;
    std::string error;  // empty: accepted
    size_t boards;
  } cases[] = {
      {{"-m", "00:1A:2B:3C:4D:5E", "-m", "00-1A-2B-3C-4D-5F", "upgrade"}, "", 2},
      {{"-m", "00:1A:2B:3C:4D:5E", "--mac-file", dir.path() + "/macs", "version"}, "", 2},
      {{"--mac-file", dir.path() + "/macs", "--keep-going", "--json", "eeprom"}, "", 1},
      {{"-m", "00:1A:2B:3C:4D:5E", "--dry-run", "upgrade"}, "", 1},
      {{"-i", "eth1", "doctor"}, "", 0},
      {{"-m", "00:1A:2B:3C:4D:5E", "--dry-run", "version"}, "--dry-run goes with upgrade only", 0},
      {{"--mac-file", dir.path() + "/none", "upgrade"},
       "cannot read the MAC file: " + dir.path() + "/none: No such file or directory",
       0},
      // The same board twice: refused before any board is touched, naming
      // where it came from both times.
      {{"--mac-file", dir.path() + "/twice", "upgrade"},
       "duplicate MAC address: 00:1A:2B:3C:4D:60 (" + dir.path() + "/twice:1 and " + dir.path() +
           "/twice:3)",
       0},
      {{"-m", "001a2b3c4d60", "--mac-file", dir.path() + "/macs", "upgrade"},
       "duplicate MAC address: 00:1A:2B:3C:4D:60 (-m 001a2b3c4d60 and " + dir.path() + "/macs:1)",
       0},
      {{"-m", "00:1A:2B:3C:4D:5E", "-m", "00-1A-2B-3C-4D-5E", "version"},
       "duplicate MAC address: 00:1A:2B:3C:4D:5E (-m 00:1A:2B:3C:4D:5E and -m 00-1A-2B-3C-4D-5E)",
       0},
      // Devices are no MAC files: a terminal or /dev/zero would never end.
      {{"--mac-file", "/dev/null", "upgrade"},
       "the MAC file is neither a regular file nor a pipe: /dev/null",
       0},
      {{"--mac-file", "/dev/zero", "upgrade"},
       "the MAC file is neither a regular file nor a pipe: /dev/zero",
       0},
      {{"-m", "00:1A:2B:3C:4D:5E", "--log", "x", "--no-log", "version"},
       "--log and --no-log exclude each other",
       0},
      {{"-m", "00:1A:2B:3C:4D:5E", "--log=", "version"},
       "empty log file name: --log needs a file",
       0},
  };
  for (const auto& c : cases) {
    CliOptions opt;
    std::string error;
    const bool ok = Parse(c.args, opt, error);
    EXPECT_EQ(ok, c.error.empty()) << c.args.back() << ": " << error;
    EXPECT_EQ(error, c.error);
    if (ok) {
      EXPECT_EQ(opt.macs.size(), c.boards) << c.args.back();
    }
  }
}

TEST(FindInterfaceTest, ByNameOrByItsDottedAddressOnly) {
  AdapterTable table;
  table.AdapterDesc[0] = "eth0";
  table.AdapterIP[0] = {192, 0, 2, 2};
  table.AdapterDesc[1] = "Intel(R) Ethernet Connection I219-LM";
  table.AdapterIP[1] = {192, 168, 100, 1};
  table.Count = 2;
  const struct {
    const char* wanted;
    int index;
  } cases[] = {
      {"eth0", 0},
      {"Intel(R) Ethernet Connection I219-LM", 1},
      {"192.168.100.1", 1},
      {"192.0.2.2", 0},
      {"192.168.100.1 ", -1},
      {"192.168.100", -1},
      {"192.168.100.1.5", -1},
      {"192.168.100.257", -1},
      {"eth1", -1},
      {"", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindInterface(table, c.wanted), c.index) << c.wanted;
  }
}

TEST(ProgressLineTest, BarBytesAndRate) {
  const struct {
    const char* phase;
    int percent;
    uint64_t total;
    double seconds;
    const char* line;
  } cases[] = {
      {"wait", 30, 0, 4.5, "wait         30% [#########.....................]"},
      {"program", 50, 516096, 10,
       "program      50% [###############...............] 252.0/504.0 KiB  25.2 KiB/s"},
      {"boot-server", 0, 2048, 0, "boot-server   0% [..............................] 0 B/2.0 KiB"},
      {"program", 140, 1024, 0.1, "program     100% [##############################] 1.0/1.0 KiB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressLine(c.phase, c.percent, c.total, c.seconds), c.line);
  }
}

// The polls after an upgrade: "-" a missed poll, a version an answer. An
// answer counts once the board missed a poll or names another version.
TEST(RestartWatchTest, AnswerCountsOnlyAfterARestartOrWithAnotherVersion) {
  const struct {
    const char* before;  // "" unknown
    std::vector<const char*> polls;
    const char* after;  // "" never came back
    const char* reason;
    const char* line;
  } cases[] = {
      {"0.107", {"0.107", "-", "0.108"}, "0.108", "", "Firmware v0.107 -> v0.108"},
      {"0.107", {"-", "-", "0.107"}, "0.107", "", "Firmware v0.107 -> v0.107"},
      {"0.107", {"0.108"}, "0.108", "", "Firmware v0.107 -> v0.108"},
      {"0.107", {"0.107", "0.107", "0.107"}, "", "not-restarted", ""},
      {"0.107", {"-", "-"}, "", "no-reply-after-upgrade", ""},
      {"0.107", {"0.107", "-"}, "", "no-reply-after-upgrade", ""},
      {"0.107", {}, "", "no-reply-after-upgrade", ""},
      {"bootloader", {"0.107"}, "0.107", "", "Firmware bootloader -> v0.107"},
      {"", {"0.108", "0.108"}, "", "not-restarted", ""},
      {"", {"-", "0.108"}, "0.108", "", "Firmware unknown -> v0.108"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.before) + " then " + std::to_string(c.polls.size()) + " polls");
    const std::optional<std::string> before =
        *c.before ? std::optional<std::string>(c.before) : std::nullopt;
    RestartWatch watch(before);
    for (const char* poll : c.polls) {
      watch.Poll(std::string(poll) == "-" ? std::nullopt : std::optional<std::string>(poll));
    }
    ASSERT_EQ(watch.CameBack(), *c.after != '\0');
    if (watch.CameBack()) {
      EXPECT_EQ(watch.After(), c.after);
      EXPECT_EQ(FirmwareChangeLine(before, watch.After()), c.line);
    } else {
      EXPECT_STREQ(watch.Reason(), c.reason);
    }
  }
}

TEST(BatchSummaryTest, TableListsEveryBoardAndOnlyAllSucceededIsZero) {
  std::vector<BoardOutcome> boards(3);
  boards[0] = {
      "00:1A:2B:3C:4D:5E", "192.168.100.2", true, true, "", 31.24, false, false, "", "", ""};
  boards[1] = {
      "00:1A:2B:3C:4D:5F", "192.168.100.2", true, false, "no-reply", 0.8, false, false, "", "", ""};
  boards[2] = {"00:1A:2B:3C:4D:60", "", false, false, "", 0, false, false, "", "", ""};
  EXPECT_EQ(SummaryTable(boards),
            "MAC                ADDRESS        RESULT   REASON    TIME\n"
            "00:1A:2B:3C:4D:5E  192.168.100.2  ok       -         31.2 s\n"
            "00:1A:2B:3C:4D:5F  192.168.100.2  failed   no-reply  0.8 s\n"
            "00:1A:2B:3C:4D:60  -              skipped  -         -\n");
  // Verified boards add the firmware before and after.
  boards[0].verified = boards[1].verified = true;
  boards[0].versionBefore = "bootloader";
  boards[0].versionAfter = "0.108";
  boards[1].versionBefore = "0.107";
  EXPECT_EQ(SummaryTable(boards),
            "MAC                ADDRESS        RESULT   REASON    TIME    FIRMWARE\n"
            "00:1A:2B:3C:4D:5E  192.168.100.2  ok       -         31.2 s  bootloader -> v0.108\n"
            "00:1A:2B:3C:4D:5F  192.168.100.2  failed   no-reply  0.8 s   v0.107 -> ?\n"
            "00:1A:2B:3C:4D:60  -              skipped  -         -       -\n");
  EXPECT_EQ(BatchExitCode(boards), 1);
  // A station's rows begin with their card.
  boards[0].card = "eth1";
  boards[1].card = "usb-fixture2";
  boards[2].card = "eth3";
  boards[0].verified = boards[1].verified = false;
  EXPECT_EQ(SummaryTable(boards),
            "CARD          MAC                ADDRESS        RESULT   REASON    TIME\n"
            "eth1          00:1A:2B:3C:4D:5E  192.168.100.2  ok       -         31.2 s\n"
            "usb-fixture2  00:1A:2B:3C:4D:5F  192.168.100.2  failed   no-reply  0.8 s\n"
            "eth3          00:1A:2B:3C:4D:60  -              skipped  -         -\n");
  boards.resize(1);
  EXPECT_EQ(BatchExitCode(boards), 0);
  boards[0].ran = false;  // a board that never ran did not succeed
  EXPECT_EQ(BatchExitCode(boards), 1);
}

// Which boards run: a failure stops the rest unless --keep-going; a signal,
// or an entry left behind (the next board would be given its address),
// stops it regardless.
TEST(BatchSummaryTest, BatchStopsWhereItMust) {
  const std::vector<std::string> macs = {"A", "B", "C"};
  const struct {
    const char* what;
    bool keepGoing;
    int failing;     // index of the board that fails, -1 none
    bool entryLeft;  // and leaves its entry
    bool signal;     // a signal comes during it
    const char* ran;
    int warnings;
    int exitCode;
  } cases[] = {
      {"all succeed", false, -1, false, false, "ABC", 0, 0},
      {"failure stops", false, 1, false, false, "AB", 1, 1},
      {"keep going", true, 1, false, false, "ABC", 0, 1},
      {"last fails", false, 2, false, false, "ABC", 0, 1},
      {"entry left", true, 0, true, false, "A", 1, 1},
      {"entry left on the last", true, 2, true, false, "ABC", 0, 1},
      {"signal", true, 1, false, true, "AB", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string ran;
    int warnings = 0;
    bool interrupted = false;
    const std::vector<BoardOutcome> boards = RunBatch(
        macs, c.keepGoing,
        [&](size_t i, bool& stopped) {
          ran += macs[i];
          BoardOutcome b;
          b.mac = macs[i];
          b.ran = true;
          const bool fails = static_cast<int>(i) == c.failing;
          b.ok = !fails;
          b.entryLeft = fails && c.entryLeft;
          stopped = fails && c.signal;
          return b;
        },
        [&](const std::string&) { ++warnings; }, interrupted);
    EXPECT_EQ(ran, c.ran);
    EXPECT_EQ(warnings, c.warnings);
    ASSERT_EQ(boards.size(), 3u);
    EXPECT_EQ(boards[2].mac, "C");
    EXPECT_EQ(interrupted, c.signal);
    EXPECT_EQ(interrupted ? 1 : BatchExitCode(boards), c.exitCode);
  }
}

// The last line of a failed operation says why in words, then the code a
// script tests; every code the engine or the command line reports has words
// of its own.
TEST(FailureLineTest, EveryReasonCodeHasItsOwnSentence) {
  const struct {
    const char* code;
    const char* line;
  } cases[] = {
      {"failed", "failed: the operation failed (failed)"},
      {"load-failed",
       "failed: the configuration file or an image file could not be loaded (load-failed)"},
      {"bad-input",
       "failed: the board's MAC, its address or the interface is missing or not usable "
       "(bad-input)"},
      {"no-reply", "failed: the board did not answer (no-reply)"},
      {"unexpected-reply",
       "failed: the board answered something the tool did not expect (unexpected-reply)"},
      {"bad-signature",
       "failed: the image does not carry the signature of the board's platform (bad-signature)"},
      {"image-too-large", "failed: the image is larger than the board's flash (image-too-large)"},
      {"neighbour-denied",
       "failed: this process may not change the host's neighbour table (neighbour-denied)"},
      {"neighbour-failed",
       "failed: the board's neighbour entry could not be made (neighbour-failed)"},
      {"socket-failed", "failed: a network socket could not be opened or used (socket-failed)"},
      {"port-in-use", "failed: another program holds a port of the boot server (port-in-use)"},
      {"port-denied", "failed: this process may not open the boot server's ports (port-denied)"},
      {"resend-limit", "failed: the board kept refusing a block of the image (resend-limit)"},
      {"transfer-stalled", "failed: the transfer of the image stopped (transfer-stalled)"},
      {"interrupted", "failed: the operation was interrupted before it ended (interrupted)"},
      {"interface-busy", "failed: another operation holds the interface (interface-busy)"},
      {"checks-failed", "failed: a check of the workstation failed (checks-failed)"},
      {"no-reply-after-upgrade",
       "failed: the board did not answer after the upgrade (no-reply-after-upgrade)"},
      {"not-restarted", "failed: the board did not restart with its new firmware (not-restarted)"},
      // A code from a newer engine still ends in a line, and no reason at all
      // is a plain failure.
      {"brand-new", "failed: the operation failed (brand-new)"},
      {"", "failed: the operation failed (failed)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FailureLine(c.code), c.line);
  }
  for (int r = static_cast<int>(FailReason::kLoadFailed);
       r <= static_cast<int>(FailReason::kTransferStalled); ++r) {
    const std::string code = FailReasonName(static_cast<FailReason>(r));
    EXPECT_STRNE(ReasonSentence(code), ReasonSentence("failed")) << code;
  }
}

TEST(AnswerTextsTest, ModelNameEepromDumpAndVersion) {
  EXPECT_EQ(ModelNameText({'Q', 'X', '-', '2', '0', '4', 0, 0xFF}), "QX-204");
  EXPECT_EQ(ModelNameText({'A', 0x07, '\\', 0xC3}), "A\\x07\\x5C\\xC3");
  std::vector<uint8_t> bytes(20);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<uint8_t>(0x3C + i);
  }
  EXPECT_EQ(HexDumpWithOffsets(bytes),
            "0000  3C 3D 3E 3F 40 41 42 43  44 45 46 47 48 49 4A 4B  |<=>?@ABCDEFGHIJK|\n"
            "0010  4C 4D 4E 4F                                       |LMNO|\n");
  EXPECT_EQ(HexBytes({0x00, 0xAB}), "00AB");
  EXPECT_EQ(VersionText(0x01, 0x07), "0.107");
}

TEST(DryRunTextTest, EachRoadHasItsSteps) {
  UpgradePlan plan;
  plan.mac = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  plan.address = {192, 168, 100, 2};
  plan.addressKnown = true;
  plan.imageBytes = 2048;
  const struct {
    int32_t setting;
    bool newPlatform;
    uint32_t bytesToSend;
    const char* road;
    const char* lastStep;
    size_t steps;
  } cases[] = {
      {0, true, 2048, "boot-server", "  6. remove the neighbour entry", 6},
      {3, false, 516096, "isp", "  4. remove the neighbour entry", 4},
      {4, false, 2048, "remote", "", 4},
  };
  for (const auto& c : cases) {
    plan.jumpSetting = c.setting;
    plan.newPlatform = c.newPlatform;
    plan.bytesToSend = c.bytesToSend;
    const std::vector<std::string> lines = PlanLines(plan, {"eth1", 100});
    EXPECT_EQ(RoadName(plan), std::string(c.road));
    EXPECT_EQ(lines.size(), 4 + c.steps) << c.road;
    if (*c.lastStep != '\0') {
      EXPECT_EQ(lines.back(), c.lastStep);
    }
  }
  plan.jumpSetting = 0;
  plan.newPlatform = true;
  const std::vector<std::string> lines = PlanLines(plan, {"eth1", 100});
  EXPECT_EQ(lines[4], "  1. jump to the bootloader (BOOTLOADER command, up to 4 attempts)");
  EXPECT_EQ(lines[5], "  2. wait 15.0 s for the board to start its bootloader");
  EXPECT_EQ(lines[8], "  5. serve firmware.bin by TFTP: 2048 bytes in 5 blocks");
}

// The cards of a station write at the same time: each line goes out whole
// with its card, each JSON event carries it, stderr lines too; on a
// terminal one progress line shows every card.
TEST(StationOutputTest, EveryLineCarriesItsCardAndGoesOutWhole) {
  std::mutex mutex;
  std::string record;  // "1:" or "2:" where the stream changes
  int last = 0;
  {
    OutputQueue out({}, [&](int fd, const char* data, size_t size) -> long {
      std::lock_guard<std::mutex> lock(mutex);
      record += (fd == last ? "" : std::to_string(fd) + ":") + std::string(data, size);
      last = fd;
      return static_cast<long>(size);
    });
    StationOutput station(out, {"eth1", "eth2"}, true);
    CliPanel one(out, false, false, false);
    CliPanel two(out, false, false, false);
    CliPanel json(out, true, false, false);
    one.ForCard("eth1", &station);
    two.ForCard("eth2", &station);
    json.ForCard("eth3", &station);
    one.AppendText("\n======(1). Upgrade request ... ");
    two.AppendText("\n======Load upgarde file ... ");
    one.AppendText("Successful !======");
    PhaseNote note;
    note.phase = OperationPhase::kProgram;
    two.PhaseChanged(note);
    two.SetGauge(100);
    two.ErrorLine("failed: the board did not answer (no-reply)");
    one.Finish();
    json.AppendText("x");
    station.Close();
    two.Finish();
    out.Finish(std::chrono::seconds(5));
  }
  EXPECT_EQ(record,
            "1:[eth1]\n[eth2]\n"
            "2:\reth1 - | eth2 program 100%\033[K\r\033[K"
            "[eth2] kova-upgrade: failed: the board did not answer (no-reply)\n"
            "\reth1 - | eth2 program 100%\033[K\r\033[K"
            "1:[eth1] ======(1). Upgrade request ... Successful !======\n"
            "2:\reth1 - | eth2 program 100%\033[K\r\033[K"
            "1:{\"card\":\"eth3\",\"event\":\"message\",\"text\":\"x\"}\n"
            "2:\reth1 - | eth2 program 100%\033[K\r\033[K"
            "1:[eth2] ======Load upgarde file ... \n");
}

}  // namespace
}  // namespace kova::cli
