// The board's neighbour entry on the kernel's real table. Runs inside the
// network namespace that run_in_netns.sh makes: link kova-h0 with
// 192.168.100.1/24 and no default route.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <net/if.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/message_log.h"
#include "controller/engine.h"
#include "engine_access.h"
#include "hostnet/capabilities.h"
#include "hostnet/neighbour_table.h"
#include "hostnet/route_lookup.h"
#include "hostnet/static_arp.h"
#include "platform/host_errors.h"

namespace kova::test {
namespace {

// The kernel's own tables, as the engine reaches them.
NeighbourTable& HostTable() {
  static const std::unique_ptr<NeighbourTable> table = MakeHostNeighbourTable();
  return *table;
}

using Events = std::vector<std::string>;

constexpr const char* kLink = "kova-h0";
constexpr uint8_t kBoardIP[4] = {192, 168, 100, 2};
constexpr uint8_t kBoardMAC[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
constexpr uint8_t kUnroutedIP[4] = {10, 9, 9, 9};
const std::string kDenied = "\nERROR_ACCESS_DENIED (User is not Administrator) !";

std::string Box(const std::string& text) {
  return "box[Warining...]:" + text;
}
std::string Trace(const std::string& text) {
  return "trace:" + text;
}
std::string Result(int value) {
  return "=> " + std::to_string(value);
}

const std::string kExistTrace = Trace("\nStatic IP Address(192.168.100.2) ... Exist !");
const std::string kNoExistTrace = Trace("\nStatic IP Address(192.168.100.2) ... No exist !");
const std::string kDeletedTrace =
    Trace("\nDelete static IP Address (192.168.100.2) ... Successful !");
const std::string kDeleteFailedTrace =
    Trace("\nDelete static IP Address (192.168.100.2) ... Failed !");
// Shown after a refusal that a box reports: the capability this process lacks.
const std::string kNetAdminAdvice = "list:" + MissingCapabilityText(kCapNetAdmin);

// Everything the operator would see or the trace would hold, in one sequence.
class EventPanel : public OperatorPanel {
 public:
  void AppendText(const std::string& text) override { events.push_back("list:" + text); }
  void TraceText(const std::string& text) override { events.push_back(Trace(text)); }
  void ClearList() override {}
  void EnableButtons(bool) override {}
  void SetGauge(int) override {}
  void ShowMessageBox(const std::string& text, const std::string& caption) override {
    events.push_back("box[" + caption + "]:" + text);
  }
  OperatorInputs ReadInputs() override { return {}; }

  Events events;
};

void RunIp(const std::string& args) {
  const std::string command = "ip " + args + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// What `ip` itself reports for the board's address, all kinds of entry.
std::string IpNeighShow() {
  std::string out;
  FILE* pipe = popen("ip -4 neigh show nud all dev kova-h0 to 192.168.100.2", "r");
  if (pipe == nullptr) {
    return "popen failed";
  }
  char buf[256];
  while (std::fgets(buf, sizeof buf, pipe) != nullptr) {
    out += buf;
  }
  pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) {
    out.pop_back();
  }
  return out;
}

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// Raises or drops CAP_NET_ADMIN in the effective set only, so that it can
// come back; the neighbour table checks the effective set.
bool SetNetAdmin(bool on) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) {
    return false;
  }
  auto& word = data[CAP_TO_INDEX(CAP_NET_ADMIN)];
  if (on) {
    word.effective |= CAP_TO_MASK(CAP_NET_ADMIN);
  } else {
    word.effective &= ~CAP_TO_MASK(CAP_NET_ADMIN);
  }
  return syscall(SYS_capset, &header, data) == 0;
}

void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n <= 0) {
      return;
    }
    done += static_cast<size_t>(n);
  }
}

// Runs `body` in a child process without CAP_NET_ADMIN and returns the
// events it recorded. The child never returns into the test framework.
Events WithoutNetAdmin(const std::function<void(Events&)>& body) {
  int fds[2];
  if (pipe(fds) != 0) {
    return {"pipe failed"};
  }
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    Events events;
    if (SetNetAdmin(false)) {
      body(events);
    } else {
      events.push_back("capset failed");
    }
    std::string packed;
    for (const std::string& event : events) {
      packed += std::to_string(event.size()) + ":" + event;
    }
    WriteAll(fds[1], packed);
    _exit(0);
  }
  close(fds[1]);
  std::string packed;
  char buf[4096];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) {
    packed.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return {"child failed"};
  }
  Events events;
  size_t pos = 0;
  while (pos < packed.size()) {
    const size_t colon = packed.find(':', pos);
    const size_t length = std::stoul(packed.substr(pos, colon - pos));
    events.push_back(packed.substr(colon + 1, length));
    pos = colon + 1 + length;
  }
  return events;
}

class NeighbourEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ifindex = static_cast<int>(if_nametoindex(kLink));
    if (ifindex == 0) {
      GTEST_SKIP() << "no " << kLink << ": run through run_in_netns.sh";
    }
    Flush();
  }
  void TearDown() override {
    if (ifindex != 0) {
      Flush();
    }
  }

  void Flush() { RunIp("neigh flush dev kova-h0 nud all"); }

  // The table's row for the board's address on the link, if any.
  bool FindRow(NeighbourEntry& row) {
    std::vector<NeighbourEntry> rows;
    EXPECT_EQ(DumpNeighbours(rows), 0);
    const NeighbourEntry* found = FindNeighbour(rows, ifindex, kBoardIP);
    if (found != nullptr) {
      row = *found;
    }
    return found != nullptr;
  }

  // Whether any interface holds an entry for the board's address.
  bool AnyRowForBoard() {
    std::vector<NeighbourEntry> rows;
    EXPECT_EQ(DumpNeighbours(rows), 0);
    for (const NeighbourEntry& row : rows) {
      if (std::memcmp(row.ip.data(), kBoardIP, 4) == 0) {
        return true;
      }
    }
    return false;
  }

  // Takes what the panel recorded so far.
  Events Take() {
    Events taken;
    taken.swap(panel.events);
    return taken;
  }

  int ifindex = 0;
  EventPanel panel;
  MessageLog log{panel};
};

TEST_F(NeighbourEntryTest, RouteLookupGivesTheLinkOfTheBestUnicastRoute) {
  RunIp("route add 10.20.0.0/16 via 192.168.100.254 dev kova-h0");
  struct Case {
    std::array<uint8_t, 4> ip;
    bool routed;
  } cases[] = {
      {{192, 168, 100, 2}, true},   // on the link
      {{10, 20, 1, 1}, true},       // through a gateway on the link
      {{10, 9, 9, 9}, false},       // no route, no default route
      {{192, 168, 100, 1}, false},  // the host's own address is no board
  };
  for (const Case& c : cases) {
    int found = -1;
    const int rc = LookupRouteInterface(c.ip.data(), found);
    if (c.routed) {
      EXPECT_EQ(rc, 0) << int(c.ip[0]) << "." << int(c.ip[3]);
      EXPECT_EQ(found, ifindex) << int(c.ip[0]) << "." << int(c.ip[3]);
    } else {
      EXPECT_NE(rc, 0) << int(c.ip[0]) << "." << int(c.ip[3]);
      EXPECT_EQ(found, -1) << "an unrouted lookup must leave the index alone";
    }
  }
  RunIp("route del 10.20.0.0/16");
}

TEST_F(NeighbourEntryTest, CreationInstallsAPermanentEntryWithTheBoardsMacThatTheCheckFinds) {
  EXPECT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  EXPECT_EQ(Take(), Events{}) << "a plain creation says nothing";

  NeighbourEntry row;
  ASSERT_TRUE(FindRow(row));
  EXPECT_TRUE(row.Permanent());
  ASSERT_TRUE(row.hasMac);
  EXPECT_EQ(0, std::memcmp(row.mac.data(), kBoardMAC, 6));
  EXPECT_EQ(IpNeighShow(), "192.168.100.2 lladdr 00:1a:2b:3c:4d:5e PERMANENT");

  EXPECT_EQ(Check_StaticARP(log, HostTable(), kBoardIP), 1);
  EXPECT_EQ(Take(), Events{kExistTrace});
  EXPECT_EQ(log.MsgText, "\nStatic IP Address(192.168.100.2) ... Exist !");
}

TEST_F(NeighbourEntryTest, SecondCreationIsTracedAsExistingAndSucceeds) {
  ASSERT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  EXPECT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  const std::string text = "\nStatic IP Address (192.168.100.2) is already exist !";
  EXPECT_EQ(Take(), Events{Trace(text)});
  EXPECT_EQ(log.MsgText, text);
  EXPECT_EQ(IpNeighShow(), "192.168.100.2 lladdr 00:1a:2b:3c:4d:5e PERMANENT");
}

// An entry the kernel learnt from the board's own replies must not pass for
// the tool's: it is replaced, or the check after it would fail the upgrade.
TEST_F(NeighbourEntryTest, EntriesTheKernelLearntAreReplacedByThePermanentOne) {
  for (const char* state :
       {"reachable", "stale", "delay", "probe", "failed", "incomplete", "noarp"}) {
    SCOPED_TRACE(state);
    Flush();
    RunIp(std::string("neigh replace 192.168.100.2 lladdr 02:00:00:00:00:99 dev kova-h0 nud ") +
          state);
    NeighbourEntry before;
    ASSERT_TRUE(FindRow(before));
    ASSERT_FALSE(before.Permanent());

    EXPECT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
    EXPECT_EQ(Take(), Events{});
    EXPECT_EQ(IpNeighShow(), "192.168.100.2 lladdr 00:1a:2b:3c:4d:5e PERMANENT");
    EXPECT_EQ(Check_StaticARP(log, HostTable(), kBoardIP), 1);
    EXPECT_EQ(Take(), Events{kExistTrace});
  }
}

TEST_F(NeighbourEntryTest, CheckCountsPermanentEntriesOnlyWhateverTheirMac) {
  struct Case {
    const char* entry;  // arguments after the address for `ip neigh replace`; null: none
    int expected;
  } cases[] = {
      {nullptr, 0},
      {"lladdr 00:1a:2b:3c:4d:5e dev kova-h0 nud permanent", 1},
      {"lladdr 02:00:00:00:00:99 dev kova-h0 nud permanent", 1},
      {"lladdr 00:1a:2b:3c:4d:5e dev kova-h0 nud reachable", 0},
      {"lladdr 00:1a:2b:3c:4d:5e dev kova-h0 nud stale", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entry == nullptr ? "no entry" : c.entry);
    Flush();
    if (c.entry != nullptr) {
      RunIp(std::string("neigh replace 192.168.100.2 ") + c.entry);
    }
    EXPECT_EQ(Check_StaticARP(log, HostTable(), kBoardIP), c.expected);
    EXPECT_EQ(Take(), Events{c.expected == 1 ? kExistTrace : kNoExistTrace});
  }
}

// Whose MAC an address is, as the receive thread asks: the table's answer
// when it has one, else the link's when asked (192.168.100.9 on the far end
// of the link answers, .10 nobody), and a permanent entry is never asked
// about (asked, the kernel would make it an ordinary one).
TEST_F(NeighbourEntryTest, ResolutionAsksTheLinkOnlyForWhatTheTableLacks) {
  RunIp("addr add 192.168.100.9/32 dev kova-b0");
  // Both ends are this namespace's: the far end answers a question from an
  // address of its own only so.
  const auto acceptLocal = [](const char* value) {
    FILE* f = std::fopen("/proc/sys/net/ipv4/conf/kova-b0/accept_local", "w");
    return f != nullptr && std::fputs(value, f) >= 0 && std::fclose(f) == 0;
  };
  ASSERT_TRUE(acceptLocal("1"));
  const std::string other = "lladdr 02:00:00:00:00:99 dev kova-h0 nud ";
  struct Case {
    std::string entry;  // put in first with `ip neigh replace ADDRESS ...`
    uint8_t last;       // the address: 192.168.100.<last>
    bool ask;
    int rc;
    const char* shown;  // what `ip` shows of the address after, in part
  } cases[] = {
      {"", 9, true, 0, " REACHABLE"},
      {"", 9, false, host_error::kNoEntry, ""},
      {"", 10, true, host_error::kNoEntry, " INCOMPLETE"},
      {other + "permanent", 9, true, 0, "02:00:00:00:00:99 PERMANENT"},
      {other + "stale", 9, true, 0, "02:00:00:00:00:99 STALE"},
  };
  for (const Case& c : cases) {
    const std::string address = "192.168.100." + std::to_string(c.last);
    SCOPED_TRACE(address + " " + c.entry);
    Flush();
    if (!c.entry.empty()) {
      RunIp("neigh replace " + address + " " + c.entry);
    }
    const uint8_t ip[4] = {192, 168, 100, c.last};
    NeighbourEntry row;
    EXPECT_EQ(HostTable().ResolveNeighbour(ifindex, ip, c.ask, row), c.rc);
    FILE* pipe = popen(("ip -4 neigh show nud all dev kova-h0 to " + address).c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char shown[256] = {};
    const bool any = std::fgets(shown, sizeof shown, pipe) != nullptr;
    pclose(pipe);
    EXPECT_EQ(any, *c.shown != '\0') << shown;
    EXPECT_NE(std::string(shown).find(c.shown), std::string::npos) << shown;
  }
  RunIp("addr del 192.168.100.9/32 dev kova-b0");
  RunIp("neigh flush dev kova-b0");
  EXPECT_TRUE(acceptLocal("0"));
}

TEST_F(NeighbourEntryTest, DeletionRemovesTheEntry) {
  ASSERT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  EXPECT_EQ(Delete_StaticARP(log, HostTable(), ifindex, kBoardIP, kBoardMAC), 1);
  EXPECT_EQ(Take(), Events{kDeletedTrace});
  EXPECT_EQ(log.MsgText, "\nDelete static IP Address (192.168.100.2) ... Successful !");
  EXPECT_FALSE(AnyRowForBoard());
  EXPECT_EQ(IpNeighShow(), "");
  EXPECT_EQ(Check_StaticARP(log, HostTable(), kBoardIP), 0);
}

TEST_F(NeighbourEntryTest, DeletionThatFindsNoEntryCountsAsDone) {
  for (bool showBoxes : {true, false}) {
    EXPECT_EQ(Delete_StaticARP(log, HostTable(), ifindex, kBoardIP, kBoardMAC, showBoxes), 1);
    EXPECT_EQ(Take(), Events{kDeletedTrace});
  }
}

TEST_F(NeighbourEntryTest, AddressWithoutARouteFailsCreationWithErrorZeroAndIsNeverFound) {
  int unused = 0;
  ASSERT_NE(LookupRouteInterface(kUnroutedIP, unused), 0) << "the namespace has a default route";

  EXPECT_EQ(Create_StaticARP(log, HostTable(), kUnroutedIP, kBoardMAC), 0);
  const std::string failed = "\nCreate static IP Address (10.9.9.9) ... Failed !";
  EXPECT_EQ(Take(), (Events{Box("\nERROR (0) !"), Trace(failed)}));
  EXPECT_EQ(log.MsgText, failed);

  EXPECT_EQ(Check_StaticARP(log, HostTable(), kUnroutedIP), 0);
  EXPECT_EQ(Take(), Events{Trace("\nStatic IP Address(10.9.9.9) ... No exist !")});

  // Without a recorded interface the removal looks the route up.
  EXPECT_EQ(Delete_StaticARP(log, HostTable(), 0, kUnroutedIP, kBoardMAC), 0);
  EXPECT_EQ(Take(), Events{Trace("\nDelete static IP Address (10.9.9.9) ... Failed !")});
}

TEST_F(NeighbourEntryTest, NoNetlinkSocketOutlivesAnOperation) {
  const size_t before = OpenDescriptors();
  Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC);
  Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC);
  Check_StaticARP(log, HostTable(), kBoardIP);
  Delete_StaticARP(log, HostTable(), ifindex, kBoardIP, kBoardMAC);
  Delete_StaticARP(log, HostTable(), 0, kBoardIP, kBoardMAC);
  Create_StaticARP(log, HostTable(), kUnroutedIP, kBoardMAC);
  Check_StaticARP(log, HostTable(), kUnroutedIP);
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST_F(NeighbourEntryTest, WithoutNetAdminCreationShowsBothBoxesAndLeavesNothingBehind) {
  const Events events = WithoutNetAdmin([](Events& out) {
    EventPanel childPanel;
    MessageLog childLog(childPanel);
    const size_t fds = OpenDescriptors();
    const int result = Create_StaticARP(childLog, HostTable(), kBoardIP, kBoardMAC);
    out = childPanel.events;
    out.push_back(Result(result));
    out.push_back("MsgText:" + childLog.MsgText);
    if (OpenDescriptors() != fds) {
      out.push_back("descriptors left open");
    }
  });
  const std::string failed = "\nCreate static IP Address (192.168.100.2) ... Failed !";
  EXPECT_EQ(events, (Events{Box(kDenied), kNetAdminAdvice, Box("\nERROR (5) !"), Trace(failed),
                            Result(0), "MsgText:" + failed}));
  EXPECT_FALSE(AnyRowForBoard());
  EXPECT_EQ(IpNeighShow(), "");
}

TEST_F(NeighbourEntryTest, WithoutNetAdminDeletionShowsOneBoxOrOnlyTracesAndKeepsTheEntry) {
  ASSERT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  const Events events = WithoutNetAdmin([this](Events& out) {
    EventPanel childPanel;
    MessageLog childLog(childPanel);
    for (bool showBoxes : {true, false}) {
      const int result =
          Delete_StaticARP(childLog, HostTable(), ifindex, kBoardIP, kBoardMAC, showBoxes);
      out.insert(out.end(), childPanel.events.begin(), childPanel.events.end());
      childPanel.events.clear();
      out.push_back(Result(result));
    }
  });
  // Boxes shown, then only traces.
  EXPECT_EQ(events, (Events{Box(kDenied), kNetAdminAdvice, kDeleteFailedTrace, Result(0),  //
                            Trace(kDenied), kDeleteFailedTrace, Result(0)}));
  NeighbourEntry row;
  ASSERT_TRUE(FindRow(row));
  EXPECT_TRUE(row.Permanent());
}

// The idle step calls the removal on every pass while it fails; the pace
// (about a second in the tool) is shortened here.
TEST_F(NeighbourEntryTest, EngineRemovalBoxesOncePerFailureStreakAndRetriesAtItsPace) {
  ASSERT_EQ(Create_StaticARP(log, HostTable(), kBoardIP, kBoardMAC), 1);
  const auto pause = std::chrono::milliseconds(60);
  const Events events = WithoutNetAdmin([this, pause](Events& out) {
    EventPanel childPanel;
    EngineTimings timings;
    timings.neighbourRetryPause = std::chrono::milliseconds(50);
    Engine engine(childPanel, "", nullptr, nullptr, timings);
    std::memcpy(EngineTestAccess::Op(engine).Entry.StaticArpIP, kBoardIP, 4);
    std::memcpy(EngineTestAccess::Op(engine).Entry.StaticArpMAC, kBoardMAC, 6);
    EngineTestAccess::Op(engine).Entry.StaticArpIfIndex = ifindex;
    auto attempt = [&] {
      const int result = EngineTestAccess::Op(engine).Delete_StaticARP();
      out.insert(out.end(), childPanel.events.begin(), childPanel.events.end());
      childPanel.events.clear();
      out.push_back(Result(result));
    };
    attempt();  // fails: the streak's box
    attempt();  // too soon: not tried
    std::this_thread::sleep_for(pause);
    attempt();  // tried again, quietly
    if (!SetNetAdmin(true)) {
      out.push_back("capset failed");
    }
    attempt();  // would succeed, but too soon
    std::this_thread::sleep_for(pause);
    attempt();  // removed: the streak ends
    SetNetAdmin(false);
    attempt();  // a new streak shows its box at once
  });
  EXPECT_EQ(events, (Events{Box(kDenied), kNetAdminAdvice, kDeleteFailedTrace, Result(0),  //
                            Result(0),                                                     //
                            Trace(kDenied), kDeleteFailedTrace, Result(0),                 //
                            Result(0),                                                     //
                            kDeletedTrace, Result(1),                                      //
                            Box(kDenied), kNetAdminAdvice, kDeleteFailedTrace, Result(0)}));
  EXPECT_FALSE(AnyRowForBoard());
}

// The engine removes its entry on the interface it made it on: a route to the
// board that moved to another link meanwhile must not send the removal there
// (where nothing is found and the entry would stay behind), and an interface
// that went away took the entry with it, which counts as removed.
TEST_F(NeighbourEntryTest, EngineRemovesTheEntryWhereItWasMade) {
  struct Case {
    const char* what;
    std::string link;       // where the entry is made
    std::string address;    // the host's address on it
    uint8_t board[4];       // the board's address, routed through `link`
    std::string meanwhile;  // `ip` commands run before the removal
  } cases[] = {
      {"route moved",
       "kova-h1",
       "192.168.110.1/24",
       {192, 168, 110, 2},
       "route add 192.168.110.2/32 dev kova-h2"},
      {"interface gone", "kova-h1", "192.168.110.1/24", {192, 168, 110, 2}, "link del kova-h1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunIp("link add kova-h1 type veth peer name kova-b1");
    RunIp("link add kova-h2 type veth peer name kova-b2");
    RunIp("addr add " + c.address + " dev kova-h1");
    for (const char* l : {"kova-h1", "kova-b1", "kova-h2", "kova-b2"}) {
      RunIp(std::string("link set ") + l + " up");
    }
    const int made = static_cast<int>(if_nametoindex(c.link.c_str()));
    ASSERT_NE(made, 0);

    EventPanel enginePanel;
    Engine engine(enginePanel, "", nullptr, nullptr);
    std::memcpy(EngineTestAccess::Op(engine).DeviceIP, c.board, 4);
    std::memcpy(EngineTestAccess::Op(engine).DeviceMAC, kBoardMAC, 6);
    ASSERT_EQ(EngineTestAccess::Op(engine).Create_StaticARP(), 1);
    EXPECT_EQ(EngineTestAccess::Op(engine).Entry.StaticArpIfIndex, made);

    RunIp(c.meanwhile);
    EXPECT_EQ(EngineTestAccess::Op(engine).Delete_StaticARP(), 1);
    std::vector<NeighbourEntry> rows;
    ASSERT_EQ(DumpNeighbours(rows), 0);
    for (const NeighbourEntry& row : rows) {
      EXPECT_NE(std::memcmp(row.ip.data(), c.board, 4), 0) << "entry left on " << row.ifindex;
    }
    std::system("ip link del kova-h1 >/dev/null 2>&1; ip link del kova-h2 >/dev/null 2>&1");
  }
}

// Cloned fixtures: two cards in the same subnet, a board at the same
// address behind each. Each engine's table is pinned to its card, so each
// board's entry is made on its own card, beside the other's, and removed
// there, though every route to the address leads through the first card.
TEST_F(NeighbourEntryTest, EnginesPinnedToClonedCardsKeepTheirEntriesOnTheirOwnCards) {
  RunIp("link add kova-h3 type veth peer name kova-b3");
  RunIp("addr add 192.168.100.1/24 dev kova-h3");
  for (const char* l : {"kova-h3", "kova-b3"}) {
    RunIp(std::string("link set ") + l + " up");
  }
  const int second = static_cast<int>(if_nametoindex("kova-h3"));
  ASSERT_NE(second, 0);
  const uint8_t secondMAC[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5F};
  const struct {
    int card;
    const uint8_t* mac;
  } cards[] = {{ifindex, kBoardMAC}, {second, secondMAC}};

  EventPanel enginePanel;
  std::vector<std::unique_ptr<Engine>> engines;
  for (const auto& c : cards) {
    engines.push_back(
        std::make_unique<Engine>(enginePanel, "", nullptr, MakeHostNeighbourTable(c.card)));
    Operation& op = EngineTestAccess::Op(*engines.back());
    std::memcpy(op.DeviceIP, kBoardIP, 4);
    std::memcpy(op.DeviceMAC, c.mac, 6);
    ASSERT_EQ(op.Create_StaticARP(), 1);
    EXPECT_EQ(op.Entry.StaticArpIfIndex, c.card);
  }
  std::vector<NeighbourEntry> rows;
  ASSERT_EQ(DumpNeighbours(rows), 0);
  for (const auto& c : cards) {
    const NeighbourEntry* row = FindNeighbour(rows, c.card, kBoardIP);
    ASSERT_NE(row, nullptr) << "no entry on " << c.card;
    EXPECT_TRUE(row->Permanent());
    EXPECT_EQ(std::memcmp(row->mac.data(), c.mac, 6), 0) << "on " << c.card;
  }

  EXPECT_EQ(EngineTestAccess::Op(*engines[1]).Delete_StaticARP(), 1);
  ASSERT_EQ(DumpNeighbours(rows), 0);
  EXPECT_EQ(FindNeighbour(rows, second, kBoardIP), nullptr);
  EXPECT_NE(FindNeighbour(rows, ifindex, kBoardIP), nullptr) << "the first card's entry went";
  EXPECT_EQ(EngineTestAccess::Op(*engines[0]).Delete_StaticARP(), 1);
  EXPECT_FALSE(AnyRowForBoard());
  std::system("ip link del kova-h3 >/dev/null 2>&1");
}

}  // namespace
}  // namespace kova::test
