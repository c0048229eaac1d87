// Reads a server's attribute types from its subschema entry, keeps them per server URI, and turns
// raw attribute values into texts, numbers or truth values the way AD callers expect them.

#include "platform/directory/DirectorySchema.h"

#include "platform/core/Text.h"
#include "platform/directory/LdapConnection.h"

#include <ldap.h>
#include <ldap_schema.h>

#include <cctype>
#include <mutex>

namespace platform::directory {

namespace {

constexpr const char* kIntegerSyntax = "1.3.6.1.4.1.1466.115.121.1.27";
constexpr const char* kBooleanSyntax = "1.3.6.1.4.1.1466.115.121.1.7";

// Attributes that Active Directory declares single-valued while the standard LDAP schema (built
// into OpenLDAP, so not redefinable there) lets them hold several values. Callers written for AD
// read them as plain texts.
constexpr const char* kSingleValuedInActiveDirectory[] = {
    "cn",
    "commonname",
    "mail",
    "rfc822mailbox",
    "sn",
    "surname",
    "givenname",
    "name",
    "displayname",
    "co",
    "company",
    "department",
    "title",
    "l",
    "st",
    "c",
    "postalcode",
    "streetaddress",
    "telephonenumber",
    "physicaldeliveryofficename",
    "samaccountname",
};

std::string Lower(std::string text) {
    return text::AsciiLower(std::move(text));
}

struct SchemaCache {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<const DirectorySchema>> byUri;
};

SchemaCache& Cache() {
    static SchemaCache cache;
    return cache;
}

} // namespace

std::shared_ptr<const DirectorySchema>
DirectorySchema::FromDescriptions(const std::vector<std::string>& descriptions) {
    auto schema = std::make_shared<DirectorySchema>();
    // Syntaxes are inherited from the supertype; resolve them after reading every type.
    std::map<std::string, std::string> superOf;
    std::map<std::string, std::string> syntaxOf;
    for (const auto& description : descriptions) {
        int code = 0;
        const char* error = nullptr;
        LDAPAttributeType* type =
            ldap_str2attributetype(description.c_str(), &code, &error, LDAP_SCHEMA_ALLOW_ALL);
        if (!type)
            continue;
        AttributeInfo info;
        info.singleValued = type->at_single_value != 0;
        for (char** name = type->at_names; name && *name; ++name) {
            const auto key = Lower(*name);
            schema->attributes_[key] = info;
            if (type->at_syntax_oid)
                syntaxOf[key] = type->at_syntax_oid;
            if (type->at_sup_oid)
                superOf[key] = Lower(type->at_sup_oid);
        }
        ldap_attributetype_free(type);
    }
    for (const char* name : kSingleValuedInActiveDirectory)
        schema->attributes_[name].singleValued = true;
    for (auto& [name, info] : schema->attributes_) {
        std::string current = name;
        for (int depth = 0; depth < 16 && !syntaxOf.count(current) && superOf.count(current);
             ++depth)
            current = superOf[current];
        const auto found = syntaxOf.find(current);
        if (found == syntaxOf.end())
            continue;
        if (found->second == kIntegerSyntax)
            info.kind = ValueKind::Integer;
        else if (found->second == kBooleanSyntax)
            info.kind = ValueKind::Boolean;
    }
    return schema;
}

std::shared_ptr<const DirectorySchema> DirectorySchema::Known(const std::string& uri) {
    auto& cache = Cache();
    std::lock_guard lock(cache.mutex);
    const auto found = cache.byUri.find(uri);
    return found == cache.byUri.end() ? nullptr : found->second;
}

std::shared_ptr<const DirectorySchema> DirectorySchema::For(LdapConnection& connection) {
    auto& cache = Cache();
    {
        std::lock_guard lock(cache.mutex);
        auto found = cache.byUri.find(connection.Uri());
        if (found != cache.byUri.end())
            return found->second;
    }
    std::vector<std::string> descriptions;
    const auto root = connection.ReadEntry("", {"subschemaSubentry"});
    if (root && !root->values[0].empty()) {
        const auto subschema = connection.ReadEntry(root->values[0][0], {"attributeTypes"});
        if (subschema)
            descriptions = subschema->values[0];
    }
    auto schema = FromDescriptions(descriptions);
    std::lock_guard lock(cache.mutex);
    return cache.byUri.emplace(connection.Uri(), schema).first->second;
}

const AttributeInfo* DirectorySchema::Find(const std::string& name) const {
    auto found = attributes_.find(Lower(name));
    return found == attributes_.end() ? nullptr : &found->second;
}

Variant DirectorySchema::ToVariant(const std::string& name,
                                   const std::vector<std::string>& values) const {
    if (values.empty())
        return Variant::Null();
    const auto* info = Find(name);
    const bool single = info ? info->singleValued : values.size() == 1;
    if (!single)
        return Variant(Variant::TextArray(values));
    const auto& value = values.front();
    if (info && info->kind == ValueKind::Integer) {
        try {
            std::size_t used = 0;
            const auto number = std::stoll(value, &used);
            if (used == value.size())
                return Variant(static_cast<std::int64_t>(number));
        } catch (const std::exception&) {
            // Not a number after all: hand out the text.
        }
    }
    if (info && info->kind == ValueKind::Boolean)
        return Variant(value == "TRUE");
    return Variant(value);
}

} // namespace platform::directory
