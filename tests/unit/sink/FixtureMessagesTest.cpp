// Every sample message under fixtures/messages is listed in expected-recipients.txt with the
// recipient list its header block must give.

#include "sink/LorvantaModule.h"
#include "testsupport/FileText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

const fs::path kMessages = fs::path(LORVANTA_FIXTURES) / "messages";

std::map<std::string, std::string> ExpectedRecipients() {
    std::map<std::string, std::string> expected;
    std::ifstream in(kMessages / "expected-recipients.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto tab = line.find('\t');
        expected[line.substr(0, tab)] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return expected;
}

// The transport header block is everything before the first empty line.
std::string HeaderBlock(const std::string& message) {
    const auto end = message.find("\r\n\r\n");
    return end == std::string::npos ? message : message.substr(0, end + 2);
}

} // namespace

TEST(FixtureMessages, EachGivesItsExpectedRecipients) {
    const auto expected = ExpectedRecipients();
    int checked = 0;
    for (const auto& entry : fs::directory_iterator(kMessages)) {
        if (entry.path().extension() != ".eml")
            continue;
        const auto name = entry.path().filename().string();
        const auto found = expected.find(name);
        ASSERT_NE(found, expected.end()) << name << " is not in expected-recipients.txt";
        const auto message = testsupport::FileText(entry.path());
        EXPECT_NE(message.find("\r\n"), std::string::npos) << name << " must use CR LF";
        EXPECT_EQ(lorvanta::GetHeaderRecipients(HeaderBlock(message)), found->second) << name;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(expected.size()));
    EXPECT_GE(checked, 8);
}
