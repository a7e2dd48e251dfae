#pragma once

namespace kova::countdown {

// The ten tick counters, each named once with the machines that load it. Two
// machines share a slot only where they never run at the same time.

// Remote update: the bound on the final wait for the board to report its
// update; the unicast machine shows its progress while it polls.
constexpr int kRemoteFinish = 0;
// Version/configuration machine: the wait for a broadcast reply. Jump to
// the bootloader: the wait for each acknowledgement.
constexpr int kBroadcastReply = 1;
// Unicast (EEPROM, model name, remote-update) machine: the wait for a reply.
// Bootloader dialogue: the time a collected line has to match. Remote
// update: the pace of its status polls.
constexpr int kUnicastReply = 2;
// Broadcast and UDP channels: the settle time of a freshly created socket.
constexpr int kSettle = 3;
// Bootloader dialogue: the bound on a reply line that never comes.
constexpr int kLineBound = 4;
// Application upgrade: the backstop on the boot server's thread, whose own
// bounds should always end it first.
constexpr int kBootServerBackstop = 5;
// Application upgrade, a new attempt on the old platform: the wait for a
// bootloader that answers again (restarted, if it must be, into it).
constexpr int kBootloaderReturn = 6;
// Wait for boot-up: the fixed pause. The boot server's progress callback
// clears it whenever a TFTP datagram has arrived.
constexpr int kBootWait = 7;
// Channels' settle time and the boot-up wait: the pace of the gauge.
constexpr int kProgressPace = 8;
// Application upgrade: the settle time of a new neighbour entry.
constexpr int kNeighbourSettle = 9;

}  // namespace kova::countdown
