#pragma once

// The peak resident memory of a process (its VmHWM), for benchmarks that report what a program
// needed at most.

#include <string>

namespace testsupport {

// In MB; `process` is a pid or "self". 0 when the process is gone or the figure unreadable.
double PeakResidentMb(const std::string& process = "self");

} // namespace testsupport
