// Store URLs in both forms taken apart into domain folder, mailbox and path, and the malformed
// ones refused with a number and the URL in the description.

#include "platform/store/StoreUrl.h"
#include "platform/core/Error.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <gtest/gtest.h>

using namespace platform::store;

namespace {

const ServerNames kServer{"MAIL01", "Example.com"};

struct Parsed {
    const char* url;
    UrlForm form;
    const char* domain;
    const char* mailbox;
    std::vector<std::string> path;
};

class StoreUrlParses : public ::testing::TestWithParam<Parsed> {};

TEST_P(StoreUrlParses, IntoDomainMailboxAndPath) {
    const auto& expected = GetParam();
    const auto url = ParseStoreUrl(expected.url, kServer);
    EXPECT_EQ(url.form, expected.form);
    EXPECT_EQ(url.domain, expected.domain);
    EXPECT_EQ(url.mailbox, expected.mailbox);
    EXPECT_EQ(url.path, expected.path);
}

INSTANTIATE_TEST_SUITE_P(
    BothForms, StoreUrlParses,
    ::testing::Values(
        Parsed{"file://./backofficestorage/example.com/mbx/alice",
               UrlForm::File,
               "example.com",
               "alice",
               {}},
        Parsed{"FILE://./BackOfficeStorage/example.com/MBX/alice/Inbox/Lorvanta.reg",
               UrlForm::File,
               "example.com",
               "alice",
               {"Inbox", "Lorvanta.reg"}},
        Parsed{"http://mail01.example.com/exadmin/example.com/mbx/bob/inbox",
               UrlForm::Http,
               "example.com",
               "bob",
               {"inbox"}},
        // An empty folder name leaves a trailing or doubled "/", which names nothing extra.
        Parsed{"file://./backofficestorage/example.com/mbx/alice//Lorvanta.reg",
               UrlForm::File,
               "example.com",
               "alice",
               {"Lorvanta.reg"}},
        Parsed{
            "file://./backofficestorage/example.com/mbx", UrlForm::File, "example.com", "", {}}));

struct Refused {
    const char* url;
    std::int32_t number;
};

class StoreUrlRefuses : public ::testing::TestWithParam<Refused> {};

TEST_P(StoreUrlRefuses, WithANumberAndTheUrlInTheDescription) {
    const auto failure = testsupport::FailureOf([] { ParseStoreUrl(GetParam().url, kServer); });
    EXPECT_EQ(failure.number, GetParam().number) << GetParam().url;
    EXPECT_NE(failure.description.find(GetParam().url), std::string::npos) << failure.description;
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, StoreUrlRefuses,
    ::testing::Values(
        Refused{"http://mail02.example.com/exadmin/example.com/mbx/alice", hr::ERROR_BAD_NETPATH},
        Refused{"http://mail01/public/example.com/mbx/alice", hr::ERROR_INVALID_NAME},
        Refused{"ftp://./backofficestorage/example.com/mbx/alice", hr::ERROR_INVALID_NAME},
        Refused{"file://./backofficestorage/example.com/public/alice", hr::ERROR_INVALID_NAME},
        Refused{"alice", hr::ERROR_INVALID_NAME}));

} // namespace
