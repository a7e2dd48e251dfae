#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Files, local time, the console and the process as each system gives them.
// Paths are UTF-8 on both systems. Descriptors are the C runtime's: read,
// write, fstat and close work on them everywhere.
namespace kova::host {

// Opens `path` read-only without waiting for a writer (a FIFO would hold
// the open) and without handing it to child processes; in binary mode where
// the system has a text mode. A descriptor, or -1 with errno set.
int OpenForReading(const std::string& path);

// Opens `path` for appending, creating it readable and writable by its owner
// only where the system has owners; binary, not inherited. Never waits for a
// reader (a FIFO without one fails). -1 with errno.
int OpenForAppending(const std::string& path);

enum class FileKind { kRegular, kPipe, kOther };
// What an open descriptor is: a regular file, a pipe or FIFO, or anything
// else (a directory, a device, a terminal, a socket).
FileKind KindOf(int fd);

// Reads at most `size` bytes of `fd` into `buffer`, waiting for a pipe's
// writer until `deadline` at most. The count read, 0 at the end; -1 with
// errno set, ETIMEDOUT when nothing came in time.
long ReadBefore(int fd, char* buffer, size_t size, std::chrono::steady_clock::time_point deadline);

// Writes `text` to `fd` if that can be done without waiting for a reader
// (a pipe whose reader stopped would hold it for ever); else nothing.
void WriteWithoutWaiting(int fd, const std::string& text);

// Makes `path` and every missing parent, private to the owner where the
// system has owners; false with errno set.
bool MakeDirectories(const std::string& path);

struct DirectoryFile {
  std::string name;
  uint64_t size = 0;
};
// The regular files directly inside `directory` (none when it cannot be read).
std::vector<DirectoryFile> RegularFiles(const std::string& directory);
bool RemoveFile(const std::string& path);
bool IsDirectory(const std::string& path);
// Something is at `path`, and it is no regular file (a directory, a FIFO, a
// device or a socket).
bool IsOtherThanRegularFile(const std::string& path);
// "/x" on Linux; "C:\x", "\x", "/x" and "\\server\x" on Windows.
bool IsAbsolutePath(const std::string& path);
// '/', and on Windows '\' too.
bool IsPathSeparator(char c);

// Where a program keeps what it writes for the user: on Linux
// $XDG_STATE_HOME/PROGRAM, else $HOME/.local/state/PROGRAM; on Windows
// %LOCALAPPDATA%\PROGRAM. Empty when the environment names no place.
std::string UserStateDirectory(const std::string& program);
// The same as the user reads it in a help text: "$XDG_STATE_HOME/PROGRAM/"
// or "%LOCALAPPDATA%\\PROGRAM\\".
std::string UserStateDirectoryShown(const std::string& program);
// Which variables UserStateDirectory looks at, for a message when it found none.
std::string UserStateDirectoryRule();

std::tm LocalTime(std::time_t t);

// Whether descriptor 1 or 2 is a terminal (a console window on Windows)
// that a line may be redrawn on.
bool IsTerminal(int fd);
// The file this process runs from; empty when the system does not say.
std::string ExecutablePath();
long ProcessId();

}  // namespace kova::host
