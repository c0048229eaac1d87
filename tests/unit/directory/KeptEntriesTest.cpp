// Whole entries of an open record set, kept so that binds to its rows need no second search.

#include "platform/directory/KeptEntries.h"

#include <gtest/gtest.h>

namespace {

using platform::directory::KeptEntries;
using Attributes = platform::directory::LdapConnection::AttributeMap;

std::shared_ptr<const platform::directory::EntryImage> ImageOf(const Attributes& attributes) {
    auto image = std::make_shared<platform::directory::EntryImage>();
    for (const auto& [name, values] : attributes)
        image->Add(name, values);
    return image;
}

TEST(KeptEntries, AnEntryIsFoundWhileItsLeaseLivesAndOnlyOnItsServer) {
    KeptEntries kept;
    const Attributes alice{{"cn", {"Alice"}}};
    {
        auto lease = kept.NewLease("ldapi://one");
        lease->Keep("CN=Alice", ImageOf(alice));
        EXPECT_EQ(kept.Find("ldapi://one", "CN=Alice"), alice);
        EXPECT_FALSE(kept.Find("ldapi://two", "CN=Alice"));
        EXPECT_FALSE(kept.Find("ldapi://one", "CN=Bob"));
    }
    EXPECT_FALSE(kept.Find("ldapi://one", "CN=Alice"));
    EXPECT_EQ(kept.Size(), 0u);
}

TEST(KeptEntries, AnEarlierLeaseEndingLeavesALaterCopyInPlace) {
    KeptEntries kept;
    const Attributes before{{"cn", {"before"}}}, after{{"cn", {"after"}}};
    auto first = kept.NewLease("ldapi://one");
    first->Keep("CN=Alice", ImageOf(before));
    auto second = kept.NewLease("ldapi://one");
    second->Keep("CN=Alice", ImageOf(after));
    first.reset();
    EXPECT_EQ(kept.Find("ldapi://one", "CN=Alice"), after);
    second.reset();
    EXPECT_FALSE(kept.Find("ldapi://one", "CN=Alice"));
}

} // namespace
