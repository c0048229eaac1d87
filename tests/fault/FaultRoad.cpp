// Builds the fault tests' whole road (store, directory server child, private sink copy and its
// registration) and takes it down again.

#include "FaultRoad.h"
#include "FaultyDisk.h"

#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "testsupport/FileText.h"

#include <cstdlib>

namespace faulttest {

namespace fs = std::filesystem;

platform::directory::SampleDirectorySettings FaultRoad::Sample() {
    platform::directory::SampleDirectorySettings settings;
    settings.forestDnsName = kDomain;
    settings.users = 4;
    settings.seed = 3;
    return settings;
}

void FaultRoad::SetUp() {
    FaultyDisk::Install();
    ASSERT_EQ(server_.Problem(), "");
    for (const auto& proxy : server_.sample.firstLocalProxyAddresses)
        if (proxy.rfind("SMTP:", 0) == 0)
            ownerAddress_ = proxy.substr(5);
    ASSERT_FALSE(ownerAddress_.empty());
    const auto root = folder_.Root();

    // Started here rather than by the admin tool, so that the server is this process's child
    // and its end can be awaited after a kill.
    const auto names = platform::host::ServerFolder(root).ReadMachineNames();
    platform::directory::DirectoryServerSettings serverSettings;
    serverSettings.folder = platform::host::ServerFolder(root).DirectoryDir();
    serverSettings.forestDnsName = names.forestDnsName;
    serverSettings.hostName = names.globalCatalogHost;
    directory_ = std::make_unique<platform::directory::DirectoryServer>(serverSettings);
    directory_->Start();

    // A copy of its own, so that a test may remove or spoil it.
    dll_ = folder_.Path() / "Lorvanta.dll";
    fs::copy_file(LORVANTA_DLL, dll_);
    server_.RegisterSink(dll_.string(), server_.sample.localAliases.at(0));
    ASSERT_EQ(server_.Problem(), "");

    setenv(platform::host::kRootVariable, root.c_str(), 1);
    store_ = OpenAnotherStore();
}

std::shared_ptr<platform::store::Store> FaultRoad::OpenAnotherStore() const {
    return platform::store::Store::Open(platform::host::ServerFolder(folder_.Root()));
}

void FaultRoad::TearDown() {
    FaultyDisk::Repair();
    store_.reset();
    unsetenv(platform::host::kRootVariable);
    // Stopped here, by the process that can reap it.
    if (directory_)
        directory_->Stop();
}

void FaultRoad::AddRegistration(const std::string& name, const std::string& criteria,
                                int priority) {
    server_.Run({"regevent", "add", "--folder", InboxUrl(), "--name", name, "--event", "onsyncsave",
                 "--sink", kSinkProgId, "--scope", "SHALLOW", "--criteria", criteria, "--priority",
                 std::to_string(priority)});
    ASSERT_EQ(server_.Problem(), "");
}

std::string FaultRoad::Message(const std::string& subject, std::size_t bodySize) const {
    return "From: sender@partner.example.net\r\nTo: " + ownerAddress_ + "\r\nSubject: " + subject +
           "\r\n\r\n" + std::string(bodySize, 'x') + "\r\n";
}

std::string FaultRoad::Deliver(const std::string& subject,
                               const std::shared_ptr<platform::store::Store>& store,
                               std::size_t bodySize) {
    auto& target = store ? *store : *store_;
    return platform::store::DeliverMessage(target, MailboxUrl(), Message(subject, bodySize));
}

std::string FaultRoad::StampOf(const std::string& itemUrl) {
    return KeywordsOf(itemUrl, kAccountName);
}

std::string FaultRoad::KeywordsOf(const std::string& itemUrl, const std::string& property) {
    const auto item = store_->Read(store_->Locate(itemUrl));
    const auto found = item.properties.find(property);
    if (found == item.properties.end())
        return {};
    if (!found->second.IsArray())
        return found->second.ToText();
    std::string joined;
    for (const auto& keyword : found->second.Array())
        joined += (joined.empty() ? "" : "|") + keyword;
    return joined;
}

std::vector<std::string>
FaultRoad::InboxSubjects(const std::shared_ptr<platform::store::Store>& store) {
    auto& source = store ? *store : *store_;
    std::vector<std::string> subjects;
    for (const auto& item : source.Children(source.Locate(InboxUrl()), false)) {
        const auto subject = item.properties.find(platform::store::kSubject);
        if (subject != item.properties.end())
            subjects.push_back(subject->second.ToText());
    }
    return subjects;
}

std::string FaultRoad::EventLog() const {
    return testsupport::FileText(folder_.Path() / "store" / "events.log");
}

} // namespace faulttest
