// "ADSystemInfo" and "WinNTSystemInfo" answer from the server folder's machine names, read
// afresh on every call so that a changed machine.conf is seen at once.

#include "platform/core/Error.h"
#include "platform/directory/SystemInfo.h"
#include "platform/host/ServerFolder.h"

namespace platform::directory {

namespace {

host::MachineNames ReadNames() {
    return host::ServerFolder::FromEnvironment().ReadMachineNames();
}

std::string Required(const std::string& value, const char* what) {
    if (value.empty())
        throw Error(hr::E_FAIL, std::string("The server folder's machine names give no ") + what);
    return value;
}

class MachineADSystemInfo final : public ADSystemInfo {
public:
    std::string ForestDNSName() override {
        return Required(ReadNames().forestDnsName, "forest name");
    }
    std::string DomainDNSName() override {
        return Required(ReadNames().domainDnsName, "domain name");
    }
};

class MachineWinNTSystemInfo final : public WinNTSystemInfo {
public:
    std::string ComputerName() override { return ReadNames().computerName; }
};

} // namespace

std::shared_ptr<ADSystemInfo> MakeADSystemInfo() {
    return std::make_shared<MachineADSystemInfo>();
}

std::shared_ptr<WinNTSystemInfo> MakeWinNTSystemInfo() {
    return std::make_shared<MachineWinNTSystemInfo>();
}

} // namespace platform::directory
