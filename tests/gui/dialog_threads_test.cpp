#include <gtest/gtest.h>
#include <wx/gauge.h>

#include <thread>

#include "common/countdown_slots.h"
#include "engine_access.h"
#include "gui_support.h"

namespace kova::test {
namespace {

// A version request that waits six ticks of the dialog's own timer (long
// enough for a slow machine to show the locked buttons), moving
// the gauge and adding lines on the way, as a real request does.
void ScriptTickingVersionRequest(Engine& engine) {
  EngineTestAccess::Machines(engine).VerCfg = Script([](Operation& e) {
    if (e.VerCfg.State == 1) {
      e.Progress = 40;
      e.Log.Say(1, "\n======Version request ... ");
      e.Countdown.Set(countdown::kBroadcastReply, 6);
      e.VerCfg.State = 2;
    } else if (e.VerCfg.State == 2 && e.Countdown.Get(countdown::kBroadcastReply) == 0) {
      e.Progress = 100;
      e.Log.Say(1, "Successful !======");
      e.VerCfg.Done = 1;
      e.VerCfg.State = 0;
    }
  });
}

TEST(DialogThreadsTest, OperationsRunAgainstTheDialogsTick) {
  WorkDir dir;
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  DialogHarness ui(dir.path(), nullptr, [](Engine& engine) {
    ScriptTickingVersionRequest(engine);
    if (EngineTestAccess::Adapters(engine).Count ==
        0) {  // a host without adapters still has a board to address
      EngineTestAccess::Adapters(engine).AdapterIP[0] = {192, 168, 100, 1};
      EngineTestAccess::Adapters(engine).Count = 1;
      engine.SetInterfaceCount(1);
    }
  });
  const char* fields[] = {"00", "1A", "2B", "3C", "4D", "5E"};
  for (int i = 0; i < 6; ++i) {
    ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i + 1))->ChangeValue(fields[i]);
  }
  ASSERT_TRUE(ui.WaitIdle());

  constexpr int kOperations = 4;
  for (int op = 1; op <= kOperations; ++op) {
    SCOPED_TRACE(op);
    Click(ui.Button("ID_BUTTON_GetAPVersion"));
    bool locked = false;
    ASSERT_TRUE(PumpUntil([&] {
      // While the request waits for its ticks, only the five buttons are locked.
      locked = locked || (ui.EnabledOperationButtons() == 0 &&
                          ui.Choice("ID_CHOICE_InterfaceSel")->IsEnabled() &&
                          ui.Choice("ID_CHOICE_DelayTimeSel")->IsEnabled() &&
                          ui.Text("ID_TEXTCTRL_KOVAMACAddr1")->IsEnabled());
      return ui.engine().OperationsEnded() == op;
    }));
    EXPECT_TRUE(locked);
    ASSERT_TRUE(PumpUntil([&] { return ui.EnabledOperationButtons() == 5; }));
    // Lines from the GUI thread between the worker's operations.
    Click(ui.Button("ID_BUTTON_FN6"));
  }
  PumpFor(50ms);

  EXPECT_EQ(ui.engine().LastOutcome(), STEP_OK);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(ui.MessageList(),
            "\n======Load upgarde file ... Successful !======"
            "\n======KOVA Firmware Upgrade ... start !======"
            "\n======Version request ... Successful !======"
            "\nGet_MACAddres(0-1a-2b-3c-4d-5e) ... Successful !");
  EXPECT_EQ(dynamic_cast<wxGauge*>(ui.Find("ID_GAUGE_ProgressBar"))->GetValue(), 100);
}

TEST(DialogThreadsTest, QuitDropsABoxStillWaitingToBeShown) {
  WorkDir dir;
  DialogHarness ui(dir.path());
  ASSERT_TRUE(ui.WaitIdle());
  const int result = ui.RunModal([&] {
    Click(ui.Button("ID_BUTTON_GetAPVersion"));
    // Without running the event loop, so that the worker's box stays queued.
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (ui.engine().LastOutcome() != STEP_FAIL && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(100ms);
    Click(ui.Button("ID_BUTTON_Quit"));
    PumpFor(100ms);
  });
  EXPECT_EQ(ui.engine().LastOutcome(), STEP_FAIL);
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(EngineTestAccess::Worker(ui.engine()).Exited.load(), 1);
}

}  // namespace
}  // namespace kova::test
