#include "platform/core/Provider.h"

#include "platform/core/Error.h"

#include <unicode/uchar.h>

#include <mutex>

namespace platform::ado {

namespace {

std::string FoldKey(const std::string& name) {
    std::string key = name;
    for (auto& c : key)
        c = static_cast<char>(u_tolower(static_cast<unsigned char>(c)));
    return key;
}

struct ProviderRegistry {
    std::mutex mutex;
    std::map<std::string, ProviderFactory> factories;
};

ProviderRegistry& Providers() {
    static ProviderRegistry registry;
    return registry;
}

[[noreturn]] void NotSupported(const char* what) {
    throw Error(hr::adErrFeatureNotAvailable, std::string("The provider does not support ") + what);
}

} // namespace

void CommandProperties::Set(const std::string& name, const Variant& value) {
    values_[FoldKey(name)] = value;
}

Variant CommandProperties::Get(const std::string& name) const {
    auto found = values_.find(FoldKey(name));
    return found == values_.end() ? Variant() : found->second;
}

std::shared_ptr<Record> ProviderSession::OpenRecord(const std::string&, std::int32_t, std::int32_t,
                                                    std::int32_t) {
    NotSupported("records");
}
void ProviderSession::DeleteRecord(const std::string&) {
    NotSupported("deleting records");
}
void ProviderSession::BeginTrans() {
    NotSupported("transactions");
}
void ProviderSession::CommitTrans() {
    NotSupported("transactions");
}
void ProviderSession::RollbackTrans() {
    NotSupported("transactions");
}

void RegisterProvider(const std::string& name, ProviderFactory factory) {
    auto& registry = Providers();
    std::lock_guard lock(registry.mutex);
    registry.factories[FoldKey(name)] = std::move(factory);
}

void UnregisterProvider(const std::string& name) {
    auto& registry = Providers();
    std::lock_guard lock(registry.mutex);
    registry.factories.erase(FoldKey(name));
}

ScopedProvider::ScopedProvider(const std::string& name, ProviderFactory factory) : name_(name) {
    auto& registry = Providers();
    std::lock_guard lock(registry.mutex);
    auto& slot = registry.factories[FoldKey(name)];
    previous_ = std::move(slot);
    slot = std::move(factory);
}

ScopedProvider::~ScopedProvider() {
    auto& registry = Providers();
    std::lock_guard lock(registry.mutex);
    if (previous_)
        registry.factories[FoldKey(name_)] = std::move(previous_);
    else
        registry.factories.erase(FoldKey(name_));
}

// Used by the generic connection only.
std::unique_ptr<ProviderSession> OpenProviderSession(const std::string& provider,
                                                     const std::string& connectionString,
                                                     const std::string& userName,
                                                     const std::string& password) {
    ProviderFactory factory;
    {
        auto& registry = Providers();
        std::lock_guard lock(registry.mutex);
        auto found = registry.factories.find(FoldKey(provider));
        if (found == registry.factories.end())
            throw Error(hr::adErrProviderNotFound,
                        "Provider \"" + provider +
                            "\" cannot be found. It may not be properly installed.");
        factory = found->second;
    }
    auto session = factory(connectionString, userName, password);
    if (!session)
        throw Error(hr::E_FAIL, "Provider \"" + provider + "\" did not open a connection");
    return session;
}

} // namespace platform::ado
