// Binding ADsPaths to user objects: reads the entry once (from a search's kept copy when there is
// one, else over a pooled connection) and serves its attributes as ADSI's property cache does.

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/Ads.h"
#include "platform/directory/DirectorySchema.h"
#include "platform/directory/KeptEntries.h"
#include "platform/directory/LdapConnection.h"
#include "platform/directory/LdapConnectionPool.h"
#include "platform/directory/RootDse.h"
#include "platform/directory/ServerAddress.h"

namespace platform::directory {

namespace {

constexpr std::int64_t kAccountDisable = 0x2;

// A bound object keeps the attributes read at binding, like ADSI's property cache.
class BoundObject final : public IADsUser {
public:
    BoundObject(std::string path, LdapConnection::AttributeMap attributes,
                std::shared_ptr<const DirectorySchema> schema)
        : path_(std::move(path)), attributes_(std::move(attributes)), schema_(std::move(schema)) {}

    std::string TypeName() const override { return "IADsUser"; }
    std::string ADsPath() const override { return path_; }

    Variant Get(const std::string& attribute) override {
        auto found = attributes_.find(text::AsciiLower(attribute));
        if (found == attributes_.end() || found->second.empty())
            throw Error(hr::E_ADS_PROPERTY_NOT_FOUND, "The directory object \"" + path_ +
                                                          "\" has no value for \"" + attribute +
                                                          "\"");
        return schema_->ToVariant(attribute, found->second);
    }

    bool AccountDisabled() override {
        const auto value = Get("userAccountControl");
        std::int64_t flags = 0;
        if (value.IsInteger()) {
            flags = value.Integer();
        } else {
            try {
                flags = std::stoll(value.ToText());
            } catch (const std::exception&) {
                throw Error(hr::DISP_E_TYPEMISMATCH,
                            "The userAccountControl of \"" + path_ + "\" is not a number");
            }
        }
        return (flags & kAccountDisable) != 0;
    }

private:
    std::string path_;
    LdapConnection::AttributeMap attributes_;
    std::shared_ptr<const DirectorySchema> schema_;
};

} // namespace

namespace {

std::shared_ptr<IADsUser> BindOn(LdapConnection& connection, const std::string& path,
                                 const DirectoryPath& parsed, const ServerAddress& address) {
    std::string dn = parsed.dn;
    if (!parsed.rootDse && dn.empty())
        dn = address.namingContext.empty() ? DefaultNamingContext(connection)
                                           : address.namingContext;
    auto attributes =
        connection.ReadAllAttributes(parsed.rootDse ? std::string() : dn, parsed.rootDse);
    if (!attributes)
        throw Error(hr::ERROR_DS_NO_SUCH_OBJECT,
                    "There is no such object on the server: \"" + path + "\"");
    return std::make_shared<BoundObject>(path, std::move(*attributes),
                                         DirectorySchema::For(connection));
}

// Binding object after object (a window that checks every listed mailbox) would otherwise pay a
// connect and a bind round trip each time: the connection comes from the process pool.
std::shared_ptr<IADsUser> Bind(const std::string& path) {
    const auto parsed = ParseDirectoryPath(path);
    const auto address = ResolveServer(parsed, MachineNamesFromEnvironment());
    if (!parsed.rootDse && !parsed.dn.empty()) {
        auto schema = DirectorySchema::Known(address.uri);
        auto kept = schema ? KeptEntries::Process().Find(address.uri, parsed.dn) : std::nullopt;
        if (kept)
            return std::make_shared<BoundObject>(path, std::move(*kept), std::move(schema));
    }
    HeldConnections held;
    return RetryOnStale(held, [&] { return BindOn(*held.To(address.uri), path, parsed, address); });
}

} // namespace

std::shared_ptr<IADsUser> BindDirectoryObject(const std::string& path) {
    try {
        return Bind(path);
    } catch (const Error& error) {
        if (error.Description().find(path) != std::string::npos)
            throw;
        throw Error(error.Number(), "Binding \"" + path + "\": " + error.Description());
    }
}

} // namespace platform::directory
