#pragma once

// UTF-8 and the UTF-16 of the Windows calls. Included by Windows files only.

#include <windows.h>

#include <string>

namespace kova::host {

inline std::wstring Widen(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  }
  return wide;
}

inline std::string Narrow(const wchar_t* wide, int length = -1) {
  if (wide == nullptr) {
    return std::string();
  }
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    return std::string();
  }
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
  if (length < 0 && !text.empty() && text.back() == '\0') {
    text.pop_back();
  }
  return text;
}

// Text in the system's ANSI code page (what the older calls return) as
// UTF-8; unchanged where that code page is UTF-8 already.
inline std::string AnsiToUtf8(const char* text) {
  if (text == nullptr || GetACP() == CP_UTF8) {
    return text == nullptr ? std::string() : std::string(text);
  }
  const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) {
    return std::string(text);
  }
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
  return Narrow(wide.c_str());
}

// The system's own words for an error code, without the closing period.
inline std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = n > 0 ? Narrow(text) : "error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

}  // namespace kova::host
