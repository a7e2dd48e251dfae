#include <gtest/gtest.h>

#include <string>

#include "cli/doctor.h"

namespace kova::cli {
namespace {

// Strict filtering drops a reply that arrives on a card other than the one
// the route back to its sender leads through; the kernel takes the
// stricter of the "all" value and the card's own, and the fix relaxes each
// one that is strict.
TEST(DoctorTest, ReversePathFailsWhereStrictFilteringDropsTheBoardsReplies) {
  const struct {
    std::string card;
    int all, own;
    std::string routedThrough;
    bool ok;
    std::string detail, fix;
  } cases[] = {
      {"eth2", 0, 0, "eth1", true, "reverse-path filtering on eth2 is off", ""},
      {"eth2", 2, 1, "eth1", true, "reverse-path filtering on eth2 is loose", ""},
      {"eth2", 1, 2, "eth1", true, "reverse-path filtering on eth2 is loose", ""},
      {"eth1", 1, 1, "eth1", true,
       "reverse-path filtering on eth1 is strict, and the board's address is routed through eth1",
       ""},
      {"eth1", 1, 0, "", true, "reverse-path filtering on eth1 is strict", ""},
      {"eth1", -1, -1, "eth2", true, "reverse-path filtering on eth1 is not known", ""},
      {"eth2", 1, 0, "eth1", false,
       "reverse-path filtering on eth2 is strict and drops the board's replies: the board's "
       "address is routed through eth1, not eth2",
       "sysctl -w net.ipv4.conf.all.rp_filter=2 (2: loose; 0: off)"},
      {"eth2", 0, 1, "eth1", false,
       "reverse-path filtering on eth2 is strict and drops the board's replies: the board's "
       "address is routed through eth1, not eth2",
       "sysctl -w net.ipv4.conf.eth2.rp_filter=2 (2: loose; 0: off)"},
      {"eth0.100", 1, 1, "eth1", false,
       "reverse-path filtering on eth0.100 is strict and drops the board's replies: the "
       "board's address is routed through eth1, not eth0.100",
       "sysctl -w net.ipv4.conf.all.rp_filter=2 net.ipv4.conf.eth0/100.rp_filter=2 (2: loose; "
       "0: off)"},
      {"eth2", -1, 1, "eth1", false,
       "reverse-path filtering on eth2 is strict and drops the board's replies: the board's "
       "address is routed through eth1, not eth2",
       "sysctl -w net.ipv4.conf.eth2.rp_filter=2 (2: loose; 0: off)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.card + " all=" + std::to_string(c.all) + " own=" + std::to_string(c.own) +
                 " via " + c.routedThrough);
    const DoctorCheck check = ReversePathCheck(c.card, c.all, c.own, c.routedThrough);
    EXPECT_EQ(check.name, "reverse-path");
    EXPECT_EQ(check.ok, c.ok);
    EXPECT_EQ(check.detail, c.detail);
    EXPECT_EQ(check.fix, c.fix);
  }
}

}  // namespace
}  // namespace kova::cli
