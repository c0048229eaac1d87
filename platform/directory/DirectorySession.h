#pragma once

// The "ADSDSOObject" provider's side of an open connection: runs queries of the LDAP and SQL
// dialects. Opened with "ADs Provider" (servers chosen by each query) or with a root such as
// "GC://host" (connects at once, so an unreachable server fails the open).

#include "platform/core/Provider.h"
#include "platform/directory/LdapConnectionPool.h"
#include "platform/directory/ServerAddress.h"

#include <memory>
#include <optional>
#include <string>

namespace platform::directory {

class DirectorySession final : public ado::ProviderSession {
public:
    explicit DirectorySession(const std::string& connectionString);

    std::shared_ptr<ado::Recordset> Execute(const std::string& commandText,
                                            const ado::CommandProperties& properties) override;
    void Close() override;

private:
    std::shared_ptr<LdapConnection> Connect(const std::string& uri);
    std::shared_ptr<ado::Recordset> Run(const std::string& commandText,
                                        const ado::CommandProperties& properties);

    std::optional<host::MachineNames> machine_;
    HeldConnections connections_;
};

} // namespace platform::directory
