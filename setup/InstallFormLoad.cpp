// Loading the main window: where the program runs, the store's base URLs, a global catalog, and
// the two connections that live as long as the window.

#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/directory/Ads.h"
#include "platform/directory/SystemInfo.h"
#include "platform/host/FileListing.h"
#include "setup/BatchSwitch.h"
#include "setup/InstallForm.h"

namespace lorvanta::setup {

namespace {
constexpr const char* kNamespaceRoot = "\\\\.\\backofficestorage\\";
constexpr const char* kCaption = "Lorvanta setup";
} // namespace

bool InstallForm::Load() {
    bool loaded = false;
    Dispatch([&] {
        auto adSystemInfo =
            platform::CreateObjectAs<platform::directory::ADSystemInfo>("ADSystemInfo");
        auto ntSystemInfo =
            platform::CreateObjectAs<platform::directory::WinNTSystemInfo>("WinNTSystemInfo");

        batchMode_ = IsBatchSwitch(argumentText_);
        progressBar_->Prepare();
        setWindowTitle(batchMode_ ? QString(kCaption) + " - batch mode" : QString(kCaption));

        const auto domain = adSystemInfo->DomainDNSName();
        const auto netBiosName = ntSystemInfo->ComputerName();
        site_ = SiteFor(netBiosName, domain, platform::host::ListFolder(kNamespaceRoot));
        adSystemInfo.reset();
        ntSystemInfo.reset();

        auto rootDse = platform::GetObjectAs<platform::directory::IADs>("GC://RootDSE");
        searchRoot_ = "GC://" + rootDse->Get("dnshostname").ToText();

        directoryConnection_ =
            platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        directoryConnection_->SetProvider("adsDSOobject");
        directoryConnection_->Open(searchRoot_, "", "");

        storeConnection_ = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        storeConnection_->SetProvider("ExOLEDB.DataSource");
        loaded = true;
    });
    return loaded;
}

} // namespace lorvanta::setup
