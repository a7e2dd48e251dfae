#include "frontend/lock_holder.h"

#include <cstdio>
#include <ctime>

#include "platform/host_files.h"

namespace kova {

std::string LockFileSafeName(const std::string& name) {
  std::string safe = name;
  for (char& c : safe) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '.' || c == '-' || c == '_';
    if (!plain) {
      c = '_';
    }
  }
  return safe;
}

std::string HolderRecord(const std::string& program) {
  const std::tm local = host::LocalTime(std::time(nullptr));
  char now[32];
  std::strftime(now, sizeof now, "%Y-%m-%d %H:%M:%S", &local);
  return std::to_string(host::ProcessId()) + " " + program + " " + now + "\n";
}

std::string DescribeHolder(const char* record, size_t length) {
  const std::string text(record, length);
  char program[128] = "";
  char date[16] = "";
  char time[16] = "";
  long pid = 0;
  if (std::sscanf(text.c_str(), "%ld %127s %15s %15s", &pid, program, date, time) != 4) {
    return "another process";
  }
  return std::string(program) + ", pid " + std::to_string(pid) + ", since " + date + " " + time;
}

}  // namespace kova
