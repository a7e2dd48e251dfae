#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine_fixture.h"

namespace kova::test {
namespace {

using namespace std::chrono_literals;

// Ticks an engine from its own thread, as a front end's timer does.
class TickThread {
 public:
  TickThread(Engine& engine, std::chrono::microseconds period)
      : thread_([this, &engine, period] {
          while (!stop_.load()) {
            engine.CountdownTick();
            std::this_thread::sleep_for(period);
          }
        }) {}
  ~TickThread() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A version request that the scripted machine answers after a few passes.
void ScriptVersionRequests(Engine& engine) {
  EngineTestAccess::Machines(engine).VerCfg = Script([](Operation& e) {
    if (e.VerCfg.State == 1) {
      e.VerCfg.Done = 0;
      e.VerCfg.State = 2;
    } else if (e.VerCfg.State == 2) {
      e.VerCfg.Done = 1;
      e.VerCfg.State = 0;
    }
  });
}

class WorkerThreadTest : public EngineTest {};

TEST_F(WorkerThreadTest, EveryAcceptedPressRunsItsOperation) {
  ScriptVersionRequests(engine);
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  EngineTestAccess::MainThreadDelay(engine) = 0;
  panel.inputs.delayIndex = 0;
  TickThread ticks(engine, 1ms);
  engine.StartThreads();

  // Press as fast as the handler allows, so that presses land right on the
  // worker's idle passes.
  int accepted = 0;
  const auto end = std::chrono::steady_clock::now() + 3s;
  while (accepted < 40 && std::chrono::steady_clock::now() < end) {
    if (engine.PostAction(kActionGetVersion)) {
      ++accepted;
      ASSERT_TRUE(WaitFor([&] { return engine.OperationsEnded() == accepted; }))
          << "accepted press " << accepted << " was lost";
    }
  }
  engine.ShutdownAll();
  EXPECT_EQ(accepted, 40);
  EXPECT_EQ(engine.OperationsEnded(), accepted);
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  EXPECT_EQ(EngineTestAccess::Worker(engine).Exited.load(), 1);
}

TEST_F(WorkerThreadTest, UpgradeWaitsForBootUpAgainstARealTick) {
  EngineTestAccess::Machines(engine).VerCfg = Script([](Operation& e) {
    if (e.VerCfg.State == 1) {
      e.VerCfg.Done = 1;
      e.VerCfg.State = 0;
    }
  });
  auto quickStep = Script([](Operation& e) {
    if (e.Step.Busy == 1) {
      e.Step.Done = 1;
      e.Step.Busy = 0;
    }
  });
  EngineTestAccess::Machines(engine).Procedures[0] = quickStep;
  EngineTestAccess::Machines(engine).Procedures[3] = quickStep;
  dir.WriteConfig("ENABLE");
  dir.WriteImage(true, false);
  TickThread ticks(engine, 1ms);  // a sleep below 1 ms is none on Windows
  engine.StartThreads();
  ASSERT_TRUE(WaitFor([&] { return EngineTestAccess::MainState(engine).load() == 0; }));
  ASSERT_TRUE(engine.PostAction(kActionUpgrade));
  ASSERT_TRUE(WaitFor([&] { return engine.OperationsEnded() == 1; }));
  engine.ShutdownAll();
  EXPECT_EQ(engine.LastOutcome(), STEP_OK);
  EXPECT_NE(panel.list.find("\n======KOVA : Wait for boot-up ... Successful !======"),
            std::string::npos);
  ASSERT_FALSE(panel.gauge.empty());
  EXPECT_GE(panel.gauge.back(), 90);
}

// A panel whose message boxes wait for the operator, as the dialog's do.
class BlockingPanel : public RecordingPanel {
 public:
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    std::unique_lock<std::mutex> lock(mutex_);
    RecordingPanel::ShowMessageBox(text, caption);
    waiting_ = true;
    cv_.notify_all();
    cv_.wait(lock, [this] { return released_; });
    waiting_ = false;
  }
  void ReleaseMessageBox() override {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }
  void AppendText(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    RecordingPanel::AppendText(text);
  }
  void TraceText(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    RecordingPanel::TraceText(text);
  }
  bool Waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }
  size_t Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown.size() + traces.size() + boxes.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool waiting_ = false;
  bool released_ = false;
};

TEST(WorkerShutdownTest, ShutdownReleasesAWorkerWaitingInAMessageBox) {
  WorkDir dir;  // no configuration: the operation fails into its box
  BlockingPanel panel;
  panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  Engine engine(panel, dir.path());
  TickThread ticks(engine, 1ms);
  engine.StartThreads();
  ASSERT_TRUE(WaitFor([&] { return EngineTestAccess::MainState(engine).load() == 0; }));
  ASSERT_TRUE(engine.PostAction(kActionGetVersion));
  ASSERT_TRUE(WaitFor([&] { return panel.Waiting(); }));

  const auto start = std::chrono::steady_clock::now();
  engine.ShutdownAll();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_EQ(EngineTestAccess::Worker(engine).Exited.load(), 1);
  EXPECT_EQ(EngineTestAccess::MainState(engine).load(), 0);
  const size_t calls = panel.Calls();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(panel.Calls(), calls) << "nothing may reach the panel after shutdown";
  engine.ShutdownAll();  // a second run changes nothing
  EXPECT_EQ(panel.Calls(), calls);
}

// Lends a test's FakeNet to an engine, so that the test can still look at
// it after the engine is gone.
class LentNet : public NetPlatform {
 public:
  explicit LentNet(FakeNet& net) : net_(net) {}
  int Open(const UdpSocketSpec& spec) override { return net_.Open(spec); }
  int SendTo(int h, const uint8_t* d, size_t n, const UdpEndpoint& to) override {
    return net_.SendTo(h, d, n, to);
  }
  int RecvFrom(int h, uint8_t* b, size_t c, UdpEndpoint& from) override {
    return net_.RecvFrom(h, b, c, from);
  }
  int Close(int h) override { return net_.Close(h); }
  uint32_t Wait(const int* h, int n, int ms) override { return net_.Wait(h, n, ms); }

 private:
  FakeNet& net_;
};

// A front end whose box does not let go when shutdown asks it to.
class StubbornPanel : public RecordingPanel {
 public:
  void ShowMessageBox(const std::string&, const std::string&) override {
    inBox = true;
    std::this_thread::sleep_for(boxTime);
  }
  std::chrono::milliseconds boxTime = 400ms;
  std::atomic<bool> inBox{false};
};

TEST(WorkerShutdownTest, WorkerThatMissesTheBoundIsCleanedUpAfterByTheEngine) {
  WorkDir dir;
  dir.WriteConfig("ENABLE", "0");
  StubbornPanel panel;
  panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  FakeNet net;
  EngineTimings timings;
  timings.joinBound = 50ms;  // well inside the box's time
  auto engine =
      std::make_unique<Engine>(panel, dir.path(), std::make_unique<LentNet>(net), nullptr, timings);
  EngineTestAccess::Adapters(*engine).AdapterDesc[0] = "eth1";
  EngineTestAccess::Adapters(*engine).Count = 1;
  engine->SetInterfaceCount(1);
  // A version request that opens the socket and fails: the worker then sits
  // in the failure box with the socket open.
  EngineTestAccess::Machines(*engine).VerCfg = Script([](Operation& e) {
    if (e.VerCfg.State == 1) {
      e.link.BroadcastSocket_Create();
      e.VerCfg.Done = 0;
      e.VerCfg.State = 0;
    }
  });
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return EngineTestAccess::MainState(*engine).load() == 0; }));
  ASSERT_TRUE(engine->PostAction(kActionGetVersion));
  ASSERT_TRUE(WaitFor([&] { return panel.inBox.load(); }));
  ASSERT_EQ(net.OpenCount(), 1);

  engine->ShutdownAll();  // gives up on the worker after its bound
  EXPECT_EQ(net.OpenCount(), 1) << "nothing is released while the worker may still run";
  EXPECT_TRUE(EngineTestAccess::Log(*engine).Barred());
  engine.reset();  // joins the late worker, then releases
  EXPECT_EQ(net.OpenCount(), 0) << "the socket outlived the engine";
}

// A host table that says on stderr which entry it removed, for a test
// whose process ends before anything else could look.
class SayingNeighbourTable : public FakeNeighbourTable {
 public:
  int DeleteNeighbour(int ifindex, const uint8_t ip[4]) override {
    const int rc = FakeNeighbourTable::DeleteNeighbour(ifindex, ip);
    std::fprintf(stderr, "entry %d.%d.%d.%d on %d removed (%d); ", ip[0], ip[1], ip[2], ip[3],
                 ifindex, rc);
    std::fflush(stderr);
    return rc;
  }
};

// An engine whose worker made the board's entry and then sits in a box that
// never closes, destroyed.
void DestroyEngineWithAWorkerThatNeverReturns() {
  WorkDir dir;
  dir.WriteConfig("ENABLE", "0");
  StubbornPanel panel;
  panel.boxTime = 20s;
  panel.inputs.macFields = {"00", "1A", "2B", "3C", "4D", "5E"};
  EngineTimings timings;
  timings.joinBound = 20ms;
  timings.finalBound = 50ms;
  auto table = std::make_unique<SayingNeighbourTable>();
  table->routeIfindex = 7;
  Engine engine(panel, dir.path(), std::make_unique<FakeNet>(), std::move(table), timings);
  EngineTestAccess::Adapters(engine).Count = 1;
  engine.SetInterfaceCount(1);
  EngineTestAccess::Machines(engine).VerCfg = Script([](Operation& e) {
    if (e.VerCfg.State == 1) {
      const uint8_t ip[4] = {192, 168, 100, 2};
      std::memcpy(e.DeviceIP, ip, sizeof ip);
      e.Create_StaticARP();
      e.VerCfg.Done = 0;
      e.VerCfg.State = 0;
    }
  });
  engine.StartThreads();
  WaitFor([&] { return EngineTestAccess::MainState(engine).load() == 0; });
  engine.PostAction(kActionGetVersion);
  WaitFor([&] { return panel.inBox.load(); });
  // The program ends in the engine's destructor, before the directory's own
  // would run: it goes now, its configuration read long since.
  std::error_code ec;
  std::filesystem::remove_all(dir.path(), ec);
}

// A worker that never comes back: the engine may neither free what it uses
// nor wait for ever, so the program ends with a word on stderr; the board's
// entry, which the worker's own clean-up can no longer remove, goes first.
TEST(WorkerShutdownDeathTest, WorkerThatNeverReturnsEndsTheProgramInsteadOfHangingIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(DestroyEngineWithAWorkerThatNeverReturns(), ::testing::ExitedWithCode(1),
              "entry 192\\.168\\.100\\.2 on 7 removed \\(0\\); "
              "kova-upgrade: a thread did not stop");
}

TEST_F(WorkerThreadTest, QuitWhileIdleEndsTheThreadQuickly) {
  engine.StartThreads();
  ASSERT_TRUE(WaitFor([&] { return EngineTestAccess::MainState(engine).load() == 0; }));
  const auto start = std::chrono::steady_clock::now();
  engine.ShutdownAll();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_EQ(EngineTestAccess::Worker(engine).Exited.load(), 1);
  EXPECT_EQ(EngineTestAccess::LinkOf(engine).NetStarted, 0);
}

}  // namespace
}  // namespace kova::test
