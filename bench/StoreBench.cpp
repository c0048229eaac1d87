// Store throughput: deliveries into one mailbox without registrations, one at a time and from
// eight threads whose writes share commits (the SMTP front's way, without its network), and the
// setup program's registration lookup on a store of 30,000 mailboxes.

#include "platform/core/Ado.h"
#include "platform/core/ObjectFactory.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/BatchedDelivery.h"
#include "platform/store/Delivery.h"
#include "platform/store/EventService.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"
#include "platform/store/StorePool.h"
#include "testsupport/PaddedMessage.h"
#include "testsupport/PeakMemory.h"
#include "testsupport/ScopedServerFolder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace platform;
using namespace platform::store;

namespace {

constexpr int kMailboxes = 30000;
const std::string kMessage = "From: sender@example.org\r\n"
                             "To: user@example.com, other@example.com\r\n"
                             "Subject: Quarterly figures\r\n"
                             "Date: Sun, 6 Dec 2026 20:00:00 +0000\r\n"
                             "Message-ID: <1@example.org>\r\n"
                             "\r\n"
                             "Please find the figures below.\r\n";

// A server folder in /tmp that lives as long as the benchmark program.
class BenchServer {
public:
    BenchServer() {
        host::ServerFolder folder(scoped_.Path());
        folder.WriteMachineNames({"MAIL01", "example.com", "example.com", "", ""});
        store_ = Store::Open(folder);
        store_->CreateDomainFolder("example.com");
    }
    ~BenchServer() { store_.reset(); }
    Store& store() { return *store_; }
    host::ServerFolder folder() const { return host::ServerFolder(scoped_.Path()); }

private:
    testsupport::ScopedServerFolder scoped_;
    std::shared_ptr<Store> store_;
};

// A sink that only exists; registrations need one that can be created.
class IdleSink final : public IExStoreSyncEvents {
public:
    com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != com::IID_IUnknown && riid != IID_IExStoreSyncEvents)
            return com::E_NOINTERFACE;
        *ppv = static_cast<IExStoreSyncEvents*>(this);
        return com::S_OK;
    }
    com::ULONG AddRef() override { return 2; }
    com::ULONG Release() override { return 1; }
    com::HRESULT OnSyncSave(IExStoreEventInfo*, const char*, std::int32_t) override {
        return com::S_OK;
    }
    com::HRESULT OnSyncDelete(IExStoreEventInfo*, const char*, std::int32_t) override {
        return com::S_OK;
    }
};

void BM_DeliveriesIntoOneMailbox(benchmark::State& state) {
    static BenchServer server;
    static const std::string mailbox = server.store().CreateMailbox("example.com", "user");
    for (auto _ : state)
        benchmark::DoNotOptimize(DeliverMessage(server.store(), mailbox, kMessage));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DeliveriesIntoOneMailbox)->Unit(benchmark::kMicrosecond);

// Messages of 4 KB from eight threads into one mailbox, each delivery's events on its own thread
// and the writes in shared, synced commits.
void BM_BatchedDeliveriesFromEightThreads(benchmark::State& state) {
    static BenchServer server;
    static const std::string mailbox = server.store().CreateMailbox("example.com", "user");
    static const auto stores = StorePool::Open(server.folder());
    static const auto commits = BatchCommitsFor(server.folder());
    static const std::string message = testsupport::PaddedMessage(kMessage, 4096);
    // What the whole process writes (the log, its checkpoints, any temporary file) per message.
    static double writtenBefore = 0;
    if (state.thread_index() == 0)
        writtenBefore = testsupport::WrittenBytes();
    for (auto _ : state)
        benchmark::DoNotOptimize(DeliverInBatch(*stores, *commits, {mailbox}, message));
    state.counters["messages_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    // Each thread has made as many deliveries as thread 0 (the framework gives every thread
    // the same number of iterations); the threads have passed the end of their loops together.
    if (state.thread_index() == 0)
        state.counters["written_kb_per_message"] =
            (testsupport::WrittenBytes() - writtenBefore) / 1024.0 /
            static_cast<double>(state.iterations() * state.threads());
}
BENCHMARK(BM_BatchedDeliveriesFromEightThreads)
    ->Threads(8)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// 30,000 mailboxes, each Inbox with its hidden registration item, made in one transaction.
BenchServer& LargeStore() {
    // Destroyed at exit like the others, which removes its folder (above 100 MB).
    static BenchServer server;
    static const bool filled = [] {
        static IdleSink sink;
        SetSinkCreator([](const std::string&) { return com::ComPtr<IExStoreSyncEvents>(&sink); });
        auto& store = server.store();
        store.BeginTransaction();
        for (int i = 0; i < kMailboxes; ++i) {
            const auto url = store.CreateMailbox("example.com", "user" + std::to_string(i));
            auto save = store.NewItem(store.Locate(url + "/Inbox/Lorvanta.reg"));
            save.Set(kContentClass, Variant(kRegistrationClass));
            save.Set(kEventNamespace + "EventMethod", Variant("onsyncsave"));
            save.Set(kEventNamespace + "SinkClass", Variant("Lorvanta.LorvantaCls"));
            save.Set(kEventNamespace + "MatchScope", Variant("SHALLOW"));
            save.Set(kEventNamespace + "criteria", Variant(" WHERE \"DAV:ishidden\" = FALSE"));
            save.Set(kEventNamespace + "priority", Variant("1"));
            save.Set(kIsHidden, Variant(true));
            store.Save(save);
        }
        store.CommitTransaction();
        return true;
    }();
    (void)filled;
    return server;
}

// The lookup exactly as the setup program makes it: its own connection, the Inbox lookup on the
// mailbox record, the folder record, the query and its end test.
int FindRegistration(const std::string& mailboxUrl) {
    const std::string DQ = "\"";
    auto connection = CreateObjectAs<ado::Connection>("ADODB.Connection");
    connection->SetProvider("ExOLEDB.DataSource");
    connection->Open(mailboxUrl, "", "");
    auto lookup = CreateObjectAs<ado::Record>("ADODB.Record");
    lookup->Open(mailboxUrl, connection, 1, -1, -1, "", "");
    auto folderUrl = mailboxUrl;
    if (lookup->Fields()->Count() > 0)
        folderUrl = lookup->Fields()->Item("urn:schemas:httpmail:inbox")->Value().Text();
    lookup->Close();
    auto folder = CreateObjectAs<ado::Record>("ADODB.Record");
    folder->Open(folderUrl, connection, 1, -1, -1, "", "");
    const auto query = "select " + (" " + DQ + "DAV:displayname" + DQ) +
                       " from scope ('shallow traversal of " + DQ + folderUrl + DQ + "') " +
                       " WHERE " + DQ + "DAV:displayname" + DQ + " = '" + "Lorvanta.reg" + "'" +
                       " AND " + DQ + "DAV:ishidden" + DQ + " = true AND " + DQ + "DAV:isfolder" +
                       DQ + " = false ";
    auto recordset = CreateObjectAs<ado::Recordset>("ADODB.Recordset");
    recordset->Open(query, connection, -1, -1, -1);
    const int result = recordset->Eof() ? 0 : 1;
    recordset->Close();
    folder->Close();
    connection->Close();
    return result;
}

void BM_RegistrationLookups(benchmark::State& state) {
    LargeStore();
    int next = 0;
    int found = 0;
    for (auto _ : state) {
        found += FindRegistration("file://./backofficestorage/example.com/mbx/user" +
                                  std::to_string(next));
        next = (next + 7919) % kMailboxes;
    }
    if (found != static_cast<int>(state.iterations()))
        state.SkipWithError("a registration was not found");
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RegistrationLookups)->Unit(benchmark::kMicrosecond);

} // namespace
