#include "platform/core/Error.h"
#include "platform/store/Delivery.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::store;

namespace {

TEST(ParseMessage, SplitsHeadersFromBodyWithCrlfLineEnds) {
    const auto message = ParseMessage("From: a@example.com\nTo: b@example.com,\n c@example.com\n"
                                      "Subject: Hello\r\n  there\n\nline 1\nline 2\n");
    EXPECT_EQ(message.headers, "From: a@example.com\r\nTo: b@example.com,\r\n c@example.com\r\n"
                               "Subject: Hello\r\n  there\r\n");
    EXPECT_EQ(message.body, "line 1\r\nline 2\r\n");
    EXPECT_EQ(message.subject, "Hello  there");
    EXPECT_EQ(message.from, "a@example.com");
    EXPECT_EQ(message.to, "b@example.com, c@example.com");
    EXPECT_EQ(message.cc, "");
}

TEST(ParseMessage, TakesTheFirstOfRepeatedFieldsAndNamesInAnyCase) {
    const auto message = ParseMessage("SUBJECT: one\r\nsubject: two\r\ncc:\tx@y\r\n\r\n");
    EXPECT_EQ(message.subject, "one");
    EXPECT_EQ(message.cc, "x@y");
    EXPECT_EQ(message.body, "");
}

TEST(ParseMessage, AcceptsAMessageWithoutBody) {
    const auto message = ParseMessage("Subject: only headers");
    EXPECT_EQ(message.headers, "Subject: only headers\r\n");
    EXPECT_EQ(message.body, "");
}

TEST(ParseMessage, KeepsBareCarriageReturnsAsLineEnds) {
    EXPECT_EQ(ParseMessage("A: 1\rB: 2\r\rbody").headers, "A: 1\r\nB: 2\r\n");
}

class MalformedMessages : public ::testing::TestWithParam<const char*> {};

TEST_P(MalformedMessages, FailClearly) {
    try {
        ParseMessage(GetParam());
        FAIL() << "accepted: " << GetParam();
    } catch (const Error& error) {
        EXPECT_EQ(error.Number(), hr::E_INVALIDARG);
        EXPECT_NE(error.Description().find("malformed"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Delivery, MalformedMessages,
                         ::testing::Values("", "\r\nbody only", " continued: first\r\n\r\n",
                                           "Subject: x\r\nno colon here\r\n\r\n",
                                           ": empty name\r\n\r\n", "Bad Name: x\r\n\r\n"));

} // namespace
