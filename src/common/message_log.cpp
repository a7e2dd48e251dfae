#include "common/message_log.h"

namespace kova {

void MessageLog::AppendMessage(int show, const std::string& text) {
  if (Barred()) {
    return;
  }
  if (show == 1) {
    panel_.AppendText(text);
  } else {
    panel_.TraceText(text);
  }
}

void MessageLog::Say(int show, const std::string& text) {
  MsgText = text;
  AppendMessage(show, MsgText);
}

void MessageLog::ClearMessages(int flag) {
  if (flag == 1 && !Barred()) {
    panel_.ClearList();
  }
}

void MessageLog::EnableControls(int lock) {
  if (!Barred()) {
    panel_.EnableButtons(lock != 1);
  }
}

void MessageLog::SetGauge(int value) {
  if (!Barred()) {
    panel_.SetGauge(value);
  }
}

void MessageLog::MessageBox(const std::string& caption) {
  if (!Barred()) {
    panel_.ShowMessageBox(MsgText, caption);
  }
}

}  // namespace kova
