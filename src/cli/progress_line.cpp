#include "cli/progress_line.h"

#include <algorithm>
#include <cstdio>

namespace kova::cli {

namespace {

constexpr int kBarWidth = 30;
// Shorter than this, a rate says more about the start than about the link.
constexpr double kLeastSecondsForRate = 0.5;

}  // namespace

std::string ByteCount(double bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%.0f B", bytes);
  } else if (bytes < 1024.0 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", bytes / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024));
  }
  return text;
}

std::string ProgressLine(const std::string& phase, int percent, uint64_t totalBytes,
                         double seconds) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  char head[64];
  std::snprintf(head, sizeof head, "%-11s %3d%% [", phase.c_str(), percent);
  std::string line = head + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "]";
  if (totalBytes == 0) {
    return line;
  }
  const double done = static_cast<double>(totalBytes) * percent / 100;
  std::string total = ByteCount(static_cast<double>(totalBytes));
  std::string sent = ByteCount(done);
  // "212.0 KiB/504.0 KiB" reads better as "212.0/504.0 KiB".
  const size_t unit = total.find(' ');
  if (sent.size() > unit &&
      sent.compare(sent.find(' '), std::string::npos, total, unit, std::string::npos) == 0) {
    sent.erase(sent.find(' '));
  }
  line += " " + sent + "/" + total;
  if (seconds >= kLeastSecondsForRate && done > 0) {
    line += "  " + ByteCount(done / seconds) + "/s";
  }
  return line;
}

}  // namespace kova::cli
