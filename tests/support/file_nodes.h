#pragma once

#include <string>
#include <vector>

// Files that only some systems have, for the loaders' cases: FIFOs, UNIX
// sockets and symbolic links.
namespace kova::test {

enum class NodeMade { kMade, kFailed, kNotOnThisSystem };

// Makes a node of `kind` ("fifo", "sock", or "link" to `target`) at `path`.
// `why` says what went wrong, or which system lacks it (Windows: the case
// is then skipped).
NodeMade MakeFileNode(const std::string& kind, const std::string& path, const std::string& target,
                      std::string& why);

// A loader that opened a FIFO blocking would wait in open() for a writer for
// ever; this one comes by now and then, so that such a fault fails the test
// with a wrong result instead of hanging it.
class FifoRelease {
 public:
  explicit FifoRelease(std::vector<std::string> fifos);
  ~FifoRelease();
  FifoRelease(const FifoRelease&) = delete;
  FifoRelease& operator=(const FifoRelease&) = delete;

 private:
  struct State;
  State* state_;
};

}  // namespace kova::test
