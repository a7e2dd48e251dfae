// A machine that changes something and says it did not would leave a worker
// at pass delay 0 asleep until the next tick; one that says it moved when
// nothing did would keep the worker passing for nothing. Every machine's
// step is checked here against what it changed of the whole state, step by
// step, through whole operations.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bytes.h"
#include "engine_fixture.h"
#include "isp_board_peer.h"
#include "protocol/receive_path.h"

namespace kova::test {
namespace {

// Everything of the engine's state that a machine may change, written out
// here apart from the machines' own records: a field a record leaves out
// shows up as a move nobody reported.
auto WholeState(Engine& engine) {
  const Link& l = EngineTestAccess::LinkOf(engine);
  const Operation& o = EngineTestAccess::Op(engine);
  const auto sockets = std::make_tuple(
      l.NetStarted.load(), l.BroadcastSocket.open, l.BroadcastSocket.handle,
      l.BroadcastSocket.destination.ip, l.BroadcastSocket.destination.port, l.UDPSocket.open,
      l.UDPSocket.handle, l.UDPSocket.destination.ip, l.UDPSocket.destination.port);
  const auto decoders = std::make_tuple(l.BroadcastDecodeState, l.UDPDecodeState, l.UDPMsgState,
                                        l.UDPMsgDone, l.EthReqAnswered, l.E2pReadAnswered,
                                        l.Buf.BroadcastRxRead.load(), l.Buf.UDPRxRead.load());
  const auto channels = std::make_tuple(
      l.BroadcastState, l.BroadcastOp, l.BroadcastDone, l.UDPState, l.UDPOp, l.UDPDone.load(),
      l.UDPRemotePort, l.UDPLocalPort, l.UDPSendText, l.LineState, l.LineOp, l.LineDone,
      l.LineMatched, l.LineText, l.LineExpected, l.LineExpectedCount, l.LineFailure);
  const auto board =
      std::make_tuple(std::vector<uint8_t>(o.DeviceIP, o.DeviceIP + 4),
                      std::vector<uint8_t>(o.DeviceMAC, o.DeviceMAC + 6), o.NewPlatform);
  const auto records = std::make_tuple(
      o.Progress.load(), o.ProgressStep, o.Step, o.VerCfg, o.Eeprom, o.Jump, o.Remote,
      o.BootServerProgressSeen, o.Entry.StaticArpAdded, o.Entry.StaticArpIfIndex, o.Isp.Record());
  const auto engineOwn = std::make_tuple(EngineTestAccess::MainState(engine).load(),
                                         EngineTestAccess::Dispatcher(engine));
  return std::make_tuple(sockets, decoders, channels, board, records, engineOwn);
}

const Bytes kVersionReply = {0x00, 0x06, 0x80, 0x01, 0x01, 0x07};

class MovedFlagsTest : public EngineTest {
 protected:
  // One worker pass, machine by machine as the engine runs them, after the
  // receive thread's; each flag is held against the change it made.
  void CheckedPass() {
    RecvPass(link);
    Check("top-level", [&] { return engine.MainStep(); });
    Check("version/configuration", [&] { return machines.VerCfg(op); });
    Check("EEPROM", [&] { return machines.Eeprom(op); });
    Check("dispatcher and procedure", [&] { return EngineTestAccess::RunProcedure(engine); });
    Check("line exchange", [&] { return machines.Line(link); });
    Check("broadcast channel", [&] { return machines.Broadcast(link); });
    Check("UDP channel", [&] { return machines.UDP(link); });
  }

  void Check(const std::string& machine, const std::function<bool()>& step) {
    const auto before = WholeState(engine);
    const bool moved = step();
    const bool changed = WholeState(engine) != before;
    ++steps[machine];
    if (moved != changed) {
      ++wrong[machine];
      const auto after = WholeState(engine);
      std::string parts;
      const char* names[] = {"sockets", "decoders", "channels", "board", "records", "engine"};
      const bool differs[] = {
          std::get<0>(after) != std::get<0>(before), std::get<1>(after) != std::get<1>(before),
          std::get<2>(after) != std::get<2>(before), std::get<3>(after) != std::get<3>(before),
          std::get<4>(after) != std::get<4>(before), std::get<5>(after) != std::get<5>(before)};
      for (int i = 0; i < 6; ++i) {
        if (differs[i]) {
          parts += std::string(" ") + names[i];
        }
      }
      notes[machine].insert(std::string(moved ? "said moved, changed nothing" : "changed") + parts);
    }
  }

  // Runs `action` to its end, a tick every ten passes; `answer` plays the
  // board for what the ISP peer does not answer.
  void Run(int32_t action, const std::function<void()>& answer = nullptr) {
    ASSERT_TRUE(engine.PostAction(action));
    const int before = engine.OperationsEnded();
    for (int pass = 1; pass <= 400000 && engine.OperationsEnded() == before; ++pass) {
      CheckedPass();
      if (answer) {
        answer();
      }
      if (pass % 10 == 0) {
        engine.CountdownTick();
      }
    }
    ASSERT_EQ(engine.OperationsEnded(), before + 1) << "the operation never ended";
    // The idle passes after it.
    for (int pass = 0; pass < 20; ++pass) {
      CheckedPass();
    }
  }

  std::map<std::string, int> steps;
  std::map<std::string, int> wrong;
  std::map<std::string, std::set<std::string>> notes;
};

TEST_F(MovedFlagsTest, EveryMachineSaysWhetherItMovedThroughWholeOperations) {
  IspBoardPeer board(*net);
  dir.WriteConfig("DISABLE");
  Bytes image(0x7D000);
  for (size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<uint8_t>(i * 29 + (i >> 9));
  }
  image[0x7CFF0] = 0xAA;
  image[0x7CFF1] = 0x55;
  dir.Write("app.bin", std::string(image.begin(), image.end()));
  StartUp();

  // An old-platform upgrade: the platform read, the neighbour entry, the ISP
  // dialogue over the line exchange and both channels.
  Run(kActionUpgrade);
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);

  // Get Version over the broadcast channel, answered once it has gone out.
  size_t answered = net->Sent().size();
  Run(kActionGetVersion, [&] {
    const auto sent = net->Sent();
    if (sent.size() > answered) {
      answered = sent.size();
      net->Deliver(link.BroadcastSocket.handle, kVersionReply);
    }
  });
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);

  // The EEPROM read over the UDP channel, its reply decoded byte by byte.
  answered = net->Sent().size();
  panel.inputs.ipField = "192.168.100.2";
  Run(kActionGetEeprom, [&] {
    const auto sent = net->Sent();
    if (sent.size() > answered) {
      answered = sent.size();
      net->Deliver(link.UDPSocket.handle, Frame(0x81, 0x1D, Counting(256, 0x10)),
                   {{192, 168, 100, 2}, 5002});
    }
  });
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);

  // A failing operation: a board that stays silent.
  Run(kActionConfigReset);
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);

  for (const auto& [machine, count] : steps) {
    std::string seen;
    for (const std::string& note : notes[machine]) {
      seen += "; " + note;
    }
    EXPECT_EQ(wrong[machine], 0) << machine << ": " << wrong[machine] << " of " << count
                                 << " steps said otherwise than what they changed" << seen;
  }
  EXPECT_EQ(steps.size(), 7u);
}

}  // namespace
}  // namespace kova::test
