#include <gtest/gtest.h>

#include <wx/datetime.h>

#include <fstream>
#include <iterator>
#include <string>

#include "engine_access.h"
#include "frontend/interface_lock.h"
#include "gui_support.h"

namespace kova::test {
namespace {

class DialogActionsTest : public ::testing::Test {
 protected:
  WorkDir dir;  // no KOVA_Config.cfg: every operation fails at once
};

TEST_F(DialogActionsTest, AboutShowsNameAndVersion) {
  DialogHarness ui(dir.path());
  Click(ui.Button("ID_BUTTON_About"));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "KOVA Firmware Upgrade Tool : v2.012");
  EXPECT_EQ(ui.boxes()[0].caption, "KOVA ...");
}

TEST_F(DialogActionsTest, GetVersionWithoutConfigurationFailsIntoItsBox) {
  std::string listAtBox;
  bool enabledAtBox = false;
  DialogHarness* harness = nullptr;
  DialogHarness ui(dir.path(), [&](const ShownBox&) {
    listAtBox = harness->MessageList();
    enabledAtBox = harness->EnabledOperationButtons() == 5;
  });
  harness = &ui;
  ASSERT_TRUE(ui.WaitIdle());

  Click(ui.Button("ID_BUTTON_GetAPVersion"));
  bool everDisabled = false;
  ASSERT_TRUE(PumpUntil([&] {
    everDisabled = everDisabled || ui.EnabledOperationButtons() != 5;
    return ui.engine().OperationsEnded() == 1 && ui.engine().IsIdle();
  }));
  PumpFor(50ms);

  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "\n ... Failed !");
  EXPECT_EQ(ui.boxes()[0].caption, "KOVA Upgrade...");
  // The lines issued before the box were on screen when it appeared.
  // The last of them says why, in words.
  EXPECT_EQ(listAtBox, "\n======Load upgarde file ... Failed !======\n " + dir.path() +
                           "/KOVA_Config.cfg: no such file !"
                           "\nFailed: the configuration file or an image file could not be "
                           "loaded (load-failed)");
  EXPECT_TRUE(enabledAtBox);
  EXPECT_FALSE(everDisabled);
  EXPECT_EQ(ui.EnabledOperationButtons(), 5);
  EXPECT_EQ(ui.engine().LastOutcome(), STEP_FAIL);

  Click(ui.Button("ID_BUTTON_Clear"));
  ASSERT_TRUE(PumpUntil([&] { return ui.MessageList().empty(); }));
}

TEST_F(DialogActionsTest, PressesWhileAnOperationRunsDoNothing) {
  const char* presses[] = {"ID_BUTTON_Start", "ID_BUTTON_GetAPVersion", "ID_BUTTON_ConfigReset",
                           "ID_BUTTON_FN1",   "ID_BUTTON_FN3",          "ID_BUTTON_FN4",
                           "ID_BUTTON_FN5",   "ID_BUTTON_FN6",          "ID_BUTTON_FN2",
                           "ID_BUTTON_FN10"};
  DialogHarness* harness = nullptr;
  std::string listBefore;
  std::string listAfterPresses;
  uint8_t stateInBox = 0;
  DialogHarness ui(dir.path(), [&](const ShownBox&) {
    // The worker waits in this box: its operation is still running.
    stateInBox = EngineTestAccess::MainState(harness->engine()).load();
    listBefore = harness->MessageList();
    for (const char* name : presses) {
      Click(harness->Button(name));
    }
    PumpFor(50ms);
    listAfterPresses = harness->MessageList();
  });
  harness = &ui;
  ui.Text("ID_TEXTCTRL_KOVAMACAddr1")->ChangeValue("00");
  ASSERT_TRUE(ui.WaitIdle());

  Click(ui.Button("ID_BUTTON_GetAPVersion"));
  ASSERT_TRUE(PumpUntil([&] { return ui.engine().OperationsEnded() == 1; }));
  PumpFor(300ms);

  EXPECT_EQ(stateInBox, STEP_FAIL);
  EXPECT_EQ(listAfterPresses, listBefore);
  EXPECT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.engine().OperationsEnded(), 1);
  EXPECT_TRUE(ui.engine().IsIdle());
}

TEST_F(DialogActionsTest, MacReportRunsWhileIdle) {
  DialogHarness ui(dir.path());
  const char* fields[] = {"00", "1A", "2B", "3C", "4D", "5E"};
  for (int i = 0; i < 6; ++i) {
    ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i + 1))->ChangeValue(fields[i]);
  }
  ASSERT_TRUE(ui.WaitIdle());
  Click(ui.Button("ID_BUTTON_FN6"));
  ASSERT_TRUE(PumpUntil([&] { return !ui.MessageList().empty(); }));
  EXPECT_EQ(ui.MessageList(), "\nGet_MACAddres(0-1a-2b-3c-4d-5e) ... Successful !");
}

TEST_F(DialogActionsTest, DelayChoiceTakesEffectOnlyDuringAnOperation) {
  DialogHarness* harness = nullptr;
  int32_t mainDelayInBox = -1;
  int32_t recvDelayInBox = -1;
  DialogHarness ui(dir.path(), [&](const ShownBox&) {
    Choose(harness->Choice("ID_CHOICE_DelayTimeSel"), 9);
    mainDelayInBox = EngineTestAccess::MainThreadDelay(harness->engine()).load();
    recvDelayInBox = EngineTestAccess::LinkOf(harness->engine()).RecvThreadDelay.load();
  });
  harness = &ui;
  ASSERT_TRUE(ui.WaitIdle());

  Choose(ui.Choice("ID_CHOICE_DelayTimeSel"), 7);
  EXPECT_EQ(EngineTestAccess::MainThreadDelay(ui.engine()).load(), 5);
  EXPECT_EQ(EngineTestAccess::LinkOf(ui.engine()).RecvThreadDelay.load(), 5);

  Click(ui.Button("ID_BUTTON_ConfigReset"));
  ASSERT_TRUE(PumpUntil([&] { return ui.boxes().size() == 1; }));
  EXPECT_EQ(mainDelayInBox, 9);
  EXPECT_EQ(recvDelayInBox, 9);
}

TEST_F(DialogActionsTest, QuitEndsTheDialogWithTheThreadsJoined) {
  DialogHarness ui(dir.path());
  ASSERT_TRUE(ui.WaitIdle());
  const int result = ui.RunModal([&] { Click(ui.Button("ID_BUTTON_Quit")); });
  EXPECT_EQ(result, 0);
  EXPECT_FALSE(ui.dialog().IsModal());
  EXPECT_EQ(EngineTestAccess::Worker(ui.engine()).Exited.load(), 1);
  EXPECT_FALSE(ui.dialog().UiTimerRunning());
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(DialogActionsTest, ClosingInsideAnOperationsBoxEndsEverything) {
  DialogHarness* harness = nullptr;
  DialogHarness ui(dir.path(), [&](const ShownBox&) { harness->dialog().Close(); });
  harness = &ui;
  ASSERT_TRUE(ui.WaitIdle());
  const auto start = std::chrono::steady_clock::now();
  const int result = ui.RunModal([&] { Click(ui.Button("ID_BUTTON_Start")); });
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "shutdown waited for its bound";
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(EngineTestAccess::Worker(ui.engine()).Exited.load(), 1);
  EXPECT_FALSE(ui.dialog().UiTimerRunning());
}

// An interface another program is working on is left alone: the press
// shows who holds it and posts nothing. Once free, the operation runs,
// holds the interface until it ends, and is logged.
TEST_F(DialogActionsTest, BusyInterfaceIsRefusedAndEveryOperationIsLogged) {
  DialogHarness ui(dir.path(), nullptr, [](Engine& e) {
    AdapterTable& adapters = EngineTestAccess::Adapters(e);
    adapters.AdapterDesc[0] = "kova-test0";
    adapters.AdapterIP[0] = {192, 168, 100, 1};
    adapters.Count = 1;
    e.SetInterfaceCount(1);
    e.SelectInterface(0);
  });
  ASSERT_TRUE(ui.WaitIdle());
  InterfaceLock other(ui.stateDir());
  std::string detail;
  ASSERT_EQ(other.Take("kova-test0", "kova-upgrade", detail), InterfaceLock::Outcome::kTaken);

  Click(ui.Button("ID_BUTTON_GetAPVersion"));
  PumpFor(100ms);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].caption, "Interface busy");
  EXPECT_EQ(ui.boxes()[0].text.rfind("kova-test0 is in use by kova-upgrade, pid ", 0), 0u)
      << ui.boxes()[0].text;
  EXPECT_NE(ui.boxes()[0].text.find("\nOne operation per interface at a time."), std::string::npos);
  EXPECT_EQ(ui.engine().OperationsEnded(), 0);

  other.Release();
  Click(ui.Button("ID_BUTTON_GetAPVersion"));
  ASSERT_TRUE(PumpUntil([&] { return ui.engine().OperationsEnded() == 1; }));
  // The dialog lets the interface go once the operation has ended.
  ASSERT_TRUE(PumpUntil([&] {
    return other.Take("kova-test0", "kova-upgrade", detail) == InterfaceLock::Outcome::kTaken;
  }));
  EXPECT_EQ(ui.boxes().back().text, "\n ... Failed !");

  std::ifstream file(ui.stateDir() + "/log/" + wxDateTime::Now().Format("%Y-%m-%d").utf8_string() +
                     ".log");
  const std::string log{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_NE(log.find(" ==== version on kova-test0, board (none) (kova-upgrade-tool, pid "),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" ======Load upgarde file ... Failed !======\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" [KOVA Upgrade...]  ... Failed !\n"), std::string::npos) << log;
  EXPECT_NE(log.find(" ==== failed: load-failed, "), std::string::npos) << log;
}

}  // namespace
}  // namespace kova::test
