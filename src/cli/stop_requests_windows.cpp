#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/stop_requests.h"

namespace kova::cli {

namespace {

// Windows ends a process about 5 s after a close, log-off or shut-down
// event, whatever its handler does: the clean-up gets a little less.
constexpr DWORD kCloseGraceMs = 4500;

// The handler runs on a thread of the system's; it knows the events only.
HANDLE stopEvent = nullptr;
HANDLE cleanedEvent = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
  SetEvent(stopEvent);
  switch (type) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Returning ends the process at once.
      WaitForSingleObject(cleanedEvent, kCloseGraceMs);
      break;
    default:
      break;
  }
  return TRUE;
}

void EnableLineEscapes(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

}  // namespace

StopRequests::StopRequests() {
  if (stopEvent == nullptr) {
    stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    cleanedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  // The events stay: a handler may still be waiting on one.
  SetEvent(cleanedEvent);
}

bool StopRequests::Wait(std::chrono::milliseconds limit) {
  return WaitForSingleObject(stopEvent, static_cast<DWORD>(limit.count())) == WAIT_OBJECT_0;
}

std::string StopRequestsShown() {
  return "Ctrl+C, Ctrl+Break or closing the console";
}

void PrepareStandardStreams() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
  EnableLineEscapes(STD_OUTPUT_HANDLE);
  EnableLineEscapes(STD_ERROR_HANDLE);
}

}  // namespace kova::cli
