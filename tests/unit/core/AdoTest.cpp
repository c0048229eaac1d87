#include "platform/core/Ado.h"
#include "platform/core/Provider.h"

#include "testsupport/FakeRecord.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::ado;

namespace {

// A provider that notes what reaches it.
struct Journal {
    std::vector<std::string> calls;
    std::string connectionString;
    CommandProperties lastProperties;
};

class JournalSession : public ProviderSession {
public:
    explicit JournalSession(std::shared_ptr<Journal> journal) : journal_(std::move(journal)) {}
    std::shared_ptr<Recordset> Execute(const std::string& text,
                                       const CommandProperties& properties) override {
        journal_->calls.push_back("Execute " + text);
        journal_->lastProperties = properties;
        return nullptr;
    }
    std::shared_ptr<Record> OpenRecord(const std::string& url, std::int32_t mode,
                                       std::int32_t create, std::int32_t) override {
        journal_->calls.push_back("OpenRecord " + url + " " + std::to_string(mode) + " " +
                                  std::to_string(create));
        return std::make_shared<doubles::FakeRecord>();
    }
    void DeleteRecord(const std::string& url) override {
        journal_->calls.push_back("DeleteRecord " + url);
    }
    void BeginTrans() override { journal_->calls.push_back("BeginTrans"); }
    void Close() override { journal_->calls.push_back("Close"); }

private:
    std::shared_ptr<Journal> journal_;
};

class AdoTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterProvider(
            "Test.Provider",
            [journal = journal](const std::string& text, const std::string&, const std::string&) {
                journal->connectionString = text;
                return std::make_unique<JournalSession>(journal);
            });
    }
    void TearDown() override { UnregisterProvider("Test.Provider"); }

    std::shared_ptr<Connection> OpenConnection(const std::string& text) {
        auto connection = CreateObjectAs<Connection>("ADODB.Connection");
        connection->SetProvider("test.PROVIDER");
        connection->Open(text, "", "");
        return connection;
    }

    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
};

std::int32_t NumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.Number();
    }
    return 0;
}

} // namespace

TEST_F(AdoTest, ConnectionOpensTheNamedProviderIgnoringCase) {
    auto connection = OpenConnection("file://./backofficestorage/x");
    EXPECT_EQ(connection->State(), adStateOpen);
    EXPECT_EQ(journal->connectionString, "file://./backofficestorage/x");
    EXPECT_EQ(connection->TypeName(), "Connection");
    connection->BeginTrans();
    connection->Close();
    EXPECT_EQ(connection->State(), adStateClosed);
    EXPECT_EQ(journal->calls, (std::vector<std::string>{"BeginTrans", "Close"}));
}

TEST_F(AdoTest, ObjectRulesGiveTheRealNumbers) {
    auto connection = OpenConnection("a");
    EXPECT_EQ(NumberOf([&] { connection->SetConnectionString("b"); }), hr::adErrObjectOpen);
    EXPECT_EQ(NumberOf([&] { connection->SetProvider("x"); }), hr::adErrObjectOpen);
    EXPECT_EQ(NumberOf([&] { connection->Open("a", "", ""); }), hr::adErrObjectOpen);
    connection->Close();
    EXPECT_EQ(NumberOf([&] { connection->Execute("q"); }), hr::adErrObjectClosed);

    auto other = CreateObjectAs<Connection>("ADODB.Connection");
    other->SetProvider("No.Such.Provider");
    EXPECT_EQ(NumberOf([&] { other->Open("x", "", ""); }), hr::adErrProviderNotFound);
    EXPECT_EQ(other->State(), adStateClosed);
}

TEST_F(AdoTest, ConnectionStringSetBeforeOpenIsUsed) {
    auto connection = CreateObjectAs<Connection>("ADODB.Connection");
    connection->SetProvider("Test.Provider");
    connection->SetConnectionString("http://server/exadmin/x");
    connection->Open("", "", "");
    EXPECT_EQ(journal->connectionString, "http://server/exadmin/x");
}

TEST_F(AdoTest, RecordAndRecordsetGoThroughTheConnection) {
    auto connection = OpenConnection("a");
    auto record = CreateObjectAs<Record>("ADODB.Record");
    EXPECT_EQ(record->State(), adStateClosed);
    EXPECT_EQ(NumberOf([&] { record->Fields(); }), hr::adErrObjectClosed);
    record->Open("url/item", connection, adModeReadWrite, adCreateNonCollection, adDelayFetchFields,
                 "", "");
    EXPECT_EQ(record->State(), adStateOpen);
    record->DeleteRecord("", false);
    record->Close();
    EXPECT_EQ(record->State(), adStateClosed);
    EXPECT_EQ(NumberOf([&] { record->Close(); }), hr::adErrObjectClosed);

    auto rows = CreateObjectAs<Recordset>("ADODB.Recordset");
    EXPECT_EQ(NumberOf([&] { rows->Open("q", nullptr, -1, -1, -1); }), hr::E_INVALIDARG);

    EXPECT_EQ(journal->calls, (std::vector<std::string>{"OpenRecord url/item 3 67108864",
                                                        "DeleteRecord url/item"}));
}

TEST_F(AdoTest, CommandPassesItsPropertiesIgnoringCase) {
    auto connection = OpenConnection("a");
    auto command = CreateObjectAs<Command>("ADODB.Command");
    command->SetActiveConnection(connection);
    command->SetCommandText("SELECT x FROM 'GC://h' WHERE y='1'");
    command->SetProperty("Page Size", 1000);
    command->SetProperty("searchscope", 2);
    command->Execute();
    EXPECT_EQ(journal->calls.back(), "Execute SELECT x FROM 'GC://h' WHERE y='1'");
    EXPECT_EQ(journal->lastProperties.Get("page size"), Variant(1000));
    EXPECT_EQ(journal->lastProperties.Get("SearchScope"), Variant(2));
    EXPECT_TRUE(journal->lastProperties.Get("Timeout").IsEmpty());
}

TEST_F(AdoTest, ReleasingAnOpenConnectionClosesItsSession) {
    OpenConnection("a").reset();
    EXPECT_EQ(journal->calls, (std::vector<std::string>{"Close"}));
}
