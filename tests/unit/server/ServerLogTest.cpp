// The servers' log: how values are written, that each event is one whole line however many
// threads log at once, the line on standard error, and the ids that tie lines to replies.

#include "server/log/ServerLog.h"
#include "server/log/LogId.h"
#include "testsupport/FileText.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <regex>
#include <set>
#include <thread>

namespace {

namespace log = server::log;

TEST(ServerLog, ValuesAreBareOrQuotedAndNeverBreakTheLine) {
    const std::pair<std::string, std::string> rows[] = {
        {"alice@example.com", "alice@example.com"},
        {"192.0.2.7", "192.0.2.7"},
        {"", "\"\""},
        {"wrong password", "\"wrong password\""},
        {"a=b", "\"a=b\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"back\\slash", "\"back\\\\slash\""},
        {"two\r\nlines", "\"two\\x0D\\x0Alines\""},
        {std::string("nul\0byte", 8), "\"nul\\x00byte\""},
        {"tab\there", "\"tab\\x09here\""},
        {"del\x7f", "\"del\\x7F\""},
        {"jürgen@beispiel.de", "jürgen@beispiel.de"},
    };
    for (const auto& [value, written] : rows)
        EXPECT_EQ(log::Quoted(value), written) << value;
}

TEST(ServerLog, EachEventIsOneLineOfItsFieldsWhateverTheThreads) {
    log::Capture capture;
    log::Event(log::Severity::Info, "session-start").Field("client", "192.0.2.7").Field("n", 3);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i)
                log::Event(log::Severity::Warning, "step")
                    .Field("thread", t)
                    .Field("text", std::string(100, static_cast<char>('a' + t)));
        });
    for (auto& thread : threads)
        thread.join();
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 1001u);
    EXPECT_EQ(lines[0], "session-start client=192.0.2.7 n=3");
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const auto t = lines[i][12] - '0';
        EXPECT_EQ(lines[i], "step thread=" + std::to_string(t) +
                                " text=" + std::string(100, static_cast<char>('a' + t)));
    }
}

TEST(ServerLog, OnStandardErrorALineHasTheTimeTheProgramAndTheSeverity) {
    char path[] = "/tmp/lvlogXXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    log::Open(log::Destination::StandardError, "exhost-test");
    log::Event(log::Severity::Error, "delivery-failed").Field("reason", "disk full");
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    const auto text = testsupport::FileText(path);
    std::remove(path);
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z exhost-test\[)" +
                   std::to_string(getpid()) + R"(\] error delivery-failed reason="disk full"\n)")))
        << text;
}

TEST(LogId, IsSixteenHexDigitsAndNeverRepeats) {
    std::set<std::string> ids;
    for (int i = 0; i < 1000; ++i) {
        const auto id = log::NewId();
        EXPECT_EQ(id.size(), 16u);
        EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 1000u);
}

} // namespace
