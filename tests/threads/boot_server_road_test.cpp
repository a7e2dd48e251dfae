// The new platform's road as far as the boot server's own thread: its ports
// refused, and what the operator is told. Real threads, so these run with
// the thread tests (under ThreadSanitizer too).

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "app_upgrade_fixture.h"
#include "hostnet/capabilities.h"
#include "platform/host_errors.h"

namespace kova::test {
namespace {

class BootServerRoadTest : public AppUpgradeTest {
 protected:
  BootServerRoadTest() {
    board.checkCode = {0xAA, 0x55};
    dir.WriteImage(false, true);
    // Port 67 is free when the upgrade tries it before the jump, and held
    // (a DHCP server started meanwhile) when the server opens it.
    net->refuseOpen = [tries = 0](const UdpSocketSpec& spec) mutable {
      return spec.local.port == 67 && ++tries > 1;
    };
  }
};

// A new-platform board is served by the boot server; one whose server
// cannot start (port 67 taken after it was tried) is no success, and the
// operator reads why. Nothing goes to an ISP bootloader either way.
TEST_F(BootServerRoadTest, NewPlatformUpgradeFailsWhenTheBootServerCannotStart) {
  Upgrade();
  EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
  EXPECT_NE(panel.list.find("\n======KOVA : Application firmware upgrade ... Start !======"
                            "\n    Boot server: cannot open the BOOTP port 67 on eth1 (another "
                            "DHCP or BOOTP server may hold the port) ! Failed !======"),
            std::string::npos)
      << panel.list;
  EXPECT_TRUE(board.Lines().empty());
  EXPECT_EQ(op.BootServerExit.load(), 2);
  EXPECT_EQ(net->OpenCount(), 0);
}

// A new-platform board whose boot server cannot have its port: the reason
// says whether another socket holds it or the right to bind it is missing.
TEST_F(BootServerRoadTest, BootServerPortFailureTellsInUseFromDenied) {
  const struct {
    int err;
    FailReason reason;
  } cases[] = {
      {host_error::kAddressInUse, FailReason::kPortInUse},
      {host_error::kSocketDenied, FailReason::kPortDenied},
      {EINVAL, FailReason::kSocketFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.err);
    net->openError = c.err;
    Upgrade();
    EXPECT_EQ(engine.LastReason(), c.reason) << FailReasonName(engine.LastReason());
  }
}

// A refused port names the capability only when this process lacks it.
TEST_F(BootServerRoadTest, ARefusedPortNamesTheCapabilityOnlyWhenItIsMissing) {
  for (const bool missing : {true, false}) {
    SCOPED_TRACE(missing ? "cap_net_bind_service missing" : "held by another server");
    neighbours->missingCapabilities.clear();
    if (missing) {
      neighbours->missingCapabilities.insert(kCapNetBindService);
    }
    panel.list.clear();
    Upgrade();
    EXPECT_EQ(engine.LastOutcome(), STEP_FAIL);
    EXPECT_EQ(panel.list.find(MissingCapabilityText(kCapNetBindService)) != std::string::npos,
              missing)
        << panel.list;
    EXPECT_EQ(panel.list.find(MissingCapabilityText(kCapNetAdmin)), std::string::npos);
  }
}

}  // namespace
}  // namespace kova::test
