#include "cli/cli_panel.h"

#include "cli/answer_texts.h"
#include "cli/json_line.h"
#include "cli/progress_line.h"
#include "platform/host_files.h"

namespace kova::cli {

namespace {

// Events and redraws of the progress: a few a second are plenty.
constexpr auto kEventGap = std::chrono::milliseconds(250);
constexpr auto kDrawGap = std::chrono::milliseconds(100);

JsonLine& OptionalStr(JsonLine& line, const char* key, const std::string& value) {
  return value.empty() ? line.Null(key) : line.Str(key, value);
}

std::string JsonStrings(const std::vector<std::string>& items) {
  std::string array = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    array += (i == 0 ? "" : ",") + JsonString(items[i]);
  }
  return array + "]";
}

}  // namespace

CliPanel::CliPanel(OutputQueue& out, bool json, bool verbose, bool progressTerminal)
    : out_(out),
      json_(json),
      verbose_(verbose),
      progressTerminal_(progressTerminal),
      stdoutTerminal_(host::IsTerminal(1)) {}

void CliPanel::ForCard(const std::string& card, StationOutput* station) {
  std::lock_guard<std::mutex> lock(mutex_);
  card_ = card;
  station_ = station;
}

std::string CliPanel::CardLead() const {
  return card_.empty() ? "" : "[" + card_ + "] ";
}

void CliPanel::Put(Stream stream, const std::string& text) {
  if (station_ != nullptr) {
    station_->Put(stream, text);
  } else {
    out_.Put(stream, text);
  }
}

void CliPanel::SetInputs(const OperatorInputs& inputs) {
  std::lock_guard<std::mutex> lock(mutex_);
  inputs_ = inputs;
  haveVersion_ = haveModelName_ = haveEeprom_ = false;
}

OperatorInputs CliPanel::ReadInputs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return inputs_;
}

void CliPanel::ClearBar() {
  if (barShown_) {
    Put(Stream::kErr, "\r\033[K");
    barShown_ = false;
    if (stdoutTerminal_) {
      Put(Stream::kOut, openLine_);
    }
  }
}

void CliPanel::DrawBar() {
  const double seconds = std::chrono::duration<double>(Clock::now() - phaseStart_).count();
  Put(Stream::kErr, "\r" + ProgressLine(phase_, percent_, phaseBytes_, seconds) + "\033[K");
  barShown_ = true;
  lastDraw_ = Clock::now();
}

void CliPanel::Write(const std::string& text) {
  if (text.empty()) {
    return;
  }
  // The bar shares the terminal with the lines: it steps aside and comes back.
  const bool redraw = barShown_;
  ClearBar();
  if (card_.empty()) {
    Put(Stream::kOut, text);
  } else if (json_) {
    Put(Stream::kOut, "{\"card\":" + JsonString(card_) + "," + text.substr(1));
  } else {
    // Cards write at the same time: a line goes out whole, with its card.
    cardLine_ += text;
    std::string lines;
    for (size_t end; (end = cardLine_.find('\n')) != std::string::npos;) {
      lines += "[" + card_ + "]" + (end > 0 ? " " : "") + cardLine_.substr(0, end + 1);
      cardLine_.erase(0, end + 1);
    }
    if (!lines.empty()) {
      Put(Stream::kOut, lines);
    }
  }
  if (!json_) {
    atLineStart_ = text.back() == '\n';
    const size_t newline = text.rfind('\n');
    openLine_ = (newline == std::string::npos) ? openLine_ + text : text.substr(newline + 1);
  }
  // A full bar has said what it had to.
  if (redraw && percent_ < 100) {
    DrawBar();
  }
}

void CliPanel::AppendText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Write(json_ ? JsonLine("message").Str("text", text).Text() : text);
}

void CliPanel::TraceText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (verbose_) {
    Write(json_ ? JsonLine("trace").Str("text", text).Text() : text);
  }
}

void CliPanel::SetGauge(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  percent_ = value;
  const Clock::time_point now = Clock::now();
  if (json_ && value != lastEventPercent_ &&
      (lastEventPercent_ < 0 || value == 100 || now - lastEvent_ >= kEventGap)) {
    JsonLine line("progress");
    line.Str("phase", phase_).Int("percent", value);
    if (phaseBytes_ > 0) {
      line.Int("bytes", static_cast<long long>(phaseBytes_ * static_cast<uint64_t>(value) / 100))
          .Int("total", static_cast<long long>(phaseBytes_));
    }
    Write(line.Text());
    lastEventPercent_ = value;
    lastEvent_ = now;
  }
  if (station_ != nullptr) {
    station_->Progress(card_, phase_, value);
  }
  if (progressTerminal_ && (value == 100 || now - lastDraw_ >= kDrawGap)) {
    DrawBar();
  }
}

void CliPanel::ShowMessageBox(const std::string& text, const std::string& caption) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A box ends a stretch of work: the bar goes and stays away.
  ClearBar();
  const std::string body = (!text.empty() && text.front() == '\n') ? text.substr(1) : text;
  if (json_) {
    Write(JsonLine("box").Str("caption", caption).Str("text", body).Text());
  } else {
    Write((atLineStart_ ? "" : "\n") + std::string("[") + caption + "] " + body + "\n");
  }
}

void CliPanel::ReportFileProblem(const std::string& path, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  Put(Stream::kErr, CardLead() + "kova-upgrade: " + path + ": " + reason + "\n");
  if (json_) {
    Write(JsonLine("file").Str("path", path).Str("reason", reason).Text());
  }
}

void CliPanel::PhaseChanged(const PhaseNote& note) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  phase_ = PhaseName(note.phase);
  phaseBytes_ = note.imageBytes;
  phaseStart_ = Clock::now();
  percent_ = 0;
  lastEventPercent_ = -1;
  if (json_) {
    JsonLine line("phase");
    line.Str("phase", phase_);
    OptionalStr(line, "mac", note.macKnown ? MacBytesText(note.mac.data()) : "");
    OptionalStr(line, "address", note.addressKnown ? DottedText(note.address.data()) : "");
    if (note.imageBytes > 0) {
      line.Int("bytes", note.imageBytes);
    }
    Write(line.Text());
  }
}

void CliPanel::AnswerRead(BoardAnswer kind, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string lead = atLineStart_ ? "" : "\n";
  switch (kind) {
    case BoardAnswer::kVersion:
      // The message list shows it already.
      if (bytes.size() >= 2) {
        version_ = VersionText(bytes[0], bytes[1]);
        haveVersion_ = true;
      }
      break;
    case BoardAnswer::kModelName:
      modelName_ = ModelNameText(bytes);
      haveModelName_ = true;
      if (!json_) {
        Write(lead + "Model name: " + modelName_ + "\n");
      }
      break;
    case BoardAnswer::kEeprom:
      eeprom_ = HexBytes(bytes);
      haveEeprom_ = true;
      if (!json_) {
        Write(lead + "EEPROM (" + std::to_string(bytes.size()) + " bytes):\n" +
              HexDumpWithOffsets(bytes));
      }
      break;
  }
}

void CliPanel::PlanReady(const UpgradePlan& plan) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::vector<std::string> lines = PlanLines(plan, planContext_);
  if (!json_) {
    std::string text = atLineStart_ ? "" : "\n";
    for (const std::string& line : lines) {
      text += line + "\n";
    }
    Write(text);
    return;
  }
  std::vector<std::string> steps;
  for (const std::string& line : lines) {
    // The numbered lines are the steps.
    const size_t dot = line.find(". ");
    if (line.rfind("  ", 0) == 0 && dot != std::string::npos) {
      steps.push_back(line.substr(dot + 2));
    }
  }
  JsonLine event("plan");
  event.Str("mac", MacBytesText(plan.mac.data()));
  OptionalStr(event, "address", plan.addressKnown ? DottedText(plan.address.data()) : "");
  event.Str("platform", plan.newPlatform ? "new" : "old")
      .Str("road", RoadName(plan))
      .Bool("jump", plan.jumpSetting == 0);
  OptionalStr(event, "version",
              plan.versionKnown ? VersionText(plan.version[0], plan.version[1]) : "");
  event.Int("image_bytes", plan.imageBytes)
      .Int("bytes_to_send", plan.bytesToSend)
      .Raw("steps", JsonStrings(steps));
  Write(event.Text());
}

void CliPanel::AttemptStarted(int attempt, int attempts, FailReason after) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (json_) {
    Write(JsonLine("attempt")
              .Int("attempt", attempt)
              .Int("of", attempts)
              .Str("after", FailReasonName(after))
              .Text());
  }
}

void CliPanel::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!atLineStart_) {
    Write("\n");
  }
  ClearBar();
}

void CliPanel::Result(const BoardOutcome& outcome, int exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!json_) {
    return;
  }
  JsonLine line("result");
  line.Bool("ok", outcome.ok).Int("exit", exitCode);
  OptionalStr(line, "reason", outcome.reason);
  line.Seconds("elapsed", outcome.seconds);
  OptionalStr(line, "mac", outcome.mac);
  OptionalStr(line, "address", outcome.address);
  if (haveVersion_) {
    line.Str("version", version_);
  }
  if (outcome.verified) {
    OptionalStr(line, "version_before", outcome.versionBefore);
    OptionalStr(line, "version_after", outcome.versionAfter);
  }
  if (haveModelName_) {
    line.Str("model_name", modelName_);
  }
  if (haveEeprom_) {
    line.Str("eeprom", eeprom_);
  }
  Write(line.Text());
}

void CliPanel::Summary(const std::vector<BoardOutcome>& boards, int exitCode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!json_) {
    Write((atLineStart_ ? "" : "\n") + SummaryTable(boards));
    return;
  }
  std::string array = "[";
  for (size_t i = 0; i < boards.size(); ++i) {
    const BoardOutcome& b = boards[i];
    JsonLine row;
    if (!b.card.empty()) {
      row.Str("card", b.card);
    }
    row.Str("mac", b.mac);
    OptionalStr(row, "address", b.address);
    row.Str("result", !b.ran ? "skipped" : (b.ok ? "ok" : "failed"));
    OptionalStr(row, "reason", b.reason);
    row.Seconds("elapsed", b.seconds);
    if (b.verified) {
      OptionalStr(row, "version_before", b.versionBefore);
      OptionalStr(row, "version_after", b.versionAfter);
    }
    std::string object = row.Text();
    object.pop_back();  // the newline
    array += (i == 0 ? "" : ",") + object;
  }
  array += "]";
  Write(JsonLine("summary").Int("exit", exitCode).Raw("boards", array).Text());
}

void CliPanel::Note(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  Write(json_ ? JsonLine("message").Str("text", line).Text()
              : (atLineStart_ ? "" : "\n") + line + "\n");
}

void CliPanel::Event(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  Write(line);
}

void CliPanel::ErrorLine(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearBar();
  Put(Stream::kErr, CardLead() + "kova-upgrade: " + text + "\n");
}

}  // namespace kova::cli
