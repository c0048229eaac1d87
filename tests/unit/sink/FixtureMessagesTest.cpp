// Every sample message under fixtures/messages is listed in expected-recipients.txt with the
// recipient list its header block must give.

#include "sink/LorvantaModule.h"

#include "platform/store/Delivery.h"
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
        const auto headers = platform::store::ParseMessage(message).headers; // as stored
        EXPECT_EQ(lorvanta::GetHeaderRecipients(headers), found->second) << name;
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(expected.size()));
    EXPECT_GE(checked, 8);
}
