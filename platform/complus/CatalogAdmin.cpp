// The admin tool's view of the COM+ catalog: listing applications with their components,
// installing a DLL into a new application and removing applications by name or ID.

#include "platform/complus/CatalogAdmin.h"

#include "platform/com/Guid.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/complus/CatalogFile.h"
#include "platform/complus/CatalogObjects.h"
#include "platform/complus/NewApplication.h"
#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include <sstream>

namespace platform::complus {

namespace {

bool Matches(const Variant& id, const Variant& name, const std::string& nameOrId) {
    return text::EqualsIgnoreCase(id.ToText(), nameOrId) ||
           text::EqualsIgnoreCase(name.ToText(), nameOrId);
}

} // namespace

std::vector<ApplicationListing> ListApplications(const host::ServerFolder& folder) {
    std::vector<ApplicationListing> listing;
    for (const auto& stored : CatalogFile(folder.ComPlusDir()).Read()) {
        ApplicationListing entry;
        entry.id = stored.Id();
        entry.name = stored.Name();
        entry.identity = stored.Get("Identity").ToText();
        entry.passwordSet = !stored.Get("Password").ToText().empty();
        const auto checks = stored.Get("ApplicationAccessChecksEnabled");
        entry.accessChecksEnabled = !checks.IsBool() || checks.Bool();
        entry.components = stored.components;
        listing.push_back(std::move(entry));
    }
    return listing;
}

std::string FormatApplications(const std::vector<ApplicationListing>& applications) {
    std::ostringstream out;
    for (const auto& application : applications) {
        out << application.id << ' ' << application.name << '\n'
            << "  identity: " << application.identity << '\n'
            << "  password: " << (application.passwordSet ? "set" : "not set") << '\n'
            << "  access checks: " << (application.accessChecksEnabled ? "on" : "off") << '\n';
        for (const auto& component : application.components)
            out << "  component: " << com::FormatGuid(component.clsid) << ' ' << component.progId
                << ' ' << component.threadingModel << ' ' << component.server.string() << '\n';
    }
    return out.str();
}

std::string InstallApplication(const host::ServerFolder& folder, const std::string& name,
                               const std::filesystem::path& dll, const std::string& identity,
                               const std::string& password) {
    auto catalog = OpenCatalog(folder);
    auto applications = catalog->GetCollection("Applications");
    applications->Populate();
    auto application = applications->Add();
    SetUpNewApplication(*application, name, identity, password);
    const auto id = application->Key().ToText();
    applications->SaveChanges();
    try {
        catalog->InstallComponent(id, dll.string(), "", "");
    } catch (const Error&) {
        applications->Populate();
        for (std::int32_t index = 0; index < applications->Count(); ++index)
            if (text::EqualsIgnoreCase(applications->Item(index)->Key().ToText(), id)) {
                applications->Remove(index);
                applications->SaveChanges();
                break;
            }
        throw;
    }
    return id;
}

int RemoveApplications(const host::ServerFolder& folder, const std::string& nameOrId) {
    auto catalog = OpenCatalog(folder);
    auto applications = catalog->GetCollection("Applications");
    applications->Populate();
    int removed = 0;
    for (std::int32_t index = applications->Count() - 1; index >= 0; --index) {
        auto application = applications->Item(index);
        if (Matches(application->Key(), application->Name(), nameOrId)) {
            applications->Remove(index);
            ++removed;
        }
    }
    if (removed == 0)
        throw Error(hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST,
                    "No COM+ application has the name or ID \"" + nameOrId + "\"");
    applications->SaveChanges();
    return removed;
}

} // namespace platform::complus
