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

// A parsed URL's form, domain folder, mailbox and path, one entry each.
std::vector<std::string> Parts(const StoreUrl& url) {
    std::vector<std::string> parts{url.form == UrlForm::File ? "file" : "http", url.domain,
                                   url.mailbox};
    parts.insert(parts.end(), url.path.begin(), url.path.end());
    return parts;
}

struct Parsed {
    const char* url;
    std::vector<std::string> parts;
};

class StoreUrlParses : public ::testing::TestWithParam<Parsed> {};

TEST_P(StoreUrlParses, IntoDomainMailboxAndPath) {
    EXPECT_EQ(Parts(ParseStoreUrl(GetParam().url, kServer)), GetParam().parts);
}

INSTANTIATE_TEST_SUITE_P(
    BothForms, StoreUrlParses,
    ::testing::Values(
        Parsed{"file://./backofficestorage/example.com/mbx/alice",
               {"file", "example.com", "alice"}},
        Parsed{"FILE://./BackOfficeStorage/example.com/MBX/alice/Inbox/Lorvanta.reg",
               {"file", "example.com", "alice", "Inbox", "Lorvanta.reg"}},
        Parsed{"http://mail01.example.com/exadmin/example.com/mbx/bob/inbox",
               {"http", "example.com", "bob", "inbox"}},
        // An empty folder name leaves a trailing or doubled "/", which names nothing extra.
        Parsed{"file://./backofficestorage/example.com/mbx/alice//Lorvanta.reg",
               {"file", "example.com", "alice", "Lorvanta.reg"}},
        Parsed{"file://./backofficestorage/example.com/mbx", {"file", "example.com", ""}}));

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
