// Makes the special-use folders of a mailbox, and tells them by their names.

#include "server/mailstore/DefaultFolders.h"

#include "server/imap/ImapSessionContext.h"

#include "platform/core/Text.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

namespace server::mailstore {

namespace store = platform::store;

std::string SpecialUseOf(std::string_view path) {
    for (const auto& folder : kSpecialFolders)
        if (platform::text::EqualsIgnoreCase(path, folder.name))
            return folder.use;
    return {};
}

void MakeSpecialFolders(store::Store& store, const std::string& mailboxUrl) {
    const auto root = store.Locate(mailboxUrl);
    const auto item = store.Read(root);
    const auto made = item.properties.find(store::kSpecialFoldersMade);
    if (made != item.properties.end() && made->second.IsBool() && made->second.Bool())
        return;
    store.BeginTransaction();
    try {
        for (const auto& folder : kSpecialFolders) {
            const auto url = mailboxUrl + "/" + folder.name;
            if (!store.Exists(store.Locate(url)))
                store.CreateFolder(url);
        }
        // Until now every folder counted as subscribed; from now on the owner says which are.
        std::vector<std::string> subscribed;
        for (const auto& path : store.FolderPaths(root))
            subscribed.push_back(imap::MailboxName(path));
        store::PendingSave save;
        save.location = root;
        save.isFolder = true;
        save.properties = item.properties;
        save.Set(store::kSpecialFoldersMade, platform::Variant(true));
        if (item.properties.find(store::kSubscriptions) == item.properties.end())
            save.Set(store::kSubscriptions, platform::Variant(subscribed));
        store.Save(save);
        store.CommitTransaction();
    } catch (...) {
        if (store.InTransaction())
            store.RollbackTransaction();
        throw;
    }
}

} // namespace server::mailstore
