#pragma once

// A server folder in a temporary directory with a store holding the domain folder
// "example.com", the mailboxes "alice" and "bob" and a system mailbox. EXHOST_ROOT points at it
// for the duration of a test, so that the provider finds it. The event service creates the
// test's sinks, by ProgID, from `sinks`.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "platform/core/ObjectFactory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/EventService.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "testsupport/FileText.h"
#include "testsupport/ScopedServerFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace storetest {

inline const std::string kFileBase = "file://./backofficestorage/example.com/mbx";
inline const std::string kHttpBase = "http://mail01.example.com/exadmin/example.com/mbx";
// Alice's mailbox and Inbox, where most tests work.
inline const std::string kMailbox = kFileBase + "/alice";
inline const std::string kInbox = kMailbox + "/Inbox";

class TempStore : public ::testing::Test {
protected:
    void SetUp() override {
        scoped = std::make_unique<testsupport::ScopedServerFolder>();
        root = scoped->Path();
        platform::host::ServerFolder folder(root);
        folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "dc01.example.com", ""});
        store = platform::store::Store::Open(folder);
        store->CreateDomainFolder("example.com");
        store->CreateMailbox("example.com", "alice");
        store->CreateMailbox("example.com", "bob");
        systemMailbox = store->CreateSystemMailbox("example.com");
        previousCreator = platform::store::SetSinkCreator([this](const std::string& progId) {
            const auto found = sinks.find(progId);
            if (found == sinks.end())
                throw platform::Error(platform::hr::REGDB_E_CLASSNOTREG,
                                      "Class not registered: " + progId);
            return platform::com::ComPtr<platform::store::IExStoreSyncEvents>(found->second);
        });
    }
    void TearDown() override {
        platform::store::SetSinkCreator(previousCreator);
        store.reset();
        scoped.reset();
    }

    std::shared_ptr<platform::ado::Connection> Connect(const std::string& url) {
        auto connection = platform::CreateObjectAs<platform::ado::Connection>("ADODB.Connection");
        connection->SetProvider("ExOLEDB.DataSource");
        connection->Open(url, "", "");
        return connection;
    }

    std::shared_ptr<platform::ado::Record>
    OpenRecord(const std::shared_ptr<platform::ado::Connection>& connection, const std::string& url,
               std::int32_t mode, std::int32_t create) {
        auto record = platform::CreateObjectAs<platform::ado::Record>("ADODB.Record");
        record->Open(url, connection, mode, create, -1, "", "");
        return record;
    }

    // Creates a plain item with the given properties through the provider, on a connection of
    // its own unless one is given.
    void CreateItem(const std::string& url, const platform::store::PropertyMap& properties,
                    std::shared_ptr<platform::ado::Connection> connection = nullptr) {
        if (!connection)
            connection = Connect(url.substr(0, url.rfind('/')));
        auto record = OpenRecord(connection, url, 3, 0x4000000);
        for (const auto& [name, value] : properties)
            record->Fields()->Item(name)->SetValue(value);
        record->Fields()->Update();
        record->Close();
    }

    // A new item saved straight into the store; its number in its folder.
    std::int64_t Add(const std::string& url, const platform::store::PropertyMap& properties = {}) {
        auto save = store->NewItem(store->Locate(url));
        for (const auto& [name, value] : properties)
            save.Set(name, value);
        store->Save(save);
        return save.number;
    }

    // A save of the item (or folder) at `url` as stored, with `name` set to `value`.
    platform::store::PendingSave Edit(const std::string& url, const std::string& name,
                                      const platform::Variant& value) {
        platform::store::PendingSave save;
        save.location = store->Locate(url);
        const auto item = store->Read(save.location);
        save.isFolder = item.isFolder;
        save.properties = item.properties;
        save.Set(name, value);
        return save;
    }
    void Change(const std::string& url, const std::string& name, const platform::Variant& value) {
        auto save = Edit(url, name, value);
        store->Save(save);
    }

    // The store as another connection opens it.
    std::shared_ptr<platform::store::Store> OpenAnother() const {
        return platform::store::Store::Open(platform::host::ServerFolder(root));
    }

    // What the Inbox of `mailbox` holds, read through `reader` (else the test's store).
    std::vector<platform::store::Item> Inbox(const std::string& mailbox,
                                             platform::store::Store* reader = nullptr) {
        auto& from = reader ? *reader : *store;
        return from.Children(from.Locate(kFileBase + "/" + mailbox + "/Inbox"), false);
    }

    // The folder's items as (number, name), and its numbers in `numbers`.
    using Listed = std::vector<std::pair<std::int64_t, std::string>>;
    Listed Listing(const std::string& url, platform::store::FolderNumbers& numbers) {
        const auto& name = platform::store::kDisplayName;
        Listed listed;
        for (const auto& item : store->NumberedItems(store->Locate(url), numbers, {name}))
            listed.emplace_back(item.number, item.item.properties.at(name).Text());
        return listed;
    }
    Listed Listing(const std::string& url) {
        platform::store::FolderNumbers ignored;
        return Listing(url, ignored);
    }

    std::string EventLog() const { return testsupport::FileText(root / "store" / "events.log"); }

    std::unique_ptr<testsupport::ScopedServerFolder> scoped;
    std::filesystem::path root;
    std::shared_ptr<platform::store::Store> store;
    std::string systemMailbox;
    platform::store::SinkCreator previousCreator;
    std::map<std::string, platform::store::IExStoreSyncEvents*> sinks;
};

} // namespace storetest
