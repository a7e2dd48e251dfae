#include <gtest/gtest.h>
#include <wx/gauge.h>

#include <memory>

#include "engine_access.h"
#include "fake_neighbour_table.h"
#include "fake_net.h"
#include "gui_support.h"
#include "isp_board_peer.h"

namespace kova::test {
namespace {

// Start pressed in the dialog with DISABLE: the whole upgrade of an
// old-platform board on the in-memory network, under the dialog's own timer
// and threads.
TEST(DialogUpgradeTest, WholeUpgradeFillsTheGaugeAndEndsInTheSuccessBox) {
  WorkDir dir;
  dir.WriteConfig("DISABLE");
  dir.WriteImage(true, false);
  auto net = std::make_unique<FakeNet>();
  net->waitBlocks = true;  // the receive thread waits as it does on sockets
  FakeNet& network = *net;
  auto table = std::make_unique<FakeNeighbourTable>();
  FakeNeighbourTable& neighbours = *table;
  DialogHarness ui(
      dir.path(), nullptr,
      [](Engine& engine) {
        // The board's segment, whatever adapters the host has.
        EngineTestAccess::Adapters(engine).AdapterDesc[0] = "eth1";
        EngineTestAccess::Adapters(engine).AdapterIP[0] = {192, 168, 100, 1};
        EngineTestAccess::Adapters(engine).Count =
            std::max(EngineTestAccess::Adapters(engine).Count, 1);
        engine.SetInterfaceCount(EngineTestAccess::Adapters(engine).Count);
        engine.SelectInterface(0);
      },
      std::move(net), std::move(table));
  IspBoardPeer board(network);  // declared after the dialog: gone before its network
  const char* fields[] = {"00", "1A", "2B", "3C", "4D", "5E"};
  for (int i = 0; i < 6; ++i) {
    ui.Text("ID_TEXTCTRL_KOVAMACAddr" + std::to_string(i + 1))->ChangeValue(fields[i]);
  }
  ASSERT_TRUE(ui.WaitIdle());

  auto* gauge = dynamic_cast<wxGauge*>(ui.Find("ID_GAUGE_ProgressBar"));
  ASSERT_NE(gauge, nullptr);
  // The gauge shown on the way: during the erase (up to 84 %) and during the
  // programming after it. A loaded machine may sample neither end exactly.
  bool duringErase = false;
  bool duringProgram = false;
  Click(ui.Button("ID_BUTTON_Start"));
  ASSERT_TRUE(PumpUntil(
      [&] {
        const int value = gauge->GetValue();
        duringErase = duringErase || (value > 0 && value <= 84);
        duringProgram = duringProgram || (value > 84 && value < 100);
        return ui.engine().OperationsEnded() == 1 && ui.engine().IsIdle();
      },
      120s));
  PumpFor(50ms);

  EXPECT_EQ(ui.engine().LastOutcome(), STEP_OK);
  EXPECT_TRUE(duringErase);
  EXPECT_TRUE(duringProgram);
  EXPECT_EQ(gauge->GetValue(), 100);
  ASSERT_EQ(ui.boxes().size(), 2u);
  EXPECT_EQ(ui.boxes()[0].text, "\nOld platform");
  EXPECT_EQ(ui.boxes()[1].text, "\nKOVA firmware upgrade ... Successful !\nPower Restart !");
  EXPECT_EQ(ui.boxes()[1].caption, "KOVA Upgrade...");
  const std::string list = ui.MessageList();
  EXPECT_NE(list.find("\n======(6). Erase ... Successful !======"), std::string::npos);
  const std::string last = "\n======(7). Program ... Successful !======Successful !======";
  ASSERT_GE(list.size(), last.size());
  EXPECT_EQ(list.substr(list.size() - last.size()), last);
  EXPECT_EQ(board.Copies(), 504);
  EXPECT_EQ(board.ChecksumMismatches(), 0);
  EXPECT_EQ(neighbours.RowCount(), 0u);
  EXPECT_EQ(ui.EnabledOperationButtons(), 5);
}

}  // namespace
}  // namespace kova::test
