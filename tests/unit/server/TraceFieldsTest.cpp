// The trace fields a delivered copy starts with: Return-Path, Received and Delivered-To. Those of
// "exhost deliver", which names no client, are matched whole in ExhostIntegrationTest.

#include "server/delivery/TraceFields.h"

#include <gtest/gtest.h>

using server::delivery::Arrival;
using server::delivery::TraceFields;

namespace {

// 2026-12-09 05:20:07 UTC, a Wednesday.
const auto kWhen = std::chrono::system_clock::time_point(std::chrono::seconds(1796793607));

TEST(TraceFields, AreWrittenAsTheArrivalWas) {
    const struct {
        const char* name;
        Arrival arrival;
        std::string recipient;
        std::string fields;
    } cases[] = {
        {"Esmtp",
         {"s@partner.example", "ESMTP", "client.example"},
         "alice@example.com",
         "Return-Path: <s@partner.example>\r\n"
         "Received: from client.example\r\n"
         "\tby MAIL01.example.com with ESMTP id 00AB\r\n"
         "\tfor <alice@example.com>; Wed, 09 Dec 2026 05:20:07 +0000\r\n"
         "Delivered-To: alice@example.com\r\n"},
        {"NullSenderOverLmtp",
         {"", "LMTP", "mx.example.com"},
         "ALICE@example.com",
         "Return-Path: <>\r\n"
         "Received: from mx.example.com\r\n"
         "\tby MAIL01.example.com with LMTP id 00AB\r\n"
         "\tfor <ALICE@example.com>; Wed, 09 Dec 2026 05:20:07 +0000\r\n"
         "Delivered-To: ALICE@example.com\r\n"},
        // A CR in a greeting name cannot end the field (nor can anything the client sent).
        {"ControlCharactersAreReplaced",
         {"a\r\nX: y@b", "SMTP", "c\rX-Forged: 1"},
         "alice@example.com",
         "Return-Path: <a??X: y@b>\r\n"
         "Received: from c?X-Forged: 1\r\n"
         "\tby MAIL01.example.com with SMTP id 00AB\r\n"
         "\tfor <alice@example.com>; Wed, 09 Dec 2026 05:20:07 +0000\r\n"
         "Delivered-To: alice@example.com\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TraceFields(c.arrival, "MAIL01.example.com", "00AB", c.recipient, kWhen),
                  c.fields)
            << c.name;
}

TEST(RecipientListField, ListsTheRecipientsInOrderWithNothingThatEndsTheField) {
    EXPECT_EQ(
        server::delivery::RecipientListField({"a@example.com", "List@x.example", "b\r\nX: 1"}),
        "X-RecipientList: a@example.com;List@x.example;b??X: 1\r\n");
}

} // namespace
