#pragma once

#include <atomic>
#include <string>

#include "common/operator_panel.h"

namespace kova {

// The message list, gauge and button services of the front end, as the
// engine's machines use them. MsgText is the last composed message; a message
// box shows it.
class MessageLog {
 public:
  explicit MessageLog(OperatorPanel& panel) : panel_(panel) {}

  std::string MsgText;

  // Show flag 1 appends the text to the list; any other value only traces it.
  void AppendMessage(int show, const std::string& text);
  // Composes `text` into MsgText, then appends it with the given show flag.
  void Say(int show, const std::string& text);
  void ClearMessages(int flag);
  // Lock flag 1 disables the five operation buttons; any other value enables them.
  void EnableControls(int lock);
  void SetGauge(int value);
  // Shows MsgText in a blocking box with the given caption.
  void MessageBox(const std::string& caption);

  // After a shutdown that a thread did not follow in time, that thread may no
  // longer reach the front end.
  void Bar() { barred_.store(true); }
  bool Barred() const { return barred_.load(); }
  OperatorPanel& Panel() { return panel_; }

 private:
  OperatorPanel& panel_;
  std::atomic<bool> barred_{false};
};

}  // namespace kova
