#pragma once

// What the server's schema says about attributes: whether one is single-valued and whether its
// values are numbers or truth values. Read once per server URI and kept for the process, since a
// schema does not change under a running program.

#include "platform/core/Variant.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::directory {

class LdapConnection;

enum class ValueKind { Text, Integer, Boolean };

struct AttributeInfo {
    bool singleValued = false;
    ValueKind kind = ValueKind::Text;
};

class DirectorySchema {
public:
    // The schema of the server behind the connection (empty when the server does not publish
    // one); read on first use for each URI.
    static std::shared_ptr<const DirectorySchema> For(LdapConnection& connection);
    // The schema of the server at `uri` when it has been read already, else null.
    static std::shared_ptr<const DirectorySchema> Known(const std::string& uri);

    // From "attributeTypes" values (RFC 4512 descriptions).
    static std::shared_ptr<const DirectorySchema>
    FromDescriptions(const std::vector<std::string>& descriptions);

    // Null when the attribute is unknown.
    const AttributeInfo* Find(const std::string& name) const;

    // The values as a field value: none -> Null; a single-valued attribute -> text, number or
    // truth value; a multi-valued attribute -> array of texts, even with one value. An attribute
    // the schema does not know is an array only when it has several values.
    Variant ToVariant(const std::string& name, const std::vector<std::string>& values) const;

private:
    std::map<std::string, AttributeInfo> attributes_; // by lower-case name
};

} // namespace platform::directory
