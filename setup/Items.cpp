// Creates, finds and deletes the sink's registration item in a mailbox folder through the store's
// ADO objects, logging the first failure and stopping there.

#include "setup/Items.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/EventRegistration.h"
#include "platform/store/PropertyNames.h"
#include "setup/Attempt.h"

namespace lorvanta::setup {

namespace ado = platform::ado;

namespace {

const std::string kStoreProvider = "ExOLEDB.DataSource";

std::shared_ptr<ado::Connection> NewConnection() {
    return platform::CreateObjectAs<ado::Connection>("ADODB.Connection");
}

std::shared_ptr<ado::Record> NewRecord() {
    return platform::CreateObjectAs<ado::Record>("ADODB.Record");
}

void OpenStore(ado::Connection& connection, const std::string& folderUrl) {
    connection.SetProvider(kStoreProvider);
    connection.SetConnectionString(folderUrl);
    connection.Open("", "", "");
}

// Turns the working URL (the mailbox URL on entry) into the folder's URL. The Inbox is found
// through the mailbox's own property, whatever it is called in the mailbox's language.
void ResolveFolder(const std::shared_ptr<ado::Connection>& connection, ado::Record& lookup,
                   const std::string& folderName, std::string& workingUrl) {
    if (!platform::text::EqualsIgnoreCase(folderName, "inbox")) {
        workingUrl += "/" + folderName;
        return;
    }
    lookup.Open(workingUrl, connection, ado::adModeRead, ado::adFailIfNotExists,
                ado::adOpenRecordUnspecified, "", "");
    auto fields = lookup.Fields();
    if (fields->Count() >= 1)
        workingUrl = fields->Item(platform::store::kInboxProperty)->Value().ToText();
    lookup.Close();
}

// The store connection and record a registration is created or deleted with, and the URL of the
// folder it lives in once resolved. Released without further calls: an open transaction is left
// uncommitted.
struct RegistrationFolder {
    std::shared_ptr<ado::Connection> connection;
    std::shared_ptr<ado::Record> record;
    std::string url;

    void Open(const std::string& folderUrl, const std::string& folderName) {
        url = folderUrl;
        connection = NewConnection();
        record = NewRecord();
        OpenStore(*connection, folderUrl);
        ResolveFolder(connection, *record, folderName, url);
    }
    void Release() {
        record.reset();
        connection.reset();
    }
};

} // namespace

std::string CreateEventRegistration(ErrorLog& log, const std::string& folderUrl,
                                    const std::string& folderName, const std::string& itemName,
                                    const std::string& eventMethod, const std::string& sinkClass,
                                    const std::string& matchScope, const std::string& criteria,
                                    const std::string& priority, bool logErrors) {
    RegistrationFolder folder;
    const auto failure = Attempt([&] {
        folder.Open(folderUrl, folderName);
        folder.connection->BeginTrans();
        folder.record->Open(folder.url + "/" + itemName, folder.connection, ado::adModeReadWrite,
                            ado::adCreateNonCollection, ado::adDelayFetchFields, "", "");
        auto fields = folder.record->Fields();
        platform::store::WriteEventRegistration(
            *fields, {eventMethod, sinkClass, matchScope, criteria, priority});
        fields->Update();
        folder.record->Close();
        folder.connection->CommitTrans();
    });
    folder.Release();
    if (!failure)
        return folder.url;
    if (logErrors)
        WriteErrorLine(log, folderUrl, *failure);
    return "";
}

bool DeleteEventRegistration(ErrorLog& log, const std::string& folderUrl,
                             const std::string& folderName, const std::string& itemName,
                             bool logErrors) {
    RegistrationFolder folder;
    const auto failure = Attempt([&] {
        folder.Open(folderUrl, folderName);
        const auto itemUrl = folder.url + "/" + itemName;
        folder.record->Open(itemUrl, folder.connection, ado::adModeReadWrite,
                            ado::adFailIfNotExists, ado::adOpenRecordUnspecified, "", "");
        folder.record->DeleteRecord(itemUrl, false);
    });
    folder.Release();
    if (!failure)
        return true;
    if (logErrors)
        WriteErrorLine(log, folderUrl, *failure);
    return false;
}

std::int16_t FindEventRegistration(ErrorLog& log, const std::string& folderUrl,
                                   const std::string& folderName, const std::string& displayName,
                                   const std::string& extraCriteria, bool logErrors,
                                   std::shared_ptr<ado::Connection>& connection) {
    std::int16_t result = -1;
    std::shared_ptr<ado::Recordset> rows;
    std::shared_ptr<ado::Record> folder;
    std::shared_ptr<ado::Record> lookup;
    bool madeHere = false;
    std::string workingUrl = folderUrl;
    const auto failure = Attempt([&] {
        rows = platform::CreateObjectAs<ado::Recordset>("ADODB.Recordset");
        folder = NewRecord();
        lookup = NewRecord();
        if (!connection || connection->TypeName() != "Connection") {
            connection = NewConnection();
            madeHere = true;
            connection->SetProvider(kStoreProvider);
        }
        // A connection that is still open refuses a new connection string.
        connection->SetConnectionString(folderUrl);
        connection->Open("", "", "");
        ResolveFolder(connection, *lookup, folderName, workingUrl);
        // Fails when the folder does not exist, which a query alone would not tell.
        folder->Open(workingUrl, connection, ado::adModeRead, ado::adFailIfNotExists,
                     ado::adOpenRecordUnspecified, "", "");
        const std::string query = std::string("select ") + " \"DAV:displayname\"" +
                                  " from scope ('shallow traversal of " + "\"" + workingUrl +
                                  "\"') " + " WHERE \"DAV:displayname\" = '" + displayName + "'" +
                                  extraCriteria;
        rows->Open(query, connection, -1, -1, -1);
        result = rows->Eof() ? 0 : 1;
        if (rows->State() != ado::adStateClosed)
            rows->Close();
        if (folder->State() != ado::adStateClosed)
            folder->Close();
    });
    if (failure) {
        result = -1;
        if (logErrors)
            WriteErrorLine(log, workingUrl, *failure);
    }
    // A borrowed connection is left closed too.
    if (connection && connection->TypeName() == "Connection") {
        Attempt([&] {
            if (connection->State() != ado::adStateClosed)
                connection->Close();
        });
    }
    rows.reset();
    folder.reset();
    lookup.reset();
    if (madeHere)
        connection.reset();
    return result;
}

} // namespace lorvanta::setup
