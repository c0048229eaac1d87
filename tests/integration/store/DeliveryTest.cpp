// Delivery into a real store: the message lands in the right Inbox with its header block, and an
// unknown mailbox fails. The delivered flag the sink acts on: EventServiceTest; the trace fields
// that lead each copy's header block: ExhostIntegrationTest.

#include "StoreFiles.h"
#include "TempStore.h"
#include "tests/integration/AtOnce.h"

#include "platform/core/Error.h"
#include "platform/store/Delivery.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <algorithm>
#include <functional>
#include <regex>
#include <set>
#include <vector>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

using Delivery = TempStore;

TEST_F(Delivery, AMessageBecomesANewInboxItemWithItsHeaderBlock) {
    const auto url = DeliverMessage(*store, kHttpBase + "/alice",
                                    "From: x@example.org\nTo: alice@example.com\n"
                                    "Subject: Hi\n\nHello\n");
    EXPECT_EQ(url.rfind(kHttpBase + "/alice/Inbox/", 0), 0u) << url;
    const auto item = store->Read(store->Locate(url));
    EXPECT_EQ(item.properties.at(kTransportMessageHeaders),
              Variant("From: x@example.org\r\nTo: alice@example.com\r\nSubject: Hi\r\n"));
    EXPECT_EQ(item.properties.at(kSubject), Variant("Hi"));
    EXPECT_EQ(item.properties.at(kFrom), Variant("x@example.org"));
    EXPECT_EQ(item.properties.at(kTextDescription), Variant("Hello\r\n"));
    EXPECT_EQ(item.properties.at(kContentClass), Variant(kMessageClass));
    EXPECT_EQ(item.properties.at(kIsHidden), Variant(false));
}

// The sender's Keywords fields stay in the header block; they become the item's keywords only
// when the server takes them.
TEST_F(Delivery, KeywordsFieldsBecomeKeywordsOnlyWhenTaken) {
    const std::string message = "Keywords: alice@example.com, Sales\nSubject: tags\n\nHi\n";
    for (const bool take : {false, true}) {
        DeliveryOptions options;
        options.takeKeywords = take;
        const auto item =
            store->Read(store->Locate(DeliverMessage(*store, kMailbox, message, options)));
        EXPECT_EQ(item.properties.at(kTransportMessageHeaders),
                  Variant("Keywords: alice@example.com, Sales\r\nSubject: tags\r\n"));
        EXPECT_EQ(item.properties.count(kKeywords), take ? 1u : 0u) << take;
        if (take) {
            EXPECT_EQ(item.properties.at(kKeywords),
                      Variant(Variant::TextArray{"alice@example.com", "Sales"}));
        }
    }
}

// A removed field goes with its continuation lines, in any letter case; similar names stay.
TEST_F(Delivery, RemovedFieldsAreLeftOutOfTheHeaderBlock) {
    DeliveryOptions options;
    options.removedFields = {"X-RecipientList"};
    const auto url = DeliverMessage(*store, kMailbox,
                                    "X-RecipientList: a@b.c;\n d@e.f\nTo: alice@example.com\n"
                                    "x-recipientlist : g@h.i\nX-RecipientList2: k\n\nHi\n",
                                    options);
    EXPECT_EQ(store->Read(store->Locate(url)).properties.at(kTransportMessageHeaders),
              Variant("To: alice@example.com\r\nX-RecipientList2: k\r\n"));
}

// A stored array whose length field was damaged on disk: reading the folder fails with the
// store's error, naming the file, the item and the property, instead of looping or eating memory.
TEST_F(Delivery, ADamagedStoredValueFailsNamingTheFileAndTheItem) {
    const auto url =
        DeliverMessage(*store, kMailbox, "Keywords: one, two\r\nSubject: tagged\r\n\r\nb\r\n",
                       DeliveryOptions{.takeKeywords = true});
    const auto file = root / "store" / "store.db";
    const auto keywords = "WHERE name = '" + std::string(kKeywords) + "'";
    ASSERT_EQ(Query(file, "SELECT count(*) FROM properties " + keywords), "1");
    ASSERT_EQ(Query(file, "UPDATE properties SET value = '18446744073709551595:one' " + keywords +
                              " RETURNING 'damaged'"),
              "damaged");
    const auto key = store->Locate(url).key;
    for (const auto& read : std::vector<std::function<void()>>{
             [&] { Inbox("alice"); }, [&] { store->Read(store->Locate(url)); }}) {
        const auto failure = testsupport::FailureOf(read);
        EXPECT_EQ(failure.number, store::hr::STORE_E_DATABASE);
        EXPECT_NE(failure.description.find("store.db"), std::string::npos);
        EXPECT_NE(failure.description.find(key), std::string::npos) << failure.description;
        EXPECT_NE(failure.description.find(kKeywords), std::string::npos);
    }
}

// Names never repeat (made on several threads at once, as the SMTP front does) and grow in the
// order they are made, so that a batch's new items sit side by side in the key index.
TEST_F(Delivery, NewItemNamesAreUniqueAndGrowInTheOrderTheyAreMade) {
    constexpr int kThreads = 4, kNamesEach = 2000;
    std::vector<std::vector<std::string>> names(kThreads);
    const auto make = [&](int t) {
        for (int i = 0; i < kNamesEach; ++i)
            names[t].push_back(NewDelivery(*store, kMailbox, "Subject: x\n\n").location.name);
        return std::string();
    };
    EXPECT_EQ(integration::AtOnce(kThreads, make), std::vector<std::string>{});
    std::set<std::string> distinct;
    for (const auto& made : names) {
        EXPECT_TRUE(std::is_sorted(made.begin(), made.end()));
        distinct.insert(made.begin(), made.end());
    }
    EXPECT_EQ(distinct.size(), std::size_t{kThreads * kNamesEach});
    EXPECT_TRUE(std::regex_match(*distinct.begin(), std::regex("[0-9A-F]{24}\\.EML")))
        << *distinct.begin();
}

TEST_F(Delivery, FailsForAnUnknownMailbox) {
    EXPECT_EQ(testsupport::FailureOf([&] {
                  DeliverMessage(*store, kFileBase + "/carol", "Subject: x\n\n");
              }).number,
              store::hr::DB_E_NOTFOUND);
    EXPECT_TRUE(Inbox("alice").empty());
}

} // namespace
