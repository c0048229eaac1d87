// Runs the directory provider's queries: picks the dialect, resolves the server, applies the
// command's paging, size and time limits, and hands the rows back as a record set.

#include "platform/directory/DirectorySession.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/DirectoryRecordset.h"
#include "platform/directory/DirectorySchema.h"
#include "platform/directory/KeptEntries.h"
#include "platform/directory/LdapConnectionPool.h"
#include "platform/directory/RootDse.h"
#include "platform/directory/SqlDialect.h"

namespace platform::directory {

namespace {

constexpr const char* kDefaultConnectionString = "ADs Provider";

// A numeric command property; `fallback` when unset.
int IntegerProperty(const ado::CommandProperties& properties, const char* name, int fallback) {
    const auto value = properties.Get(name);
    if (value.IsEmpty() || value.IsNull())
        return fallback;
    if (value.IsInteger())
        return static_cast<int>(value.Integer());
    if (value.IsBool())
        return value.Bool() ? 1 : 0;
    try {
        return std::stoi(value.Text());
    } catch (const std::exception&) {
        throw Error(hr::DISP_E_TYPEMISMATCH,
                    std::string("The command property \"") + name + "\" is not a number");
    }
}

bool BoolProperty(const ado::CommandProperties& properties, const char* name, bool fallback) {
    const auto value = properties.Get(name);
    if (value.IsEmpty() || value.IsNull())
        return fallback;
    if (value.IsBool())
        return value.Bool();
    return IntegerProperty(properties, name, fallback ? 1 : 0) != 0;
}

} // namespace

DirectorySession::DirectorySession(const std::string& connectionString)
    : machine_(MachineNamesFromEnvironment()) {
    const auto root = text::TrimBlanks(connectionString);
    if (root.empty() || text::EqualsIgnoreCase(root, kDefaultConnectionString))
        return;
    Connect(ResolveServer(ParseDirectoryPath(root), machine_).uri);
}

std::shared_ptr<LdapConnection> DirectorySession::Connect(const std::string& uri) {
    return connections_.To(uri);
}

void DirectorySession::Close() {
    connections_.Clear();
}

std::shared_ptr<ado::Recordset>
DirectorySession::Execute(const std::string& commandText,
                          const ado::CommandProperties& properties) {
    return RetryOnStale(connections_, [&] { return Run(commandText, properties); });
}

std::shared_ptr<ado::Recordset> DirectorySession::Run(const std::string& commandText,
                                                      const ado::CommandProperties& properties) {
    DirectoryQuery query;
    SearchOptions options;
    std::shared_ptr<LdapConnection> connection;
    ServerAddress address;
    if (IsLdapDialect(commandText)) {
        query = ParseLdapDialect(commandText);
        options.scope = query.scope;
    } else {
        query = ParseSqlDialect(commandText, [&](const DirectoryPath& root) {
            address = ResolveServer(root, machine_);
            connection = Connect(address.uri);
            return SchemaNamingContext(*connection);
        });
        const int scope =
            IntegerProperty(properties, "searchscope", static_cast<int>(SearchScope::Subtree));
        if (scope < static_cast<int>(SearchScope::Base) ||
            scope > static_cast<int>(SearchScope::Subtree))
            throw Error(hr::E_INVALIDARG, "The command property \"searchscope\" must be 0, 1 or "
                                          "2, not " +
                                              std::to_string(scope));
        options.scope = static_cast<SearchScope>(scope);
    }
    if (!connection) {
        address = ResolveServer(query.root, machine_);
        connection = Connect(address.uri);
    }
    options.pageSize = IntegerProperty(properties, "Page Size", 0);
    options.sizeLimit = IntegerProperty(properties, "Size Limit", 0);
    options.timeLimitSeconds = IntegerProperty(properties, "Timeout", 0);
    options.chaseReferrals = IntegerProperty(properties, "Chase Referrals", 0) != 0;

    RecordsetOptions rowOptions;
    rowOptions.cacheResults = BoolProperty(properties, "cache results", true);
    rowOptions.descending = query.descending;

    // "adspath" is made from each entry's DN rather than asked of the server.
    std::vector<std::string> requested;
    std::vector<int> adsPathFields;
    for (std::size_t i = 0; i < query.attributes.size(); ++i) {
        const auto& name = query.attributes[i];
        if (text::EqualsIgnoreCase(name, "adspath"))
            adsPathFields.push_back(static_cast<int>(i));
        requested.push_back(name);
        if (!query.orderBy.empty() && rowOptions.orderBy < 0 &&
            text::EqualsIgnoreCase(name, query.orderBy))
            rowOptions.orderBy = static_cast<int>(i);
    }
    auto fieldNames = query.attributes;
    if (!query.orderBy.empty() && rowOptions.orderBy < 0) {
        // Sorting by an attribute that was not selected: fetch it in a hidden last column.
        requested.push_back(query.orderBy);
        rowOptions.orderBy = static_cast<int>(requested.size() - 1);
    }

    std::string base = query.root.dn;
    if (base.empty())
        base = address.namingContext.empty() ? DefaultNamingContext(*connection)
                                             : address.namingContext;

    // A caller who asks for ADsPaths binds to the rows next: the record set keeps the whole
    // entries for those binds while it is open.
    std::shared_ptr<KeptEntries::Lease> kept;
    if (!adsPathFields.empty()) {
        options.wholeEntries = true;
        kept = KeptEntries::Process().NewLease(address.uri);
    }
    auto schema = DirectorySchema::For(*connection);
    auto search = std::make_unique<LdapSearch>(connection, base, query.filter, requested, options);
    auto makeRow = [schema, requested, adsPathFields, root = query.root,
                    kept](const LdapEntry& entry) {
        if (kept && entry.whole)
            kept->Keep(entry.dn, entry.whole);
        Row row;
        row.reserve(requested.size());
        for (std::size_t i = 0; i < requested.size(); ++i)
            row.push_back(schema->ToVariant(requested[i], entry.values[i]));
        for (int field : adsPathFields) {
            auto path = root;
            path.dn = entry.dn;
            path.rootDse = false;
            row[field] = Variant(path.ToString());
        }
        return row;
    };
    return std::make_shared<DirectoryRecordset>(std::move(fieldNames), std::move(search),
                                                std::move(makeRow), rowOptions);
}

} // namespace platform::directory
