// exhost show URL [--json]: an item's properties, or a folder's with the items in it.

#include "Commands.h"
#include "JsonWriter.h"
#include "ServerContext.h"

#include "platform/store/Store.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace exhost {

namespace {

namespace store = platform::store;

struct ShowOptions {
    std::string root;
    std::string url;
    bool json = false;
};

// A value of several lines (a header block, a body) continues on indented lines.
std::string Indented(const std::string& value, const std::string& indent) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\r' && i + 1 < value.size() && value[i + 1] == '\n')
            continue;
        out += value[i];
        if (value[i] == '\n' && i + 1 < value.size())
            out += indent;
    }
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

void PrintText(const std::string& url, const store::Item& item, const std::string& indent) {
    std::cout << indent << url << (item.isFolder ? " (folder)" : "") << "\n";
    for (const auto& [name, value] : item.properties) {
        if (value.IsArray()) {
            std::cout << indent << "  " << name << ":\n";
            for (const auto& entry : value.Array())
                std::cout << indent << "    - " << entry << "\n";
        } else {
            std::cout << indent << "  " << name << ": " << Indented(value.ToText(), indent + "    ")
                      << "\n";
        }
    }
}

void WriteItem(JsonWriter& json, const std::string& url, const store::Item& item) {
    json.Key("url");
    json.Raw(JsonString(url));
    json.Key("folder");
    json.Value(item.isFolder);
    json.Key("properties");
    json.BeginObject();
    for (const auto& [name, value] : item.properties) {
        json.Key(name);
        json.Value(value);
    }
    json.EndObject();
}

void RunShow(const ShowOptions& options) {
    const auto folder = OpenServerFolder(options.root);
    const auto mailStore = OpenStore(folder);
    const auto location = mailStore->Locate(options.url);
    const auto item = mailStore->Read(location);
    std::vector<std::pair<std::string, store::Item>> children;
    if (item.isFolder)
        for (auto& child : mailStore->Children(location, false))
            children.emplace_back(mailStore->UrlOf(child.key, location.url), std::move(child));

    const auto url = location.Url();
    if (options.json) {
        JsonWriter json;
        json.BeginObject();
        WriteItem(json, url, item);
        if (item.isFolder) {
            json.Key("items");
            json.BeginArray();
            for (const auto& [childUrl, child] : children) {
                json.BeginObject();
                WriteItem(json, childUrl, child);
                json.EndObject();
            }
            json.EndArray();
        }
        json.EndObject();
        std::cout << json.Text() << "\n";
        return;
    }
    PrintText(url, item, "");
    for (const auto& [childUrl, child] : children) {
        std::cout << "\n";
        PrintText(childUrl, child, "  ");
    }
}

} // namespace

void AddShowCommand(CLI::App& app) {
    auto options = std::make_shared<ShowOptions>();
    auto* command = app.add_subcommand("show", "Print a store item, or a folder with its items");
    AddRootOption(*command, options->root);
    command->add_option("URL", options->url, "Item or folder URL (file: or http: form)")
        ->required();
    command->add_flag("--json", options->json, "Print JSON");
    command->callback([options] { RunShow(*options); });
}

} // namespace exhost
