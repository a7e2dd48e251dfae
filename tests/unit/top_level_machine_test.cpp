#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "hostnet/capabilities.h"
#include "platform/host_errors.h"

namespace kova::test {
namespace {

// A maintenance machine that takes two passes per request and answers with
// a fixed result; for the platform mark it fills the record's check code.
struct ScriptedChannel {
  std::vector<int32_t> ops;
  int32_t result = 1;
  uint8_t checkCode[2] = {0, 0};
  int passes = 0;
};

std::function<bool(Operation&)> VerCfgScript(ScriptedChannel& s) {
  return [&s](Operation& e) {
    if (e.VerCfg.State == 1) {
      s.ops.push_back(e.VerCfg.Op);
      e.VerCfg.Done = 0;
      e.VerCfg.State = 2;
      s.passes = 0;
    } else if (e.VerCfg.State == 2 && ++s.passes == 2) {
      if (e.VerCfg.Op == 7) {
        e.Buf.DeviceRecord_Set(15, s.checkCode[0]);
        e.Buf.DeviceRecord_Set(16, s.checkCode[1]);
      }
      e.VerCfg.Done = s.result;
      e.VerCfg.State = 0;
    }
    return true;
  };
}

std::function<bool(Operation&)> EepromScript(ScriptedChannel& s) {
  return [&s](Operation& e) {
    if (e.Eeprom.State == 1) {
      s.ops.push_back(e.Eeprom.Op);
      e.Eeprom.Done = s.result;
      e.Eeprom.State = 0;
    }
    return true;
  };
}

// A procedure that announces itself, takes three calls and ends as told.
std::function<bool(Operation&)> ScriptedProcedure(int number, std::vector<int>& ran,
                                                  int verdict = 1) {
  return [number, &ran, verdict](Operation& e) {
    switch (e.Step.Busy) {
      case 0:
        break;
      case 1:
        ran.push_back(number);
        e.Log.Say(1, "\n[step " + std::to_string(number) + "]");
        e.Step.Done = 0;
        e.Step.Busy = 2;
        break;
      case 2:
        e.Step.Busy = 3;
        break;
      case 3:
        e.Step.Done = verdict;
        e.Step.Busy = 0;
        break;
      default:
        e.Step.Busy = 0;
    }
    return true;
  };
}

class TopLevelTest : public EngineTest {
 protected:
  void ScriptEverything(int procedureVerdict = 1) {
    machines.VerCfg = VerCfgScript(verCfg);
    machines.Eeprom = EepromScript(eeprom);
    for (int i = 0; i < 5; ++i) {
      machines.Procedures[i] = ScriptedProcedure(i, ran, procedureVerdict);
    }
  }

  ScriptedChannel verCfg;
  ScriptedChannel eeprom;
  std::vector<int> ran;
};

TEST_F(TopLevelTest, StartUpPassTracesTheThreadAndGoesIdle) {
  StartUp();
  EXPECT_EQ(panel.clears, 1);
  ASSERT_FALSE(panel.traces.empty());
  EXPECT_EQ(panel.traces.front(), "Created MainThread() ... successful !");
  EXPECT_TRUE(panel.list.empty());
  EXPECT_EQ(link.NetStarted, 1);
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(engine).load(), 5);
}

TEST_F(TopLevelTest, PressWhileBusyIsIgnoredAndChangesNothing) {
  EXPECT_FALSE(engine.PostAction(kActionGetVersion)) << "state 1 is not idle";
  StartUp();
  panel.inputs.ipField = "10.0.0.1";
  ASSERT_TRUE(engine.PostAction(kActionGetModelName));
  panel.inputs.ipField = "10.0.0.2";
  EXPECT_FALSE(engine.PostAction(kActionConfigReset));
  EXPECT_EQ(EngineTestAccess::ActionCode(engine).load(), kActionGetModelName);
  EXPECT_EQ(EngineTestAccess::Inputs(engine).ipField, "10.0.0.1");
  EXPECT_EQ(mainState.load(), 2);
}

TEST_F(TopLevelTest, AcceptedPressSurvivesTheIdleStep) {
  StartUp();
  ASSERT_TRUE(engine.PostAction(kActionGetVersion));
  // The pass that follows must take the posted start, not overwrite it with idle.
  engine.MainStep();
  EXPECT_NE(mainState.load(), 0);
}

TEST_F(TopLevelTest, UpgradeWithJumpRunsStepsZeroOneThreeOnAnOldBoard) {
  ScriptEverything();
  dir.WriteConfig("ENABLE");
  dir.WriteImage(/*old*/ true, /*new*/ false);
  StartUp();
  RunAction(kActionUpgrade);
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 3}));
  EXPECT_EQ(verCfg.ops, (std::vector<int32_t>{7}));
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  EXPECT_EQ(op.NewPlatform, 0);
  EXPECT_EQ(op.Buf.DeviceRecord_Get(13), 0xFE);
  EXPECT_EQ(op.Buf.DeviceRecord_Get(14), 0x02);
  EXPECT_EQ(panel.list,
            "\n======Load upgarde file ... Successful !======"
            "\n======KOVA Firmware Upgrade ... start !======"
            "\nOld platform"
            "\n[step 0]\n[step 1]\n[step 3]");
  ASSERT_EQ(panel.boxes.size(), 2u);
  EXPECT_EQ(panel.boxes[0].text, "\nOld platform");
  EXPECT_EQ(panel.boxes[0].caption, "... KOVA checkcode");
  EXPECT_EQ(panel.boxes[1].text, "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
  EXPECT_EQ(panel.boxes[1].caption, "KOVA Upgrade...");
  // The device address follows the host's; buttons locked during, released after.
  EXPECT_EQ(op.DeviceIP[3], 2);
  EXPECT_EQ(panel.buttonCalls, (std::vector<bool>{false, true}));
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(engine).load(), 5);
}

// Without the right to make the board's neighbour entry (cap_net_admin on
// Linux, an elevated process on Windows) an upgrade that would need it
// fails before it sends anything: a board jumped into its bootloader and
// then left there would be worse off than before. The remote road needs no
// entry and goes on.
TEST_F(TopLevelTest, UpgradeWithoutTheRightForTheEntryFailsBeforeTouchingTheBoard) {
  struct Case {
    const char* jump;
    bool refused;
  } cases[] = {{"ENABLE", true}, {"DISABLE", true}, {"REMOTE", false}};
  ScriptEverything();
  neighbours->missingCapabilities.insert(kCapNetAdmin);
  dir.WriteImage(true, false);
  StartUp();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.jump);
    dir.WriteConfig(c.jump);
    ran.clear();
    verCfg.ops.clear();
    panel.boxes.clear();
    RunAction(kActionUpgrade);
    if (!c.refused) {
      EXPECT_EQ(ran, (std::vector<int>{4}));
      continue;
    }
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(verCfg.ops.empty()) << "the board was asked for its platform";
    EXPECT_TRUE(net->Sent().empty());
    EXPECT_EQ(neighbours->adds, 0);
    EXPECT_EQ(engine.LastReason(), FailReason::kNeighbourDenied);
    std::vector<std::string> texts;
    for (const auto& box : panel.boxes) {
      texts.push_back(box.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"\nERROR_ACCESS_DENIED (User is not Administrator) !",
                                        "\nERROR (5) !", "\nKOVA firmware upgrade ... Failed !"}));
    EXPECT_NE(panel.list.find(MissingCapabilityText(kCapNetAdmin)), std::string::npos);
  }
}

// A new-platform board fetches its image from the tool's boot server. A port
// the server cannot have (held by another server, or refused for want of
// cap_net_bind_service) fails the upgrade right after the platform box,
// with the server's own lines, before the jump would leave the board in its
// bootloader; the ports are closed again either way.
TEST_F(TopLevelTest, BootServerPortsAreTriedBeforeTheJump) {
  const struct {
    uint16_t refusedPort;  // 0: none
    int error;
    bool capability;
    FailReason reason;
    const char* line;
  } cases[] = {
      {0, 0, true, FailReason::kNone, nullptr},
      {67, host_error::kSocketDenied, false, FailReason::kPortDenied,
       "\n    Boot server: cannot open the BOOTP port 67 on eth1 (another DHCP or BOOTP server "
       "may hold the port) ! "},
      {69, host_error::kAddressInUse, true, FailReason::kPortInUse,
       "\n    Boot server: cannot open the TFTP port 69 on eth1 (another TFTP server may hold "
       "the port) ! "},
  };
  StartUp();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusedPort);
    ScriptEverything();
    verCfg.checkCode[0] = 0xAA;
    verCfg.checkCode[1] = 0x55;
    dir.WriteConfig("ENABLE");
    dir.WriteImage(false, true);
    net->refuseOpen = [&c](const UdpSocketSpec& spec) { return spec.local.port == c.refusedPort; };
    net->openError = c.error;
    neighbours->missingCapabilities.clear();
    if (!c.capability) {
      neighbours->missingCapabilities.insert(kCapNetBindService);
    }
    ran.clear();
    panel.boxes.clear();
    panel.list.clear();
    RunAction(kActionUpgrade);
    if (c.line == nullptr) {
      EXPECT_EQ(ran, (std::vector<int>{0, 1, 3}));
      continue;
    }
    EXPECT_TRUE(ran.empty()) << "the board was told to jump";
    EXPECT_EQ(engine.LastReason(), c.reason);
    ASSERT_EQ(panel.boxes.size(), 2u);
    EXPECT_EQ(panel.boxes[0].text, "\nNew platform");
    EXPECT_EQ(panel.boxes[1].text, "\nKOVA firmware upgrade ... Failed !");
    EXPECT_NE(panel.list.find(c.line), std::string::npos) << panel.list;
    EXPECT_EQ(panel.list.find(MissingCapabilityText(kCapNetBindService)) != std::string::npos,
              !c.capability);
    for (const int handle : net->opened) {
      EXPECT_FALSE(net->IsOpen(handle));
    }
  }
}

TEST_F(TopLevelTest, UpgradeWithoutJumpRunsOnlyTheApplicationStep) {
  ScriptEverything();
  dir.WriteConfig("DISABLE");
  dir.WriteImage(true, false);
  StartUp();
  RunAction(kActionUpgrade);
  EXPECT_EQ(ran, (std::vector<int>{3}));
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
}

TEST_F(TopLevelTest, RemoteUpdateSkipsStartLineAndPlatformCheck) {
  ScriptEverything();
  dir.WriteConfig("REMOTE");
  dir.WriteImage(false, false);
  StartUp();
  RunAction(kActionUpgrade);
  EXPECT_EQ(ran, (std::vector<int>{4}));
  EXPECT_TRUE(verCfg.ops.empty());
  EXPECT_EQ(panel.list, "\n======Load upgarde file ... Successful !======\n[step 4]");
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
}

TEST_F(TopLevelTest, PlatformCheckDecidesWhichSignatureTheImageNeeds) {
  struct Case {
    uint8_t code0, code1;
    bool oldSig, newSig;
    const char* line;
    uint8_t outcome;
  };
  const Case cases[] = {
      {0xAA, 0x55, false, true, "\nNew platform", STEP_OK},
      {0xAA, 0x55, true, false, "\nNew platform", STEP_FAIL},
      {0x00, 0x00, true, false, "\nOld platform", STEP_OK},
      {0xAA, 0x00, false, true, "\nOld platform", STEP_FAIL},
      {0xFF, 0xFF, true, true, "\nOld platform", STEP_OK},
  };
  StartUp();
  for (const Case& c : cases) {
    ScriptEverything();
    verCfg.checkCode[0] = c.code0;
    verCfg.checkCode[1] = c.code1;
    dir.WriteConfig("DISABLE");
    dir.WriteImage(c.oldSig, c.newSig);
    panel.boxes.clear();
    ran.clear();
    RunAction(kActionUpgrade);
    ASSERT_EQ(panel.boxes.size(), 2u) << c.line;
    EXPECT_EQ(panel.boxes[0].text, c.line);
    EXPECT_EQ(panel.boxes[0].caption, "... KOVA checkcode");
    EXPECT_EQ(engine.LastOutcome(), c.outcome) << c.line;
    EXPECT_EQ(ran.empty(), c.outcome == STEP_FAIL) << "no step may run on a wrong image";
    if (c.outcome == STEP_FAIL) {
      EXPECT_EQ(panel.boxes[1].text, "\nKOVA firmware upgrade ... Failed !");
    }
  }
}

TEST_F(TopLevelTest, UnreadablePlatformMarkFailsBeforeAnyStep) {
  ScriptEverything();
  verCfg.result = 0;
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, true);
  StartUp();
  RunAction(kActionUpgrade);
  EXPECT_TRUE(ran.empty());
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, "\nKOVA firmware upgrade ... Failed !");
  EXPECT_EQ(panel.boxes[0].caption, "KOVA Upgrade...");
}

TEST_F(TopLevelTest, FailingStepEndsTheUpgradeThere) {
  ScriptEverything(/*procedureVerdict*/ 0);
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  StartUp();
  RunAction(kActionUpgrade);
  EXPECT_EQ(ran, (std::vector<int>{0}));
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
  EXPECT_EQ(panel.boxes.back().text, "\nKOVA firmware upgrade ... Failed !");
}

TEST_F(TopLevelTest, MaintenanceActionsPostTheirRequests) {
  struct Case {
    int32_t action;
    bool broadcast;
    int32_t op;
  };
  const Case cases[] = {
      {kActionGetVersion, true, 1},     {kActionConfigReset, true, 6},
      {kActionGetModelName, false, 31}, {kActionSetModelName, false, 32},
      {kActionGetEeprom, false, 29},
  };
  ScriptEverything();
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  panel.inputs.ipField = "10.1.2.3";
  StartUp();
  for (const Case& c : cases) {
    verCfg.ops.clear();
    eeprom.ops.clear();
    panel.boxes.clear();
    RunAction(c.action);
    EXPECT_EQ(c.broadcast ? verCfg.ops : eeprom.ops, (std::vector<int32_t>{c.op}));
    EXPECT_TRUE((c.broadcast ? eeprom.ops : verCfg.ops).empty());
    EXPECT_EQ(engine.LastOutcome(), STEP_OK);
    EXPECT_TRUE(panel.boxes.empty()) << "only the upgrade reports success in a box";
    const uint8_t expectLast = c.broadcast ? 2 : 3;
    EXPECT_EQ(op.DeviceIP[3], expectLast);
  }
  EXPECT_TRUE(ran.empty());
}

TEST_F(TopLevelTest, MaintenanceFailureShowsTheShortFailureBox) {
  ScriptEverything();
  verCfg.result = 0;
  dir.WriteConfig("ENABLE");
  StartUp();
  RunAction(kActionConfigReset);
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, "\n ... Failed !");
  EXPECT_EQ(panel.boxes[0].caption, "KOVA Upgrade...");
}

TEST_F(TopLevelTest, InputErrorsFailInStateThreeWithoutSendingAnything) {
  struct Case {
    const char* what;
    int32_t action;
    std::array<std::string, 6> mac;
    const char* ip;
    int32_t interfaces;
  };
  const Case cases[] = {
      {"empty MAC field", kActionGetVersion, {"00", "", "2B", "3C", "4D", "5E"}, "1.2.3.4", 1},
      {"all-zero MAC", kActionUpgrade, {"0", "0", "0", "0", "0", "0"}, "1.2.3.4", 1},
      {"MAC with a typo", kActionGetVersion, {"00", "1A", "2B", "3C", "4D", "5Z"}, "1.2.3.4", 1},
      {"no interface", kActionGetVersion, {"00", "1A", "2B", "3C", "4D", "5E"}, "1.2.3.4", 0},
      {"IP not parsed", kActionGetModelName, {"00", "1A", "2B", "3C", "4D", "5E"}, "1.2.3", 1},
      {"IP octet too big", kActionGetEeprom, {"00", "1A", "2B", "3C", "4D", "5E"}, "1.2.3.300", 1},
      {"unknown action", 5, {"00", "1A", "2B", "3C", "4D", "5E"}, "1.2.3.4", 1},
  };
  ScriptEverything();
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  StartUp();
  for (const Case& c : cases) {
    verCfg.ops.clear();
    eeprom.ops.clear();
    panel.boxes.clear();
    panel.inputs.macFields = c.mac;
    panel.inputs.ipField = c.ip;
    engine.SetInterfaceCount(c.interfaces);
    op.DeviceIP[3] = 77;
    RunAction(c.action);
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL) << c.what;
    EXPECT_TRUE(verCfg.ops.empty() && eeprom.ops.empty()) << c.what;
    ASSERT_EQ(panel.boxes.size(), 1u) << c.what;
    EXPECT_EQ(op.DeviceIP[3], 77) << c.what;
  }
}

TEST_F(TopLevelTest, MissingConfigurationFailsAtOnceWithButtonsNeverDisabled) {
  ScriptEverything();
  StartUp();
  RunAction(kActionGetVersion);
  EXPECT_EQ(panel.list, "\n======Load upgarde file ... Failed !======");
  ASSERT_EQ(panel.boxes.size(), 1u);
  EXPECT_EQ(panel.boxes[0].text, "\n ... Failed !");
  EXPECT_TRUE(panel.buttonCalls.empty());
  EXPECT_TRUE(verCfg.ops.empty());
}

TEST_F(TopLevelTest, SilentBoardFailsTheUpgradeAtThePlatformCheckAndTheRemoteRoadAtOnce) {
  // The engine's own machines, against a board that answers nothing.
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, true);
  StartUp();
  RunAction(kActionUpgrade, 100);
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
  ASSERT_EQ(panel.boxes.size(), 1u) << "no platform box: the mark could not be read";
  EXPECT_EQ(panel.boxes[0].text, "\nKOVA firmware upgrade ... Failed !");

  dir.WriteConfig("REMOTE");
  panel.boxes.clear();
  RunAction(kActionUpgrade, 100);
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
  EXPECT_EQ(dispatcher.ProcDone, 0);
}

TEST_F(TopLevelTest, DelayChoiceActsOnlyWhileAnOperationRuns) {
  StartUp();
  engine.DelayChoiceChanged(12);
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(engine).load(), 5);
  EXPECT_EQ(link.RecvThreadDelay.load(), 5);

  ScriptEverything();
  dir.WriteConfig("ENABLE");
  panel.inputs.delayIndex = 7;
  ASSERT_TRUE(engine.PostAction(kActionGetVersion));
  engine.RunPass();  // state 2: the operation's delays
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(engine).load(), 7);
  EXPECT_EQ(link.RecvThreadDelay.load(), 2);
  engine.DelayChoiceChanged(12);
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(engine).load(), 12);
  EXPECT_EQ(link.RecvThreadDelay.load(), 12);
}

}  // namespace
}  // namespace kova::test
