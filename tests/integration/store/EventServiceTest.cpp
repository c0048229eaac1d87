// The event service on a real store, with a sink that notes its calls: the phases and flags of
// each save (a delivery's too), and how refusals and commits end a save. Which registrations an
// event calls, and throwing sinks: DeleteEventsTest (the same lookup and calls serve deletes).
// And an event log that cannot be written is reported, once until it can be written again: on
// standard error, or to whoever the process named (a server's own log).

#include "TempStore.h"
#include "TestSink.h"

#include "platform/core/Error.h"
#include "platform/store/Delivery.h"
#include "platform/store/EventFlags.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

using namespace platform;
using namespace platform::store;
using namespace storetest;

namespace {

class EventService : public TempStore {
protected:
    void Register(const std::string& folderUrl, const std::string& name,
                  const std::string& progId) {
        storetest::Register(*store, folderUrl + "/" + name,
                            {"onsyncsave", progId, "SHALLOW", kHiddenExcluded});
    }

    // The test's sink, registered on `folder`.
    void RegisterSink(const std::string& folder = kInbox) {
        sinks["Test.Sink"] = &sink;
        Register(folder, "Test.reg", "Test.Sink");
    }

    std::optional<Item> Stored(const std::string& url) { return store->Find(store->Locate(url)); }

    TestSink sink;
};

// The phases each kind of save brings the sink, all for the URL it was saved by, with their flags.
// The sink is registered on the Inbox for its items and on the mailbox for the Inbox itself.
TEST_F(EventService, EachSaveBringsItsPhasesWithItsFlags) {
    RegisterSink();
    Register(kMailbox, "Root.reg", "Test.Sink");
    ASSERT_EQ(sink.Calls().size(), 2u);
    EXPECT_EQ(sink.Calls()[0].method, "Register");
    EXPECT_EQ(sink.Calls()[0].url, kInbox + "/Test.reg");
    const auto change = [&](const std::string& mailbox, const std::string& url) {
        auto record = OpenRecord(Connect(mailbox), url, 3, -1);
        record->Fields()->Item("urn:test:a")->SetValue(Variant("b"));
        record->Fields()->Update();
        return url;
    };
    const struct {
        const char* name;
        std::function<std::string()> save;
        std::vector<std::int32_t> flags;
    } rows[] = {
        {"a new item",
         [&] {
             CreateItem(kInbox + "/message", {{"urn:test:a", Variant("a")}});
             return kInbox + "/message";
         },
         {EVT_SYNC_BEGIN | EVT_NEW_ITEM, EVT_SYNC_COMMITTED | EVT_NEW_ITEM}},
        {"the item changed by its http URL",
         [&] { return change(kHttpBase + "/alice", kHttpBase + "/alice/Inbox/message"); },
         {EVT_SYNC_BEGIN, EVT_SYNC_COMMITTED}},
        {"a folder",
         [&] { return change(kMailbox, kInbox); },
         {EVT_SYNC_BEGIN | EVT_IS_COLLECTION, EVT_SYNC_COMMITTED | EVT_IS_COLLECTION}},
        // Excluded by the registration's criteria.
        {"a hidden item",
         [&] {
             CreateItem(kInbox + "/hidden", {{"DAV:ishidden", Variant(true)}});
             return std::string();
         },
         {}},
        {"a delivery",
         [&] { return DeliverMessage(*store, kMailbox, "To: alice@example.com\n\nx"); },
         {EVT_SYNC_BEGIN | EVT_NEW_ITEM | EVT_IS_DELIVERED,
          EVT_SYNC_COMMITTED | EVT_NEW_ITEM | EVT_IS_DELIVERED}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto before = sink.Calls().size();
        const auto url = row.save();
        std::vector<std::string> expected;
        for (const auto flags : row.flags)
            expected.push_back("OnSyncSave " + url + " " + std::to_string(flags));
        EXPECT_EQ(sink.CallsSince(before), expected);
    }
    EXPECT_EQ(sink.References(), 1);
}

TEST_F(EventService, WhatTheSinkCommitsBecomesPartOfTheSameSave) {
    sink.onBegin = [](ado::Record& record) {
        auto fields = record.Fields();
        EXPECT_EQ(fields->Item("urn:test:a")->Value(), Variant("from the client"));
        fields->Item(kKeywords)->SetValue(Variant(Variant::TextArray{"stamped"}));
        fields->Update();
        // Written after the last Update: not part of the save.
        fields->Item("urn:test:late")->SetValue(Variant("late"));
    };
    RegisterSink();
    CreateItem(kInbox + "/message", {{"urn:test:a", Variant("from the client")}});
    const auto item = Stored(kInbox + "/message");
    ASSERT_TRUE(item);
    EXPECT_EQ(item->properties.at(kKeywords), Variant(Variant::TextArray{"stamped"}));
    EXPECT_EQ(item->properties.at("urn:test:a"), Variant("from the client"));
    EXPECT_EQ(item->properties.count("urn:test:late"), 0u);
}

TEST_F(EventService, AbortChangeRefusesTheSaveAndTheAbortedPhaseFollows) {
    CreateItem(kInbox + "/existing", {{"urn:test:a", Variant("old")}});
    sink.abortInBegin = true;
    sink.onBegin = [](ado::Record& record) {
        record.Fields()->Item("urn:test:a")->SetValue(Variant("stamped"));
        record.Fields()->Update();
    };
    RegisterSink();

    testsupport::ExpectRefused([&] { CreateItem(kInbox + "/refused", {}); }, store::hr::E_ABORT,
                               "Test.Sink");
    EXPECT_FALSE(Stored(kInbox + "/refused"));
    EXPECT_EQ(sink.SaveFlags(), (std::vector<std::int32_t>{EVT_SYNC_BEGIN | EVT_NEW_ITEM,
                                                           EVT_SYNC_ABORTED | EVT_NEW_ITEM}));

    // A refused replacement leaves the old item as it was.
    EXPECT_THROW(CreateItem(kInbox + "/existing", {{"urn:test:a", Variant("new")}}), Error);
    EXPECT_EQ(Stored(kInbox + "/existing")->properties.at("urn:test:a"), Variant("old"));
}

// The store asks a sink's Register when a registration is created (Lorvanta answers 0).
TEST_F(EventService, ASinkThatAnswersNonZeroToRegisterRefusesTheRegistration) {
    TestSink refusing;
    refusing.registerResult = 1;
    TestSink accepting;
    sinks["Refusing.Sink"] = &refusing;
    sinks["Accepting.Sink"] = &accepting;

    EXPECT_THROW(Register(kInbox, "Refused.reg", "Refusing.Sink"), Error);
    EXPECT_FALSE(Stored(kInbox + "/Refused.reg"));
    Register(kInbox, "Accepted.reg", "Accepting.Sink");
    EXPECT_TRUE(Stored(kInbox + "/Accepted.reg"));
    ASSERT_EQ(accepting.Calls().size(), 1u);
    EXPECT_EQ(accepting.Calls()[0].method, "Register");
}

class EventLogFailure : public TempStore {
protected:
    void TearDown() override {
        SetEventLogFailureReporter({});
        TempStore::TearDown();
    }
    // The log's file turns into a directory, which no write can append to (root included).
    void Break() {
        std::filesystem::remove_all(store->EventLogFile());
        std::filesystem::create_directory(store->EventLogFile());
    }
    void Repair() { std::filesystem::remove_all(store->EventLogFile()); }
    void Write(const std::string& failure) {
        WriteEventLog(*store, kInbox + "/a.eml", "Some.Sink", failure);
    }
};

TEST_F(EventLogFailure, IsReportedOnceUntilAWriteWorksAgain) {
    std::vector<std::pair<std::string, std::string>> reported;
    SetEventLogFailureReporter([&](const std::string& path, const std::string& reason) {
        reported.emplace_back(path, reason);
    });
    Break();
    for (int i = 0; i < 5; ++i)
        Write("lost " + std::to_string(i));
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported[0].first, store->EventLogFile().string());
    EXPECT_EQ(reported[0].second, "Is a directory");

    Repair();
    Write("kept");
    EXPECT_NE(testsupport::FileText(store->EventLogFile()).find("\tkept\n"), std::string::npos);
    EXPECT_EQ(reported.size(), 1u);
    Break();
    Write("lost again");
    Write("and again");
    EXPECT_EQ(reported.size(), 2u) << "a new failure after a line was written";
}

// Without a reporter the process's standard error hears of it.
TEST_F(EventLogFailure, GoesToStandardErrorByDefault) {
    const auto captured = root / "stderr.txt";
    const int saved = ::dup(STDERR_FILENO);
    const int file = ::open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(file, 0);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    Break();
    Write("lost");
    Write("lost too");
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    const auto text = testsupport::FileText(captured);
    EXPECT_NE(text.find(store->EventLogFile().string()), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
}

} // namespace
