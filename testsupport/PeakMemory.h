#pragma once

// The peak resident memory of a process (its VmHWM), and the bytes it has written, for benchmarks
// that report what a program needed at most or how much it wrote for its work.

#include <string>

namespace testsupport {

// In MB; `process` is a pid or "self". 0 when the process is gone or the figure unreadable.
double PeakResidentMb(const std::string& process = "self");

// Bytes the process has handed to write calls so far (files and sockets alike): /proc's wchar.
double WrittenBytes(const std::string& process = "self");

} // namespace testsupport
