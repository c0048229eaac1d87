#pragma once

// What the server's admin tool does with the COM+ catalog: list, install, remove. Each call opens
// the catalog of the given server folder for itself.

#include "platform/com/ClassRegistry.h"
#include "platform/host/ServerFolder.h"

#include <filesystem>
#include <string>
#include <vector>

namespace platform::complus {

struct ApplicationListing {
    std::string id;
    std::string name;
    std::string identity;
    bool passwordSet = false; // the password itself is never handed out
    bool accessChecksEnabled = true;
    std::vector<com::ClassRegistration> components;
};

std::vector<ApplicationListing> ListApplications(const host::ServerFolder& folder);

// One block per application: ID and name, identity, "password: set" or "password: not set",
// access checks, then one line per component class.
std::string FormatApplications(const std::vector<ApplicationListing>& applications);

// Adds an application with access checks off, the identity and password when both are given,
// and the DLL's classes as its components; returns its ID. When the component cannot be
// installed the application is taken out again, so nothing is left behind.
std::string InstallApplication(const host::ServerFolder& folder, const std::string& name,
                               const std::filesystem::path& dll, const std::string& identity,
                               const std::string& password);

// Removes every application with that name (letter case ignored) or ID, with its classes;
// returns how many. Fails with COMADMIN_E_OBJECT_DOES_NOT_EXIST when none matches.
int RemoveApplications(const host::ServerFolder& folder, const std::string& nameOrId);

} // namespace platform::complus
