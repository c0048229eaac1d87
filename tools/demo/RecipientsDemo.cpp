// Prints, for each message file given, the recipients that its transport headers name, the way
// the sink reads them when the message is delivered.

#include "sink/LorvantaModule.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::string HeaderBlock(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream content;
    content << in.rdbuf();
    const auto message = content.str();
    const auto end = message.find("\r\n\r\n");
    return end == std::string::npos ? message : message.substr(0, end + 2);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: recipients_demo MESSAGE-FILE...\n";
        return 2;
    }
    int failures = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        try {
            const auto recipients = lorvanta::GetHeaderRecipients(HeaderBlock(path));
            std::cout << path.filename().string()
                      << "\n  recipients: " << (recipients.empty() ? "(none)" : recipients) << "\n";
        } catch (const std::exception& error) {
            std::cerr << error.what() << "\n";
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
