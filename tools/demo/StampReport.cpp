// Reads back what the registered sink stamped on the messages that arrived in a mailbox of the
// server folder that EXHOST_ROOT names, and prints one table row per message file: the
// recipients its headers name, the owner's addresses in the directory, and the account name and
// keywords stored on the message.
//
// The files are paired with the mailbox's messages in the order they were stored, so they must
// be given in the order they were sent; each pair is checked by its subject.

#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "sink/LorvantaModule.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

using Cell = std::vector<std::string>; // one line of text per entry
using Row = std::vector<Cell>;

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Cell AddressList(const std::string& list) {
    Cell cell;
    std::istringstream in(list);
    for (std::string address; std::getline(in, address, ',');)
        cell.push_back(address);
    return cell.empty() ? Cell{"(none)"} : cell;
}

Cell Keywords(const platform::Variant& value) {
    if (!value.IsArray() || value.Array().empty())
        return {"(none)"};
    return value.Array();
}

void PrintTable(const std::vector<Row>& rows) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows)
        for (std::size_t column = 0; column < row.size(); ++column)
            for (const auto& line : row[column])
                widths[column] = std::max(widths[column], line.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto& row = rows[r];
        std::size_t height = 0;
        for (const auto& cell : row)
            height = std::max(height, cell.size());
        for (std::size_t line = 0; line < height; ++line) {
            std::string text;
            for (std::size_t column = 0; column < row.size(); ++column) {
                const auto& cell = row[column];
                const auto entry = line < cell.size() ? cell[line] : std::string();
                text += entry + std::string(widths[column] - entry.size() + 2, ' ');
            }
            std::cout << text.substr(0, text.find_last_not_of(' ') + 1) << "\n";
        }
        if (r == 0) {
            std::size_t total = 0;
            for (auto width : widths)
                total += width + 2;
            std::cout << std::string(total - 2, '-') << "\n";
        } else if (r + 1 < rows.size()) {
            std::cout << "\n";
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: stamp_report DOMAIN MAILBOX MESSAGE-FILE...\n";
        return 2;
    }
    try {
        const std::string domain = argv[1];
        const std::string mailbox = argv[2];
        auto store = platform::store::Store::OpenFromEnvironment();
        const auto inbox = store->Locate("file://./backofficestorage/" + domain + "/mbx/" +
                                         mailbox + "/" + platform::store::kInboxName);
        std::vector<platform::store::PropertyMap> messages;
        for (auto& item : store->Children(inbox, false))
            if (item.properties[platform::store::kContentClass].ToText() ==
                platform::store::kMessageClass)
                messages.push_back(std::move(item.properties));
        const auto files = argc - 3;
        if (messages.size() != static_cast<std::size_t>(files))
            throw std::runtime_error("the Inbox holds " + std::to_string(messages.size()) +
                                     " messages, not one per file (" + std::to_string(files) + ")");

        const auto owners = AddressList(lorvanta::GetOwnerAddresses(mailbox));
        std::vector<Row> rows{{{"Message file"},
                               {"Header recipients"},
                               {"Owner's addresses"},
                               {"Account name stamped"},
                               {"Keywords stamped"}}};
        for (int i = 0; i < files; ++i) {
            const std::filesystem::path path(argv[3 + i]);
            const auto parsed = platform::store::ParseMessage(ReadFile(path));
            auto& stored = messages[static_cast<std::size_t>(i)];
            if (stored[platform::store::kSubject].ToText() != parsed.subject)
                throw std::runtime_error("the message stored in place " + std::to_string(i + 1) +
                                         " is not " + path.filename().string());
            const auto account = stored[platform::store::kInternetAccountName].ToText();
            rows.push_back({{path.filename().string()},
                            AddressList(lorvanta::GetHeaderRecipients(parsed.headers)),
                            owners,
                            {account.empty() ? "(nothing)" : account},
                            Keywords(stored[platform::store::kKeywords])});
        }
        PrintTable(rows);
    } catch (const std::exception& error) {
        std::cerr << "stamp_report: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
