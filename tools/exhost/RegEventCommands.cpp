// exhost regevent add|delete|list: event registration items in a store folder. An item is
// written through the store provider's ADO objects with the same seven properties, in the same
// order, as the setup program writes them.

#include "Commands.h"
#include "JsonWriter.h"
#include "ServerContext.h"

#include "platform/com/ClassRegistry.h"
#include "platform/core/Ado.h"
#include "platform/core/Text.h"
#include "platform/store/EventRegistration.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

namespace ado = platform::ado;
namespace store = platform::store;
using platform::Variant;

constexpr const char* kStoreProvider = "ExOLEDB.DataSource";
const std::vector<std::string> kEventMethods = {
    "onsave", "ondelete", "onsyncsave", "onsyncdelete", "ontimer", "onmdbstartup", "onmdbshutdown"};
const std::vector<std::string> kMatchScopes = {"SHALLOW", "DEEP", "EXACT", "ANY"};

struct RegEventOptions {
    std::string root;
    std::string folder;
    std::string name;
    std::string event = "onsyncsave";
    std::string sink;
    std::string scope = "SHALLOW";
    std::string criteria;
    int priority = 1;
    bool json = false;
};

bool OneOf(const std::string& value, const std::vector<std::string>& allowed) {
    for (const auto& entry : allowed)
        if (platform::text::EqualsIgnoreCase(value, entry))
            return true;
    return false;
}

// The folder must exist and be a folder; the failure names it.
store::ItemLocation RequireFolder(store::Store& mailStore, const std::string& url) {
    const auto location = mailStore.Locate(url);
    const auto item = mailStore.Find(location);
    if (!item)
        throw UsageError("no such folder: " + url);
    if (!item->isFolder)
        throw UsageError("not a folder: " + url);
    return location;
}

std::string ItemUrl(const std::string& folder, const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        throw UsageError("invalid registration name \"" + name + "\"");
    return (folder.ends_with('/') ? folder : folder + "/") + name;
}

std::shared_ptr<ado::Connection> OpenStoreConnection(const std::string& folderUrl) {
    auto connection = platform::CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->SetProvider(kStoreProvider);
    connection->Open(folderUrl, "", "");
    return connection;
}

void RunAdd(const RegEventOptions& options) {
    if (!OneOf(options.event, kEventMethods))
        throw UsageError("unknown event method \"" + options.event + "\"");
    if (!OneOf(options.scope, kMatchScopes))
        throw UsageError("unknown match scope \"" + options.scope +
                         "\" (SHALLOW, DEEP, EXACT or ANY)");
    if (!platform::com::IsValidProgId(options.sink))
        throw UsageError("invalid sink ProgID \"" + options.sink + "\"");
    const auto folder = OpenServerFolder(options.root);
    RequireFolder(*OpenStore(folder), options.folder);
    const auto url = ItemUrl(options.folder, options.name);

    const auto connection = OpenStoreConnection(options.folder);
    auto record = platform::CreateObjectAs<ado::Record>("ADODB.Record");
    connection->BeginTrans();
    try {
        record->Open(url, connection, ado::adModeReadWrite, ado::adCreateNonCollection,
                     ado::adDelayFetchFields, "", "");
        auto fields = record->Fields();
        store::WriteEventRegistration(*fields,
                                      {options.event, options.sink, options.scope, options.criteria,
                                       std::to_string(options.priority)});
        fields->Update();
        record->Close();
        connection->CommitTrans();
    } catch (...) {
        connection->RollbackTrans();
        throw;
    }
    connection->Close();
    std::cout << url << "\n";
}

void RunDelete(const RegEventOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    const auto mailStore = OpenStore(folder);
    RequireFolder(*mailStore, options.folder);
    const auto url = ItemUrl(options.folder, options.name);
    const auto item = mailStore->Find(mailStore->Locate(url));
    if (!item)
        throw UsageError("no registration " + options.name + " in " + options.folder);
    const auto contentClass = item->properties.find(store::kContentClass);
    if (contentClass == item->properties.end() ||
        contentClass->second != Variant(store::kRegistrationClass))
        throw UsageError(url + " is not an event registration item");

    const auto connection = OpenStoreConnection(options.folder);
    auto record = platform::CreateObjectAs<ado::Record>("ADODB.Record");
    record->Open(url, connection, ado::adModeReadWrite, ado::adFailIfNotExists,
                 ado::adOpenRecordUnspecified, "", "");
    record->DeleteRecord(url, false);
    connection->Close();
    std::cout << "deleted " << url << "\n";
}

std::string Property(const store::Item& item, const std::string& name) {
    const auto found = item.properties.find(name);
    return found == item.properties.end() ? std::string() : found->second.ToText();
}

void RunList(const RegEventOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    const auto mailStore = OpenStore(folder);
    const auto location = RequireFolder(*mailStore, options.folder);
    const auto items = mailStore->RegistrationItemsIn(location.key);
    const std::vector<std::pair<std::string, std::string>> columns = {
        {"EventMethod", store::kEventMethodProperty}, {"SinkClass", store::kSinkClassProperty},
        {"MatchScope", store::kMatchScopeProperty},   {"priority", store::kPriorityProperty},
        {"criteria", store::kCriteriaProperty},
    };
    JsonWriter json;
    json.BeginArray();
    for (const auto& item : items) {
        const auto url = mailStore->UrlOf(item.key, location.url);
        const auto name = url.substr(url.find_last_of('/') + 1);
        if (options.json) {
            json.BeginObject();
            json.Key("name");
            json.Raw(JsonString(name));
            json.Key("url");
            json.Raw(JsonString(url));
            for (const auto& [label, property] : columns) {
                json.Key(label);
                json.Raw(JsonString(Property(item, property)));
            }
            json.EndObject();
            continue;
        }
        std::cout << name << "\n";
        for (const auto& [label, property] : columns)
            std::cout << "  " << label << ": " << Property(item, property) << "\n";
    }
    json.EndArray();
    if (options.json)
        std::cout << json.Text() << "\n";
    else if (items.empty())
        std::cout << "no event registrations in " << options.folder << "\n";
}

} // namespace

void AddRegEventCommands(CLI::App& app) {
    auto options = std::make_shared<RegEventOptions>();
    auto* group = app.add_subcommand("regevent", "Manage store event registration items");
    group->require_subcommand(1);

    auto* add = group->add_subcommand("add", "Create (or replace) a registration item");
    AddRootOption(*add, options->root);
    add->add_option("--folder", options->folder, "Folder URL")->required();
    add->add_option("--name", options->name, "Item name, e.g. Sink.reg")->required();
    add->add_option("--event", options->event, "Event method (default onsyncsave)");
    add->add_option("--sink", options->sink, "Sink class ProgID")->required();
    add->add_option("--scope", options->scope, "Match scope (default SHALLOW)");
    add->add_option("--criteria", options->criteria, "WHERE clause the item must meet");
    add->add_option("--priority", options->priority, "Priority (default 1)");
    add->callback([options] { RunAdd(*options); });

    auto* remove = group->add_subcommand("delete", "Delete a registration item");
    AddRootOption(*remove, options->root);
    remove->add_option("--folder", options->folder, "Folder URL")->required();
    remove->add_option("--name", options->name, "Item name")->required();
    remove->callback([options] { RunDelete(*options); });

    auto* list = group->add_subcommand("list", "List the registration items of a folder");
    AddRootOption(*list, options->root);
    list->add_option("--folder", options->folder, "Folder URL")->required();
    list->add_flag("--json", options->json, "Print JSON");
    list->callback([options] { RunList(*options); });
}

} // namespace exhost
