// Finding the mailbox name in an item URL, including URLs with too few separators.

#include "sink/LorvantaModule.h"

#include <gtest/gtest.h>

TEST(GetMailboxName, TakesTheSegmentTwoBeforeTheItem) {
    struct Case {
        const char* url;
        const char* mailbox;
    } cases[] = {
        {"file://./backofficestorage/example.com/MBX/alice/Inbox/msg-1.eml", "alice"},
        {"http://mail01/exadmin/example.com/mbx/bob.jones/Posteingang/x.eml", "bob.jones"},
        {"file://./backofficestorage/example.com/MBX/alice/Inbox/Sub/m.eml", "Inbox"},
        {"a/b/c", "a/b/c"},   // two separators after the first character only
        {"/a/b/c", "/a/b/c"}, // the third separator is the first character
        {"x/a/b/c", "a"},
        {"x//Inbox/item", ""}, // adjacent separators give an empty name
        {"noslash", "noslash"},
        {"", ""},
        {"file://./backofficestorage/d/MBX/alice/Inbox/", "alice"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lorvanta::GetMailboxName(c.url), c.mailbox) << c.url;
}
