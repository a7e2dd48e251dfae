#include <cstdio>

#include "bench/isp_minimal_client.h"

namespace kova::bench {

int RunMinimal(const std::string&, const uint8_t*, double&) {
  std::fprintf(stderr, "isp_bench: the minimal client runs on Linux; time the engine here\n");
  return 2;
}

}  // namespace kova::bench
