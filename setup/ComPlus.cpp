// Drives the COM+ catalog for the sink's application: find it, install it with Lorvanta.dll from
// the current directory, remove it, logging each failure and giving up at the first.

#include "setup/ComPlus.h"

#include "platform/complus/Catalog.h"
#include "platform/complus/NewApplication.h"
#include "platform/core/Text.h"
#include "setup/Attempt.h"

#include <filesystem>

namespace lorvanta::setup {

namespace complus = platform::complus;

namespace {

struct OpenApplications {
    std::shared_ptr<complus::ComAdminCatalog> catalog;
    std::shared_ptr<complus::CatalogCollection> applications;
};

// Creates the catalog, gets its "Applications" and populates them; fills `open` step by step so
// that the caller releases whatever was made before a failure.
void Open(OpenApplications& open) {
    open.catalog = platform::CreateObjectAs<complus::ComAdminCatalog>(complus::kCatalogProgId);
    open.applications = open.catalog->GetCollection("Applications");
    open.applications->Populate();
}

// The index of the first application of that name, or -1.
std::int32_t FirstNamed(complus::CatalogCollection& applications, const std::string& name) {
    const auto count = applications.Count();
    for (std::int32_t index = 0; index < count; ++index) {
        std::string text;
        if (auto application = applications.Item(index))
            text = application->Name().ToText();
        if (platform::text::EqualsIgnoreCase(text, name))
            return index;
    }
    return -1;
}

void Log(ErrorLog& log, const std::optional<platform::Error>& failure) {
    if (failure)
        WriteErrorLine(log, "", *failure);
}

} // namespace

std::string ComponentPath(const std::string& applicationName) {
    // No separator check: a current directory of "/" gives two separators, passed as built. The
    // window looks for the file under this same path, so what it finds is what gets installed.
    return std::filesystem::current_path().string() + "/" + applicationName + ".dll";
}

bool FindComPlusApp(ErrorLog& log, const std::string& applicationName) {
    bool result = false;
    OpenApplications open;
    const auto failure = Attempt([&] {
        Open(open);
        result = FirstNamed(*open.applications, applicationName) >= 0;
    });
    open = {};
    Log(log, failure);
    return failure ? false : result;
}

void RemoveComPlusApp(ErrorLog& log, const std::string& applicationName) {
    OpenApplications open;
    const auto failure = Attempt([&] {
        Open(open);
        const auto index = FirstNamed(*open.applications, applicationName);
        if (index < 0)
            return;
        open.applications->Remove(index);
        open.applications->SaveChanges();
    });
    open = {};
    Log(log, failure);
}

void InstallComPlusApp(ErrorLog& log, const std::string& applicationName,
                       const std::string& identity, const std::string& password) {
    OpenApplications open;
    std::shared_ptr<complus::CatalogObject> application;
    const auto failure = Attempt([&] {
        Open(open);
        application = open.applications->Add();
        complus::SetUpNewApplication(*application, applicationName, identity, password);
        application.reset();
        open.applications->SaveChanges();
        open.catalog->InstallComponent(applicationName, ComponentPath(applicationName), "", "");
    });
    application.reset();
    open = {};
    Log(log, failure);
}

} // namespace lorvanta::setup
