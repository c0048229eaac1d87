#pragma once

// Directory objects bound by path with platform::GetObject("LDAP://...") or ("GC://...").

#include "platform/core/ObjectFactory.h"
#include "platform/core/Variant.h"

#include <string>

namespace platform::directory {

class IADs : public Object {
public:
    virtual std::string ADsPath() const = 0;
    // The attribute's value as the schema types it (a multi-valued attribute as an array of
    // texts). Fails with E_ADS_PROPERTY_NOT_FOUND when the object has no value for it.
    virtual Variant Get(const std::string& attribute) = 0;
};

class IADsUser : public IADs {
public:
    // Whether the account is disabled (bit 2 of userAccountControl). Fails with
    // E_ADS_PROPERTY_NOT_FOUND when the object has no userAccountControl.
    virtual bool AccountDisabled() = 0;
};

// Binds an ADsPath ("GC://RootDSE", "LDAP://host/DN", ...); the moniker handlers for "LDAP:" and
// "GC:" call this. Fails with ERROR_DS_NO_SUCH_OBJECT when the object does not exist,
// E_ADS_BAD_PATHNAME for a malformed path, ERROR_DS_SERVER_DOWN when no server answers.
std::shared_ptr<IADsUser> BindDirectoryObject(const std::string& path);

} // namespace platform::directory
