#pragma once

// The provider side of the ADO-style objects. A provider ("ExOLEDB.DataSource",
// "ADSDSOObject", a test double) registers a factory under its name; opening an
// "ADODB.Connection" whose Provider names it creates one ProviderSession, and every
// record, record set and command on that connection is served by that session.

#include "platform/core/Ado.h"
#include "platform/core/NamedRegistry.h"

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace platform::ado {

// Command properties by name; lookups ignore letter case ("Page Size" = "page size").
class CommandProperties {
public:
    void Set(const std::string& name, const Variant& value);
    // Empty when the property was never set.
    Variant Get(const std::string& name) const;

private:
    std::map<std::string, Variant> values_;
};

class ProviderSession {
public:
    virtual ~ProviderSession() = default;
    virtual std::shared_ptr<Recordset> Execute(const std::string& commandText,
                                               const CommandProperties& properties) = 0;
    virtual std::shared_ptr<Record> OpenRecord(const std::string& url, std::int32_t mode,
                                               std::int32_t createOptions, std::int32_t options);
    virtual void DeleteRecord(const std::string& url);
    virtual void BeginTrans();
    virtual void CommitTrans();
    virtual void RollbackTrans();
    virtual void Close() {}
};

using ProviderFactory = std::function<std::unique_ptr<ProviderSession>(
    const std::string& connectionString, const std::string& userName, const std::string& password)>;

// Provider names compare without regard to case. A later registration replaces an earlier one.
void RegisterProvider(const std::string& name, ProviderFactory factory);
void UnregisterProvider(const std::string& name);

// For tests: a provider that takes precedence for its lifetime; the one it replaced (if any)
// comes back on destruction.
class ScopedProvider {
public:
    ScopedProvider(const std::string& name, ProviderFactory factory);
    ~ScopedProvider();
    ScopedProvider(const ScopedProvider&) = delete;
    ScopedProvider& operator=(const ScopedProvider&) = delete;

private:
    ScopedEntry<ProviderFactory> entry_;
};

// Opens a session of the named provider; fails with adErrProviderNotFound for an unknown one.
// The generic connection uses it; nothing else needs to.
std::unique_ptr<ProviderSession> OpenProviderSession(const std::string& provider,
                                                     const std::string& connectionString,
                                                     const std::string& userName,
                                                     const std::string& password);

} // namespace platform::ado
