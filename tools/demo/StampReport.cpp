// Delivers message files into a mailbox of the server folder that EXHOST_ROOT names and prints,
// per message, the recipients its headers name, the owner's addresses in the directory, and what
// the registered sink stamped on the stored message (account name and keywords).
//
// The sink itself runs inside the store's save, loaded by its ProgID; this program only shows
// the inputs it works from and reads back the result.

#include "platform/host/ServerFolder.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "sink/LorvantaModule.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string HeaderBlock(const std::string& message) {
    const auto end = message.find("\r\n\r\n");
    return end == std::string::npos ? message : message.substr(0, end + 2);
}

std::string Or(const std::string& text, const char* fallback) {
    return text.empty() ? fallback : text;
}

std::string Keywords(const platform::Variant& value) {
    if (!value.IsArray())
        return "(none)";
    std::string joined;
    for (const auto& keyword : value.Array())
        joined += (joined.empty() ? "" : " | ") + keyword;
    return "[" + joined + "]";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: stamp_demo DOMAIN MAILBOX MESSAGE-FILE...\n";
        return 2;
    }
    try {
        const std::string domain = argv[1];
        const std::string mailbox = argv[2];
        auto store = platform::store::Store::OpenFromEnvironment();
        const auto owners = lorvanta::GetOwnerAddresses(mailbox);
        std::cout << "Mailbox " << mailbox
                  << "; its owner's SMTP addresses in the directory: " << Or(owners, "(none)")
                  << "\n\n";
        for (int i = 3; i < argc; ++i) {
            const std::filesystem::path path(argv[i]);
            const auto message = ReadFile(path);
            const auto recipients = lorvanta::GetHeaderRecipients(HeaderBlock(message));
            const auto url = platform::store::DeliverMessage(*store, domain, mailbox, message);
            auto stored = store->Read(store->Locate(url)).properties;
            std::cout << path.filename().string() << "\n"
                      << "  header recipients: " << Or(recipients, "(none)") << "\n"
                      << "  stamped account:   "
                      << Or(stored[platform::store::kInternetAccountName].ToText(), "(nothing)")
                      << "\n"
                      << "  stamped keywords:  " << Keywords(stored[platform::store::kKeywords])
                      << "\n";
        }
    } catch (const std::exception& error) {
        std::cerr << "stamp_demo: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
