#pragma once

// The directory's SQL dialect:
//   SELECT a, b, c FROM 'GC://host[/base DN]' [WHERE condition] [ORDER BY a [ASC|DESC]]
// Conditions: attribute op value with op one of = <> != <= >= < >, joined by AND, OR, NOT and
// parentheses. Values are texts in single quotes ('' for a quote inside) or bare numbers or
// words. In "=" a "*" is a wildcard; everything else is escaped for the LDAP filter, so a value
// can never widen or break the filter.

#include "platform/directory/DirectoryQuery.h"

#include <functional>
#include <string>
#include <string_view>

namespace platform::directory {

// Gives the DN of the schema container (e.g. "CN=Schema,CN=Configuration,DC=corp,DC=com") of the
// directory that the query's root names; asked only when a condition compares objectCategory
// with a bare class name.
using SchemaDnSource = std::function<std::string(const DirectoryPath& root)>;

// Fails with DB_E_ERRORSINCOMMAND, naming what is wrong and where, when the text is not a query
// of this dialect.
DirectoryQuery ParseSqlDialect(std::string_view text, const SchemaDnSource& schemaDn);

} // namespace platform::directory
