// Reads VmHWM from /proc/<pid>/status and wchar from /proc/<pid>/io.

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

double WrittenBytes(const std::string& process) {
    std::ifstream io("/proc/" + process + "/io");
    std::string name;
    double value = 0;
    while (io >> name >> value)
        if (name == "wchar:")
            return value;
    return 0;
}

} // namespace testsupport
