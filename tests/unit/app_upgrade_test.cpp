#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app_upgrade_fixture.h"
#include "common/format.h"
#include "engine_fixture.h"
#include "hostnet/capabilities.h"
#include "isp_board_peer.h"
#include "protocol/receive_path.h"
#include "step_until.h"

namespace kova::test {
namespace {

const std::string kStartLines =
    "\n======Load upgarde file ... Successful !======"
    "\n======KOVA Firmware Upgrade ... start !======"
    "\nOld platform"
    "\n======KOVA : Application firmware upgrade ... Start !======";
const std::string kUpToErase =
    "\n======(3). Device identify request ...Successful !======"
    "\n======(4). Device identify request ...Successful !======"
    "\n======(5). Bootloader firmware version request ..."
    "\n           Bootloader is 3rd version(v1.234) !"
    "\n======(6). Erase ... Successful !======"
    "\n======(7). Program ... Successful !======";

TEST_F(AppUpgradeTest, WholeUpgradeWritesTheRegionAndShowsEveryStep) {
  struct Case {
    bool synchronized;
    std::string steps;
  } cases[] = {
      {false,
       "\n======(1). Upgrade request ... Successful !======"
       "\n======(2). Upgrade synchronized ... Successful !======"},
      {true, "\n======(1). Upgrade request ... Successful !======"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.synchronized);
    IspBoardPeer peer(*net);
    peer.alreadySynchronized = c.synchronized;
    const Bytes before = peer.Flash();
    bool entryWhileRunning = false;
    peer.script = [&](int index, const std::string&, std::vector<std::string>&) {
      if (index == 0) {
        const NeighbourEntry* row = Entry();
        entryWhileRunning = row != nullptr && row->Permanent() && row->mac == kBoardMAC;
      }
      return false;
    };
    panel.list.clear();
    panel.boxes.clear();
    Upgrade();

    EXPECT_EQ(engine.LastOutcome(), STEP_OK);
    EXPECT_EQ(panel.list, kStartLines + c.steps + kUpToErase + "Successful !======");
    ASSERT_EQ(panel.boxes.size(), 2u);
    EXPECT_EQ(panel.boxes[1].text, "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
    EXPECT_EQ(panel.gauge.back(), 100);
    // The image, then erased flash to the end of the region; the bootloader
    // untouched.
    const Bytes flash = peer.Flash();
    Bytes region(op.Buf.AppImage.get(), op.Buf.AppImage.get() + 0x7D000);
    region.resize(kRegion, 0xFF);
    EXPECT_TRUE(std::equal(flash.begin() + 8192, flash.end(), region.begin()));
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 8192, before.begin()));
    EXPECT_TRUE(entryWhileRunning);
    EXPECT_EQ(neighbours->RowCount(), 0u) << "the entry is removed when the upgrade ends";
    EXPECT_EQ(op.Entry.StaticArpAdded, 0);
    EXPECT_EQ(net->OpenCount(), 0);
  }
}

TEST_F(AppUpgradeTest, FailedStepIsFollowedByTheUpgradesOwnVerdict) {
  board.script = [](int, const std::string& line, std::vector<std::string>& out) {
    out.clear();
    return line == "J";
  };
  Upgrade();
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
  EXPECT_EQ(panel.list, kStartLines +
                            "\n======(1). Upgrade request ... Successful !======"
                            "\n======(2). Upgrade synchronized ... Successful !======"
                            "\n======(3). Device identify request ...Failed !======Failed !======");
  EXPECT_EQ(panel.boxes.back().text, "\nKOVA firmware upgrade ... Failed !");
  EXPECT_EQ(neighbours->RowCount(), 0u);
  EXPECT_EQ(net->OpenCount(), 0);
}

// Without its entry or its socket the upgrade ends right after its start line,
// before a line reaches the bootloader.
TEST_F(AppUpgradeTest, UpgradeFailsBeforeTheDialogueWithoutEntryOrSocket) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"entry refused", [this] { neighbours->addError = host_error::kNotPermitted; }},
      {"entry not found afterwards", [this] { neighbours->dumpError = EIO; }},
      {"socket not made",
       [this] {
         // The platform check's broadcast socket is made; the bootloader's
         // socket, the next one, is not.
         net->peer = [this, answer = net->peer](const FakeNet::Datagram& d) {
           answer(d);
           net->failOpen = true;
         };
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    neighbours->addError = 0;
    neighbours->dumpError = 0;
    c.arrange();
    panel.list.clear();
    Upgrade();
    net->failOpen = false;
    board.Attach();
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
    EXPECT_EQ(panel.list, kStartLines + "Failed !======");
    EXPECT_TRUE(board.Lines().empty());
    EXPECT_EQ(neighbours->RowCount(), 0u);
  }
}

// The host's refusal names no privilege. When it is this process that lacks
// the capability, the operator is told which one and how to get it; a
// refusal for another reason gets no such advice.
TEST_F(AppUpgradeTest, ARefusalForWantOfACapabilityNamesIt) {
  struct Case {
    const char* what;
    int error;    // the neighbour entry's
    int missing;  // the capability the process lacks, -1 none
    int named;    // the capability the list names, -1 none
  } cases[] = {
      {"entry refused, cap_net_admin missing", host_error::kNotPermitted, kCapNetAdmin,
       kCapNetAdmin},
      {"entry refused (EACCES), cap_net_admin missing", host_error::kDenied, kCapNetAdmin,
       kCapNetAdmin},
      {"entry refused, cap_net_admin held", host_error::kNotPermitted, -1, -1},
      {"entry failing otherwise", ENOBUFS, -1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    neighbours->addError = c.error;
    neighbours->missingCapabilities.clear();
    if (c.missing >= 0) {
      neighbours->missingCapabilities.insert(c.missing);
    }
    panel.list.clear();
    Upgrade();
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
    for (int cap : {kCapNetAdmin, kCapNetBindService}) {
      const std::string advice = MissingCapabilityText(cap);
      EXPECT_EQ(panel.list.find(advice) != std::string::npos, cap == c.named)
          << CapabilityName(cap) << " in: " << panel.list;
    }
    EXPECT_EQ(neighbours->RowCount(), 0u);
  }
}

// An image is programmed over the whole region, so what an earlier, longer
// image left in the buffer must not follow a shorter one; and an image longer
// than the region is refused unless what would be cut is erased flash.
TEST_F(AppUpgradeTest, RegionHoldsExactlyTheImageAndNothingIsCutSilently) {
  struct Case {
    const char* what;
    size_t size;
    uint8_t tail;
    bool succeeds;
  } cases[] = {
      {"shorter after longer", 0x7D000, 0, true},
      {"longer, erased tail", kRegion + 4096, 0xFF, true},
      {"longer", kRegion + 4096, 0x00, false},
  };
  WriteImage(kRegion + 8192, 0x11);  // fills the whole buffer's region
  ASSERT_TRUE(engine.PostAction(kActionGetVersion));
  TicksUntil(
      engine, [this] { engine.RunPass(); }, [this] { return engine.OperationsEnded() == 1; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IspBoardPeer peer(*net);
    peer.alreadySynchronized = true;
    const Bytes image = WriteImage(c.size, c.tail);
    panel.list.clear();
    panel.recordTraces = true;
    const size_t sentBefore = net->Sent().size();
    const int addsBefore = neighbours->adds;
    if (c.succeeds) {
      panel.recordTraces = false;
    }
    Upgrade();
    EXPECT_EQ(engine.LastOutcome(), c.succeeds ? STEP_OK : STEP_FAIL);
    if (c.succeeds) {
      Bytes region(image.begin(), image.begin() + std::min(image.size(), kRegion));
      region.resize(kRegion, 0xFF);
      const Bytes flash = peer.Flash();
      EXPECT_TRUE(std::equal(flash.begin() + 8192, flash.end(), region.begin()));
    } else {
      EXPECT_EQ(panel.list,
                "\n======Load upgarde file ... Successful !======"
                "\n======KOVA Firmware Upgrade ... start !======"
                "\nOld platform"
                "\nApplication firmware (520192 bytes) is larger than the flash "
                "(516096 bytes) !");
      EXPECT_EQ(net->Sent().size(), sentBefore + 1) << "only the platform check";
      EXPECT_EQ(neighbours->adds, addsBefore);
      EXPECT_TRUE(peer.Lines().empty());
    }
  }
}

TEST_F(AppUpgradeTest, OversizedImageWithAnErasedTailIsTraced) {
  WriteImage(kRegion + 4096, 0xFF);
  AnswerOnlyFirstLine(board);
  panel.recordTraces = true;
  Upgrade();
  EXPECT_TRUE(
      Traced("\nApplication firmware (520192 bytes): the 4096 bytes past the flash "
             "(516096 bytes) are 0xFF and are not programmed !"));
  EXPECT_EQ(board.Lines().size(), 2u) << "the dialogue ran";
}

// Every board is given the same derived address: a permanent entry left for
// it by another board is replaced and removed at the end like the tool's own,
// and the board's own is taken as made (and removed at the end as well).
TEST_F(AppUpgradeTest, ExistingPermanentEntryIsTakenOnlyWithTheBoardsMac) {
  struct Case {
    std::array<uint8_t, 6> mac;
    std::string trace;
  } cases[] = {
      {kOtherMAC,
       "\nStatic IP Address (192.168.100.2) was bound to 02:00:00:00:00:99 ... "
       "replaced !"},
      {kBoardMAC, "\nStatic IP Address (192.168.100.2) is already exist !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trace);
    neighbours->Put(2, kBoardIP, c.mac, true);
    std::array<uint8_t, 6> macWhileRunning{};
    AnswerOnlyFirstLine(board, [&] { macWhileRunning = Entry() ? Entry()->mac : kOtherMAC; });
    panel.traces.clear();
    panel.recordTraces = true;
    Upgrade();
    EXPECT_EQ(macWhileRunning, kBoardMAC);
    EXPECT_TRUE(Traced(c.trace));
    EXPECT_EQ(neighbours->RowCount(), 0u);
  }
}

// An entry whose removal kept failing is still recorded when the next upgrade
// starts: it is kept when it is the very entry this upgrade needs, removed
// first when it is another, and the upgrade does not start while it stays.
TEST_F(AppUpgradeTest, EntryOfAnEarlierOperationIsNeverForgotten) {
  struct Case {
    const char* what;
    std::string secondMac;  // the MAC typed for the second upgrade
    bool removable;
    int adds;  // entries made by both upgrades
    bool dialogue;
  } cases[] = {
      {"the same entry", "5E", false, 1, true},
      {"another board", "5F", true, 2, true},
      {"another board, removal still failing", "5F", false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    neighbours->rows.clear();
    neighbours->adds = 0;
    neighbours->deleteError = host_error::kNotPermitted;
    panel.inputs.macFields[5] = "5E";
    board.Attach();
    AnswerOnlyFirstLine(board);
    Upgrade();
    ASSERT_EQ(op.Entry.StaticArpAdded, 1) << "the removal failed";

    IspBoardPeer peer(*net);
    AnswerOnlyFirstLine(peer);
    neighbours->deleteError = c.removable ? 0 : host_error::kNotPermitted;
    panel.inputs.macFields[5] = c.secondMac;
    Upgrade();
    EXPECT_EQ(neighbours->adds, c.adds);
    EXPECT_EQ(!peer.Lines().empty(), c.dialogue);
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);

    neighbours->deleteError = 0;
    engine.RunPass();
    EXPECT_EQ(neighbours->RowCount(), 0u) << "nothing the tool made is left";
    EXPECT_EQ(op.Entry.StaticArpAdded, 0);
  }
}

// The entry is removed on the interface it was made on, whatever the route
// does meanwhile; an interface that is gone took the entry with it.
TEST_F(AppUpgradeTest, EntryIsRemovedWhereItWasMade) {
  struct Case {
    const char* what;
    std::function<void()> meanwhile;
    std::string trace;
  } cases[] = {
      {"route moved to another link", [this] { neighbours->MoveRoute(3); },
       "\nDelete static IP Address (192.168.100.2) ... Successful !"},
      {"interface unplugged",
       [this] {
         neighbours->RemoveInterface(2);
         neighbours->routeError = host_error::kUnreachable;
       },
       "\n    Interface 2 is gone, and its entries with it !"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeNeighbourTable* table = neighbours;
    table->rows.clear();
    table->goneInterfaces.clear();
    table->routeIfindex = 2;
    table->routeError = 0;
    panel.traces.clear();
    panel.recordTraces = true;
    AnswerOnlyFirstLine(board, c.meanwhile);
    Upgrade();
    EXPECT_EQ(op.Entry.StaticArpAdded, 0);
    EXPECT_TRUE(table->rows.empty());
    EXPECT_TRUE(Traced(c.trace));
  }
}

// Why an upgrade failed is told by the machine that saw it, not read from
// the texts; the first reason of an operation stays.
TEST_F(AppUpgradeTest, FailureReasonNamesWhatStoppedTheUpgrade) {
  using Script = std::function<bool(int, const std::string&, std::vector<std::string>&)>;
  const Script silentAtJ = [](int, const std::string& line, std::vector<std::string>& out) {
    out.clear();
    return line == "J";
  };
  const Script wrongAtJ = [](int, const std::string& line, std::vector<std::string>& out) {
    out = {"what?\r\n"};
    return line == "J";
  };
  struct Case {
    const char* what;
    std::function<void()> arrange;
    FailReason reason;
  } cases[] = {
      {"programmed", [] {}, FailReason::kNone},
      {"entry refused", [this] { neighbours->addError = host_error::kNotPermitted; },
       FailReason::kNeighbourDenied},
      {"entry not found afterwards", [this] { neighbours->dumpError = EIO; },
       FailReason::kNeighbourFailed},
      {"a line unanswered", [&] { board.script = silentAtJ; }, FailReason::kNoReply},
      {"a line answered wrongly", [&] { board.script = wrongAtJ; }, FailReason::kUnexpectedReply},
      {"four RESENDs", [this] { board.resendFirst = 4; }, FailReason::kResendLimit},
      {"the board's record unanswered", [this] { net->peer = nullptr; }, FailReason::kNoReply},
      {"the new platform's image", [this] { dir.WriteImage(false, true); },
       FailReason::kBadSignature},
      {"no configuration", [this] { std::remove((dir.path() + "/KOVA_Config.cfg").c_str()); },
       FailReason::kLoadFailed},
      {"no MAC", [this] { panel.inputs.macFields = {"", "", "", "", "", ""}; },
       FailReason::kBadInput},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    panel.ended.clear();
    Upgrade();
    EXPECT_EQ(engine.LastReason(), c.reason) << FailReasonName(engine.LastReason());
    EXPECT_EQ(engine.LastOutcome(), c.reason == FailReason::kNone ? STEP_OK : STEP_FAIL);
    ASSERT_EQ(panel.ended.size(), 1u);
    EXPECT_EQ(panel.ended[0].second, c.reason);
    // As it was for the next case.
    neighbours->addError = 0;
    neighbours->dumpError = 0;
    board.script = nullptr;
    board.resendFirst = 0;
    board.Attach();
    dir.WriteConfig("DISABLE");
    WriteImage(0x7D000);
    panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  }
}

// --retries: a road that failed once the bootloader answered runs again
// from it, its first request asked again until the board answers; what
// failed before the bootloader, or on the host, is not tried again.
TEST_F(AppUpgradeTest, FailureInTheBootloaderIsTriedAgainWithinTheRetries) {
  // Silent at the first `js` "J" lines and, after the first of them, at the
  // next `questions` "?" lines.
  const auto silence = [this](int js, int questions) {
    board.script = [js, questions, silentJ = 0, silentQ = 0](
                       int, const std::string& line, std::vector<std::string>& out) mutable {
      const bool quiet =
          (line == "J" && silentJ < js) || (line == "?" && silentJ > 0 && silentQ++ < questions);
      silentJ += (line == "J" && silentJ < js) ? 1 : 0;
      if (quiet) {
        out.clear();
      }
      return quiet;
    };
  };
  const struct {
    const char* what;
    std::function<void()> arrange;
    int retries;
    FailReason reason;
    std::vector<std::string> attempts;
  } cases[] = {
      {"J unanswered once", [&] { silence(1, 0); }, 1, FailReason::kNone, {"2/2 no-reply"}},
      {"J unanswered once, no retry", [&] { silence(1, 0); }, 0, FailReason::kNoReply, {}},
      {"J never answered",
       [&] { silence(99, 0); },
       2,
       FailReason::kNoReply,
       {"2/3 no-reply", "3/3 no-reply"}},
      {"the bootloader back after two requests",
       [&] { silence(1, 2); },
       1,
       FailReason::kNone,
       {"2/2 no-reply"}},
      // The bootloader waits for the half again after its last RESEND, taking
      // every line as data: only a restart brings it back.
      {"four RESENDs, restarted by hand",
       [this] {
         board.resendFirst = 4;
         board.script = [this, questions = 0](int, const std::string& line,
                                              std::vector<std::string>&) mutable {
           if (line == "?" && ++questions == 3) {
             board.PowerCycle();
           }
           return false;
         };
       },
       1,
       FailReason::kNone,
       {"2/2 resend-limit"}},
      {"four RESENDs, never restarted",
       [this] { board.resendFirst = 4; },
       1,
       FailReason::kNoReply,
       {"2/2 resend-limit"}},
      {"the bootloader never answered",
       [this] {
         board.script = [](int, const std::string& line, std::vector<std::string>& out) {
           out.clear();
           return line == "?";
         };
       },
       2,
       FailReason::kNoReply,
       {}},
      {"entry refused",
       [this] { neighbours->addError = host_error::kNotPermitted; },
       2,
       FailReason::kNeighbourDenied,
       {}},
      {"the new platform's image",
       [this] { dir.WriteImage(false, true); },
       2,
       FailReason::kBadSignature,
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    engine.SetRetries(c.retries);
    panel.attemptsStarted.clear();
    panel.list.clear();
    Upgrade();
    EXPECT_EQ(engine.LastReason(), c.reason) << FailReasonName(engine.LastReason());
    EXPECT_EQ(panel.attemptsStarted, c.attempts);
    // Each attempt is on the message list, and the verdict follows the last.
    for (size_t i = 0; i < c.attempts.size(); ++i) {
      EXPECT_NE(panel.list.find(Format("\n======KOVA : Attempt %zu of %zu (the last one: ", i + 2,
                                       c.attempts.size() + 1)),
                std::string::npos);
    }
    EXPECT_EQ(panel.boxes.back().text,
              c.reason == FailReason::kNone
                  ? "\nKOVA firmware upgrade ... Successful !\nPower Restart !"
                  : "\nKOVA firmware upgrade ... Failed !");
    EXPECT_EQ(neighbours->RowCount(), 0u);
    EXPECT_EQ(net->OpenCount(), 0);
    neighbours->addError = 0;
    board.script = nullptr;
    board.resendFirst = 0;
    board.Attach();
    WriteImage(0x7D000);
  }
}

TEST_F(AppUpgradeTest, PhasesCarryTheBoardOnceKnownAndWhatProgrammingSends) {
  Upgrade();
  ASSERT_EQ(engine.LastOutcome(), STEP_OK);
  EXPECT_EQ(panel.PhaseNames(),
            (std::vector<std::string>{"load", "identify", "erase", "program", "done"}));
  EXPECT_FALSE(panel.phases[0].macKnown);
  EXPECT_FALSE(panel.phases[0].addressKnown);
  for (size_t i = 1; i < panel.phases.size(); ++i) {
    EXPECT_TRUE(panel.phases[i].macKnown);
    EXPECT_EQ(panel.phases[i].mac, kBoardMAC);
    EXPECT_EQ(panel.phases[i].address, kBoardIP);
  }
  EXPECT_EQ(panel.phases[3].imageBytes, kRegion);
  EXPECT_EQ(panel.phases[2].imageBytes, 0u);
}

// The dry run reads the board's record and version and tells the plan; it
// makes no neighbour entry and sends the bootloader nothing.
TEST_F(AppUpgradeTest, DryRunTellsThePlanAndLeavesTheBoardAlone) {
  Upgrade(kActionDryRun);
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  ASSERT_EQ(panel.plans.size(), 1u);
  const UpgradePlan& plan = panel.plans[0];
  EXPECT_EQ(plan.jumpSetting, 3);
  EXPECT_FALSE(plan.newPlatform);
  EXPECT_FALSE(plan.versionKnown) << "this board answers no version request";
  EXPECT_EQ(plan.imageBytes, 0x7D000u);
  EXPECT_EQ(plan.bytesToSend, kRegion);
  EXPECT_EQ(plan.mac, kBoardMAC);
  EXPECT_EQ(plan.address, kBoardIP);
  EXPECT_TRUE(board.Lines().empty());
  EXPECT_EQ(neighbours->adds, 0);
  EXPECT_EQ(panel.list.find("start !"), std::string::npos) << panel.list;
  EXPECT_EQ(panel.PhaseNames(), (std::vector<std::string>{"load", "identify", "done"}));

  // An image the board cannot take fails the dry run as it would the upgrade.
  dir.WriteImage(false, true);
  Upgrade(kActionDryRun);
  EXPECT_EQ(engine.LastReason(), FailReason::kBadSignature);
  EXPECT_EQ(panel.plans.size(), 1u);
}

}  // namespace
}  // namespace kova::test
