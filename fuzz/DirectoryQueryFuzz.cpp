// The directory's two query dialects, chosen the way the directory provider chooses: a text
// that starts with "<" is the LDAP dialect, anything else the SQL dialect.
//
// Input: the command text. Refusals must be syntax errors or bad paths. An accepted SQL query
// must give an LDAP filter that the client library encodes; an accepted LDAP-dialect query
// must read back the same when written out again.

#include "FuzzCheck.h"
#include "LdapFilter.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/DirectoryQuery.h"
#include "platform/directory/SqlDialect.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

namespace directory = platform::directory;
namespace text = platform::text;

const char* ScopeName(directory::SearchScope scope) {
    switch (scope) {
    case directory::SearchScope::Base:
        return "base";
    case directory::SearchScope::OneLevel:
        return "onelevel";
    case directory::SearchScope::Subtree:
        return "subtree";
    }
    return "";
}

bool SamePath(const directory::DirectoryPath& a, const directory::DirectoryPath& b) {
    return a.scheme == b.scheme && a.host == b.host && a.dn == b.dn && a.rootDse == b.rootDse;
}

void CheckRoot(const directory::DirectoryPath& root, std::string_view input) {
    const auto written = root.ToString();
    try {
        fuzz::Check(SamePath(directory::ParseDirectoryPath(written), root),
                    "a written search root reads back the same", input, written);
    } catch (const platform::Error& error) {
        fuzz::Broken("a written search root reads back", input,
                     written + " | " + error.Description());
    }
}

void CheckSql(const directory::DirectoryQuery& query, std::string_view input) {
    fuzz::Check(!query.attributes.empty(), "a SQL query names attributes", input);
    fuzz::Check(query.filter.size() >= 2 && query.filter.front() == '(' &&
                    query.filter.back() == ')',
                "a SQL query's filter is parenthesised", input, query.filter);
    fuzz::Check(fuzz::IsValidLdapFilter(query.filter), "a SQL query's filter is valid", input,
                query.filter);
    CheckRoot(query.root, input);
}

void CheckLdap(const directory::DirectoryQuery& query, std::string_view input) {
    fuzz::Check(!query.filter.empty(), "an LDAP-dialect query has a filter", input);
    fuzz::Check(!query.attributes.empty(), "an LDAP-dialect query names attributes", input);
    std::string written = "<" + query.root.ToString() + ">;" + query.filter + ";";
    for (std::size_t i = 0; i < query.attributes.size(); ++i) {
        const auto& attribute = query.attributes[i];
        fuzz::Check(!attribute.empty() && attribute.find_first_of(",;") == std::string::npos &&
                        text::TrimBlanks(attribute) == attribute,
                    "an attribute name is trimmed and holds no separator", input, attribute);
        written += (i ? "," : "") + attribute;
    }
    written += std::string(";") + ScopeName(query.scope);
    CheckRoot(query.root, input);
    try {
        const auto reread = directory::ParseLdapDialect(written);
        fuzz::Check(SamePath(reread.root, query.root) && reread.filter == query.filter &&
                        reread.attributes == query.attributes && reread.scope == query.scope,
                    "a written LDAP-dialect query reads back the same", input, written);
    } catch (const platform::Error& error) {
        fuzz::Broken("a written LDAP-dialect query reads back", input,
                     written + " | " + error.Description());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const bool ldap = directory::IsLdapDialect(input);
    try {
        if (ldap) {
            CheckLdap(directory::ParseLdapDialect(input), input);
        } else {
            const auto query =
                directory::ParseSqlDialect(input, [](const directory::DirectoryPath&) {
                    return std::string("CN=Schema,CN=Configuration,DC=corp,DC=example,DC=com");
                });
            CheckSql(query, input);
        }
    } catch (const platform::Error& error) {
        fuzz::Check(error.Number() == platform::hr::DB_E_ERRORSINCOMMAND ||
                        error.Number() == platform::hr::E_ADS_BAD_PATHNAME,
                    "a refused query is a syntax error or a bad path", input, error.Description());
    }
    return 0;
}
