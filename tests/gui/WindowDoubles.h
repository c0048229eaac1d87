#pragma once

// Stand-ins for what the main window meets on load, able to fail its first and last step.

#include "platform/complus/Catalog.h"
#include "platform/core/Error.h"
#include "platform/core/Moniker.h"
#include "platform/directory/Ads.h"
#include "platform/host/FileListing.h"
#include "tests/gui/Controls.h"
#include "testsupport/FakeDirectory.h"

enum class LoadFailure { None, NetBios, DirectoryOpen };

class WindowDoubles {
public:
    explicit WindowDoubles(LoadFailure failure = LoadFailure::None)
        : listing_("\\\\.\\backofficestorage\\",
                   [](const std::string&) { return std::vector<std::string>{}; }),
          gc_("GC:",
              [](const std::string&) -> std::shared_ptr<platform::Object> {
                  return std::make_shared<RootDse>();
              }),
          catalog_(platform::complus::kCatalogProgId, []() -> std::shared_ptr<platform::Object> {
              throw platform::Error(platform::hr::E_FAIL, "catalog unavailable");
          }) {
        if (failure == LoadFailure::NetBios)
            directory.state().computerName.clear();
        directory.state().openFails = failure == LoadFailure::DirectoryOpen;
    }

    doubles::FakeDirectory directory;

private:
    class RootDse : public platform::directory::IADs {
    public:
        std::string TypeName() const override { return "IADs"; }
        std::string ADsPath() const override { return "GC://RootDSE"; }
        platform::Variant Get(const std::string&) override { return "dc01.corp.example.com"; }
    };

    platform::host::ScopedNamespace listing_;
    platform::ScopedMonikerHandler gc_;
    platform::ScopedObjectFactory catalog_;
};
