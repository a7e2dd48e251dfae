#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "common/adapter_table.h"
#include "common/countdown.h"
#include "common/message_log.h"
#include "common/shared_buffers.h"
#include "fake_neighbour_table.h"
#include "fake_net.h"
#include "operation/operation.h"
#include "protocol/channels.h"
#include "protocol/line_exchange.h"
#include "protocol/link.h"
#include "protocol/receive_path.h"
#include "recording_panel.h"

namespace kova::test {

// What a link reaches, owned here instead of by an engine: the log on a
// recording panel, the countdowns, the buffers, an in-memory network and
// neighbour table, one adapter "eth1" at 192.168.100.1, and the board at
// 192.168.100.2 with the MAC 00:1A:2B:3C:4D:5E.
struct LinkParts {
  LinkParts() : net(ownedNet.get()), neighbours(ownedNeighbours.get()), log(panel) {
    buf.AllocSharedBuffers();
    countdown.ClearCountdowns();
    adapters.AdapterDesc[0] = "eth1";
    adapters.AdapterIP[0] = {192, 168, 100, 1};
    adapters.Count = 1;
  }

  std::unique_ptr<FakeNet> ownedNet = std::make_unique<FakeNet>();
  FakeNet* net;
  std::unique_ptr<FakeNeighbourTable> ownedNeighbours = std::make_unique<FakeNeighbourTable>();
  FakeNeighbourTable* neighbours;
  RecordingPanel panel;
  MessageLog log;
  Countdowns countdown;
  SharedBuffers buf;
  AdapterTable adapters;
  std::atomic<int32_t> interfaceSel{0};
  std::atomic<int32_t> interfaceCount{1};
};

// A link on the in-memory network, stepped by hand: no engine, no thread.
class LinkTest : public ::testing::Test, protected LinkParts {
 protected:
  LinkTest()
      : link(Link::Uses{log, countdown, buf, *net, deviceIP, deviceMAC, adapters, interfaceSel,
                        interfaceCount, progress, progressStep, nullptr, neighbours}) {}

  // One worker pass as far as the link goes, after the receive thread's:
  // the line exchange, then both channels. Whether any of them moved.
  bool Pass() {
    RecvPass(link);
    bool moved = Line_applay(link);
    moved = Broadcast_applay(link) || moved;
    return UDP_applay(link) || moved;
  }
  void Tick() { countdown.CountdownTick(); }

  uint8_t deviceIP[4] = {192, 168, 100, 2};
  uint8_t deviceMAC[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
  std::atomic<int32_t> progress{0};
  int32_t progressStep = 0;
  Link link;
};

// An operation and its link on the in-memory network and neighbour table,
// stepped by hand: the procedures and the maintenance machines without the
// engine's threads, top-level machine or dispatcher.
class OperationTest : public ::testing::Test, protected LinkParts {
 protected:
  explicit OperationTest(OperationTimings timings = {})
      : op(Operation::Uses{log, countdown, buf, link, *net, *neighbours, adapters, interfaceSel,
                           interfaceCount, timings}),
        link(Link::Uses{log, countdown, buf, *net, op.DeviceIP, op.DeviceMAC, adapters,
                        interfaceSel, interfaceCount, op.Progress, op.ProgressStep, nullptr,
                        neighbours}) {
    const uint8_t board[4] = {192, 168, 100, 2};
    const uint8_t mac[6] = {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};
    std::copy(board, board + 4, op.DeviceIP);
    std::copy(mac, mac + 6, op.DeviceMAC);
  }
  // A boot server the test started must not outlive the link it writes to.
  ~OperationTest() override { op.StopBootServer(); }

  // One worker pass for `machine` (a procedure or a maintenance machine),
  // after the receive thread's: the machine, the line exchange, then both
  // channels. Whether any of them moved.
  template <typename Machine>
  bool Pass(Machine machine) {
    RecvPass(link);
    bool moved = machine(op);
    moved = Line_applay(link) || moved;
    moved = Broadcast_applay(link) || moved;
    return UDP_applay(link) || moved;
  }
  void Tick() { countdown.CountdownTick(); }

  // The operation comes before its link, which refers to its board.
  Operation op;
  Link link;
};

}  // namespace kova::test
