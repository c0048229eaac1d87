// Reads VmHWM from /proc/<pid>/status.

#include "testsupport/PeakMemory.h"

#include <fstream>

namespace testsupport {

double PeakResidentMb(const std::string& process) {
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

} // namespace testsupport
