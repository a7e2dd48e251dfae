#include "file_nodes.h"

namespace kova::test {

NodeMade MakeFileNode(const std::string& kind, const std::string& /*path*/,
                      const std::string& /*target*/, std::string& why) {
  why = "Windows has no " + kind + " node a user may make";
  return NodeMade::kNotOnThisSystem;
}

// Windows has no FIFOs in the file system: nothing to release.
struct FifoRelease::State {};

FifoRelease::FifoRelease(std::vector<std::string> /*fifos*/) : state_(nullptr) {}
FifoRelease::~FifoRelease() = default;

}  // namespace kova::test
