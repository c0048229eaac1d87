// machine.conf is one "key = value" per line: a value with a line break in it would add a line,
// and so a setting, of its own. Such values are refused and the file stays as it was.

#include "platform/host/ServerFolder.h"

#include "platform/core/Error.h"
#include "testsupport/FileText.h"

#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::host::MachineNames;
using platform::host::ServerFolder;

namespace {

TEST(MachineFileLines, AValueWithALineBreakIsRefusedAndTheFileKept) {
    const auto root = fs::temp_directory_path() / ("lorvanta-lines-" + std::to_string(getpid()));
    fs::remove_all(root);
    const ServerFolder folder(root);
    const MachineNames good{"MAIL01",           "example.com",        "example.com",
                            "dc01.example.com", "ldapi://%2Ftmp%2Fx", "postmaster"};
    folder.WriteMachineNames(good);
    const auto before = testsupport::FileText(folder.MachineFile());

    struct Case {
        const char* field;
        std::string MachineNames::*value;
    } cases[] = {
        {"computer", &MachineNames::computerName},
        {"domain", &MachineNames::domainDnsName},
        {"forest", &MachineNames::forestDnsName},
        {"gc_host", &MachineNames::globalCatalogHost},
        {"directory_uri", &MachineNames::directoryUri},
        {"postmaster", &MachineNames::postmaster},
    };
    for (const auto& c : cases)
        for (const std::string& end :
             {std::string("\n"), std::string("\r"), std::string(1, '\0')}) {
            auto bad = good;
            bad.*c.value += end + "directory_uri = ldap://evil.example";
            EXPECT_THROW(folder.WriteMachineNames(bad), platform::Error) << c.field;
            EXPECT_EQ(testsupport::FileText(folder.MachineFile()), before) << c.field;
        }
    EXPECT_EQ(folder.ReadMachineNames().directoryUri, good.directoryUri);
    fs::remove_all(root);
}

} // namespace
