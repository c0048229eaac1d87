// The provider registry behind "ADODB.Connection": providers register by name, a connection opens
// one session of the named provider, and what a provider leaves out fails as not supported.

#include "platform/core/Provider.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"

namespace platform::ado {

namespace {

// Property names are ASCII; they compare without regard to letter case.
std::string FoldKey(std::string name) {
    return text::AsciiLower(std::move(name));
}

NamedRegistry<ProviderFactory>& Providers() {
    static NamedRegistry<ProviderFactory> providers;
    return providers;
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
    Providers().Set(name, std::move(factory));
}

void UnregisterProvider(const std::string& name) {
    Providers().Erase(name);
}

ScopedProvider::ScopedProvider(const std::string& name, ProviderFactory factory)
    : entry_(Providers(), name, std::move(factory)) {
}

ScopedProvider::~ScopedProvider() = default;

// Used by the generic connection only.
std::unique_ptr<ProviderSession> OpenProviderSession(const std::string& provider,
                                                     const std::string& connectionString,
                                                     const std::string& userName,
                                                     const std::string& password) {
    const auto factory = Providers().Find(provider).value_or(nullptr);
    if (!factory)
        throw Error(hr::adErrProviderNotFound,
                    "Provider \"" + provider +
                        "\" cannot be found. It may not be properly installed.");
    auto session = factory(connectionString, userName, password);
    if (!session)
        throw Error(hr::E_FAIL, "Provider \"" + provider + "\" did not open a connection");
    return session;
}

} // namespace platform::ado
