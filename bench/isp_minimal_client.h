#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the ISP bench's two roads share: the region and the image they send,
// and the minimal client that sends it without the engine.
namespace kova::bench {

constexpr size_t kRegion = 516096;

inline uint8_t ImageByte(size_t i) {
  return static_cast<uint8_t>(i * 29 + (i >> 9));
}

// The same dialogue on a blocking socket tied to `interfaceName`, each line
// sent as soon as the board answered the last. 0 and the seconds it took.
// Linux only: the Windows build times the engine's road alone.
int RunMinimal(const std::string& interfaceName, const uint8_t board[4], double& seconds);

}  // namespace kova::bench
