// Loading the main window: where the program runs, the store's base URLs, a global catalog, and
// the two connections that live as long as the window.

#include "platform/core/Moniker.h"
#include "platform/core/ObjectFactory.h"
#include "platform/core/Text.h"
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

        blnBatchMode = IsBatchSwitch(argumentText_);
        PrepareProgressBar();
        setWindowTitle(blnBatchMode ? QString(kCaption) + " - batch mode" : QString(kCaption));

        const auto domain = adSystemInfo->DomainDNSName();
        ComputerName = platform::text::ToLower(ntSystemInfo->ComputerName()) + "." +
                       platform::text::ToLower(domain);
        ShortComputerName = ComputerName;
        const auto dot = ComputerName.find('.');
        if (dot != std::string::npos && dot > 0)
            ShortComputerName = ComputerName.substr(0, dot);

        auto buildUrls = [this](const std::string& domainFolder) {
            FileFolderURL = "file://./backofficestorage/" + domainFolder + "/mbx";
            FolderURL = "http://" + ComputerName + "/exadmin/" + domainFolder + "/mbx";
        };
        buildUrls(domain);
        const auto entries = platform::host::ListFolder(kNamespaceRoot);
        if (!entries.empty() && !entries.front().empty())
            buildUrls(entries.front());
        adSystemInfo.reset();
        ntSystemInfo.reset();

        auto rootDse = platform::GetObjectAs<platform::directory::IADs>("GC://RootDSE");
        strSearchRoot = "GC://" + rootDse->Get("dnshostname").ToText();

        cnn = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        cnn->SetProvider("adsDSOobject");
        cnn->Open(strSearchRoot, "", "");

        cnn1 = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        cnn1->SetProvider("ExOLEDB.DataSource");
        loaded = true;
    });
    return loaded;
}

} // namespace lorvanta::setup
