#include "cli/batch_summary.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "cli/restart_watch.h"

namespace kova::cli {

namespace {

std::string Pad(const std::string& text, size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

}  // namespace

std::string BatchHeader(size_t index, size_t count, const std::string& mac) {
  return "=== " + std::to_string(index + 1) + "/" + std::to_string(count) + " " + mac + " ===";
}

std::string Versions(const BoardOutcome& b) {
  const auto known = [](const std::string& v) {
    return v.empty() ? std::nullopt : std::optional<std::string>(v);
  };
  return VersionShown(known(b.versionBefore), "?") + " -> " +
         VersionShown(known(b.versionAfter), "?");
}

std::string SummaryTable(const std::vector<BoardOutcome>& boards) {
  const bool verified =
      std::any_of(boards.begin(), boards.end(), [](const BoardOutcome& b) { return b.verified; });
  const bool station = std::any_of(boards.begin(), boards.end(),
                                   [](const BoardOutcome& b) { return !b.card.empty(); });
  std::vector<std::vector<std::string>> rows = {{"MAC", "ADDRESS", "RESULT", "REASON", "TIME"}};
  if (station) {
    rows[0].insert(rows[0].begin(), "CARD");
  }
  if (verified) {
    rows[0].push_back("FIRMWARE");
  }
  for (const BoardOutcome& b : boards) {
    char time[32] = "-";
    if (b.ran) {
      std::snprintf(time, sizeof time, "%.1f s", b.seconds);
    }
    rows.push_back({b.mac, b.address.empty() ? "-" : b.address,
                    !b.ran ? "skipped" : (b.ok ? "ok" : "failed"),
                    b.reason.empty() ? "-" : b.reason, time});
    if (station) {
      rows.back().insert(rows.back().begin(), b.card);
    }
    if (verified) {
      rows.back().push_back(!b.verified ? "-" : Versions(b));
    }
  }
  std::vector<size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      widths[i] = std::max(widths[i], row[i].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += (i + 1 < row.size()) ? Pad(row[i], widths[i] + 2) : row[i];
    }
    table += line + "\n";
  }
  return table;
}

std::vector<BoardOutcome> RunBatch(
    const std::vector<std::string>& macs, bool keepGoing,
    const std::function<BoardOutcome(size_t index, bool& interrupted)>& board,
    const std::function<void(const std::string&)>& warn, bool& interrupted) {
  std::vector<BoardOutcome> boards(macs.size());
  for (size_t i = 0; i < macs.size(); ++i) {
    boards[i].mac = macs[i];
  }
  interrupted = false;
  for (size_t i = 0; i < boards.size() && !interrupted; ++i) {
    boards[i] = board(i, interrupted);
    const BoardOutcome& b = boards[i];
    const bool more = i + 1 < boards.size();
    if (b.entryLeft) {
      if (more) {
        warn("the neighbour entry of " + (b.address.empty() ? "the board" : b.address) +
             " could not be removed; the batch stops, every board would be given this address");
      }
      break;
    }
    if (!b.ok && !keepGoing && more && !interrupted) {
      warn("board " + b.mac + " failed; the rest of the batch is skipped (--keep-going goes on)");
      break;
    }
  }
  return boards;
}

int BatchExitCode(const std::vector<BoardOutcome>& boards) {
  const bool all = std::all_of(boards.begin(), boards.end(),
                               [](const BoardOutcome& b) { return b.ran && b.ok; });
  return (all && !boards.empty()) ? 0 : 1;
}

}  // namespace kova::cli
