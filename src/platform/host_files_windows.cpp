#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/host_files.h"
#include "platform/wide_text_windows.h"

namespace kova::host {

int OpenForReading(const std::string& path) {
  return _wopen(Widen(path).c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

int OpenForAppending(const std::string& path) {
  return _wopen(Widen(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT,
                _S_IREAD | _S_IWRITE);
}

FileKind KindOf(int fd) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle == INVALID_HANDLE_VALUE) {
    return FileKind::kOther;
  }
  switch (GetFileType(handle)) {
    case FILE_TYPE_DISK:
      return FileKind::kRegular;
    case FILE_TYPE_PIPE:
      return FileKind::kPipe;
    default:
      return FileKind::kOther;
  }
}

long ReadBefore(int fd, char* buffer, size_t size, std::chrono::steady_clock::time_point deadline) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_PIPE) {
    // A pipe read waits for its writer for ever; it is read once it holds
    // something, and only that much.
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &available, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE) {
          return 0;  // the writer has gone, and all it wrote has been read
        }
        errno = EIO;
        return -1;
      }
      if (available > 0) {
        size = std::min<size_t>(size, available);
        break;
      }
      if (std::chrono::steady_clock::now() >= deadline) {
        errno = ETIMEDOUT;
        return -1;
      }
      Sleep(10);
    }
  }
  return _read(fd, buffer, static_cast<unsigned>(size));
}

void WriteWithoutWaiting(int fd, const std::string& text) {
  // -2: a program without a console has no standard streams.
  const intptr_t raw = _get_osfhandle(fd);
  if (raw == -1 || raw == -2) {
    return;
  }
  const auto handle = reinterpret_cast<HANDLE>(raw);
  if (GetFileType(handle) == FILE_TYPE_PIPE) {
    // Without waiting, a pipe takes what fits or nothing.
    DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
    if (!SetNamedPipeHandleState(handle, &mode, nullptr, nullptr)) {
      return;
    }
  }
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool MakeDirectories(const std::string& path) {
  // A drive ("C:") or a share ("\\server\share") is not made.
  size_t from = 1;
  if (path.size() >= 2 && path[1] == ':') {
    from = 3;
  } else if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    from = path.find_first_of("/\\", path.find_first_of("/\\", 2) + 1);
    if (from == std::string::npos) {
      return true;
    }
  }
  for (size_t slash = path.find_first_of("/\\", from);;
       slash = path.find_first_of("/\\", slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && _wmkdir(Widen(part).c_str()) != 0 && errno != EEXIST) {
      return false;
    }
    if (slash == std::string::npos) {
      return true;
    }
  }
}

std::vector<DirectoryFile> RegularFiles(const std::string& directory) {
  std::vector<DirectoryFile> files;
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(Widen(directory + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    return files;
  }
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0) {
      const uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
      files.push_back({Narrow(found.cFileName), size});
    }
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return files;
}

bool RemoveFile(const std::string& path) {
  return _wunlink(Widen(path).c_str()) == 0;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsOtherThanRegularFile(const std::string& path) {
  return IsDirectory(path);
}

bool IsPathSeparator(char c) {
  return c == '/' || c == '\\';
}

bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && IsPathSeparator(path[0])) {
    return true;
  }
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive;
}

std::string UserStateDirectory(const std::string& program) {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || *local == L'\0') {
    return "";
  }
  return Narrow(local) + "\\" + program;
}

std::string UserStateDirectoryShown(const std::string& program) {
  return "%LOCALAPPDATA%\\" + program + "\\";
}

std::string UserStateDirectoryRule() {
  return "LOCALAPPDATA is not set";
}

std::tm LocalTime(std::time_t t) {
  std::tm local{};
  localtime_s(&local, &t);
  return local;
}

bool IsTerminal(int fd) {
  const HANDLE handle = GetStdHandle(fd == 2 ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  // A console that cannot take the escape that clears a line gets no
  // progress bar.
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0 &&
         (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

std::string ExecutablePath() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(sizeof path / sizeof *path));
  if (n == 0 || n >= sizeof path / sizeof *path) {
    return "";
  }
  return Narrow(path, static_cast<int>(n));
}

long ProcessId() {
  return static_cast<long>(GetCurrentProcessId());
}

}  // namespace kova::host
