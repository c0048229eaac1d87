#pragma once

// The machine's place in the directory, as "ADSystemInfo" and "WinNTSystemInfo" report it.

#include "platform/core/ObjectFactory.h"

#include <memory>
#include <string>

namespace platform::directory {

// "ADSystemInfo": facts of the directory that this machine belongs to.
class ADSystemInfo : public Object {
public:
    std::string TypeName() const override { return "ADSystemInfo"; }
    virtual std::string ForestDNSName() = 0;
    virtual std::string DomainDNSName() = 0;
};

// "WinNTSystemInfo": the machine's own names.
class WinNTSystemInfo : public Object {
public:
    std::string TypeName() const override { return "WinNTSystemInfo"; }
    virtual std::string ComputerName() = 0;
};

// The objects that read the server folder's machine names (what "ADSystemInfo" and
// "WinNTSystemInfo" create).
std::shared_ptr<ADSystemInfo> MakeADSystemInfo();
std::shared_ptr<WinNTSystemInfo> MakeWinNTSystemInfo();

} // namespace platform::directory
