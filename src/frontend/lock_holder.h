#pragma once

#include <string>

// What both systems' interface locks write into and read from their lock
// files.
namespace kova {

// The interface's name as a file name may carry it.
std::string LockFileSafeName(const std::string& name);

// The holder's record: "PID PROGRAM DATE TIME\n", for this process.
std::string HolderRecord(const std::string& program);

// "PROGRAM, pid N, since DATE TIME" from the first `length` bytes of a
// record; "another process" from anything else.
std::string DescribeHolder(const char* record, size_t length);

}  // namespace kova
