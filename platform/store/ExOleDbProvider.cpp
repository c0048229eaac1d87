// The provider "ExOLEDB.DataSource": connections, records, record sets and transactions over
// the embedded store. A connection is opened on a store URL and has a store connection of its
// own, so that its transaction is its own.

#include "platform/store/ExOleDbProvider.h"

#include "platform/core/Provider.h"
#include "platform/host/ServerFolder.h"
#include "platform/store/PropertyFields.h"
#include "platform/store/Query.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"
#include "platform/store/StorePool.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

namespace platform::store {

namespace {

constexpr std::int32_t kCreateCollection = 0x2000;
constexpr std::int32_t kOpenIfExists = 0x2000000;
constexpr std::int32_t kCreateOverwrite = 0x4000000;

[[noreturn]] void ThrowClosed(const std::string& what) {
    throw Error(platform::hr::adErrObjectClosed,
                "Operation is not allowed when the " + what + " is closed.");
}

// An item opened as a record: Update saves it through the store (and so its events).
class RecordSource final : public FieldSource {
public:
    RecordSource(std::shared_ptr<Store> store, PendingSave state, bool writable)
        : store_(std::move(store)), state_(std::move(state)), writable_(writable) {}

    const PropertyMap& Current() override { return state_.properties; }
    void Commit(const PropertyMap& writes) override {
        if (closed_)
            ThrowClosed("record");
        PendingSave save = state_;
        if (!save.isNew)
            save.changed.clear();
        for (const auto& [name, value] : writes)
            save.Set(name, value);
        store_->Save(save);
        state_.properties = std::move(save.properties);
        state_.isNew = false;
        state_.changed.clear();
    }
    bool Writable() const override { return writable_ && !closed_; }
    std::string Url() const override { return state_.location.Url(); }
    void Close() { closed_ = true; }

private:
    std::shared_ptr<Store> store_;
    PendingSave state_;
    bool writable_;
    bool closed_ = false;
};

class StoreRecord final : public ado::Record {
public:
    explicit StoreRecord(std::shared_ptr<RecordSource> source)
        : source_(source), fields_(std::make_shared<PropertyFields>(std::move(source))) {}
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t, const std::string&, const std::string&) override {
        throw Error(platform::hr::adErrObjectOpen,
                    "Operation is not allowed when the record is open.");
    }
    std::shared_ptr<ado::Fields> Fields() override {
        if (!open_)
            ThrowClosed("record");
        return fields_;
    }
    void DeleteRecord(const std::string&, bool) override {
        throw Error(platform::hr::adErrFeatureNotAvailable,
                    "Delete records through the connection's record object");
    }
    void Close() override {
        open_ = false;
        source_->Close();
    }
    ado::ObjectState State() const override {
        return open_ ? ado::adStateOpen : ado::adStateClosed;
    }

private:
    std::shared_ptr<RecordSource> source_;
    std::shared_ptr<PropertyFields> fields_;
    bool open_ = true;
};

// One row of a record set: read-only.
class RowSource final : public FieldSource {
public:
    RowSource(PropertyMap row, std::string url) : row_(std::move(row)), url_(std::move(url)) {}
    const PropertyMap& Current() override { return row_; }
    void Commit(const PropertyMap&) override {}
    bool Writable() const override { return false; }
    std::string Url() const override { return url_; }

private:
    PropertyMap row_;
    std::string url_;
};

class StoreRecordset final : public ado::Recordset {
public:
    StoreRecordset(std::vector<PropertyMap> rows, std::vector<std::string> urls)
        : rows_(std::move(rows)), urls_(std::move(urls)) {}
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t) override {
        throw Error(platform::hr::adErrObjectOpen,
                    "Operation is not allowed when the recordset is open.");
    }
    bool Eof() override {
        RequireOpen();
        return position_ >= rows_.size();
    }
    std::shared_ptr<ado::Fields> Fields() override {
        RequireOpen();
        if (position_ >= rows_.size())
            throw Error(platform::hr::adErrNoCurrentRecord,
                        "Either BOF or EOF is True, or the current record has been deleted.");
        return std::make_shared<PropertyFields>(
            std::make_shared<RowSource>(rows_[position_], urls_[position_]));
    }
    void MoveNext() override {
        RequireOpen();
        if (position_ >= rows_.size())
            throw Error(platform::hr::adErrNoCurrentRecord,
                        "Either BOF or EOF is True, or the current record has been deleted.");
        ++position_;
    }
    std::int64_t RecordCount() override {
        RequireOpen();
        return static_cast<std::int64_t>(rows_.size());
    }
    void Close() override { open_ = false; }
    ado::ObjectState State() const override {
        return open_ ? ado::adStateOpen : ado::adStateClosed;
    }

private:
    void RequireOpen() const {
        if (!open_)
            ThrowClosed("recordset");
    }
    std::vector<PropertyMap> rows_;
    std::vector<std::string> urls_;
    std::size_t position_ = 0;
    bool open_ = true;
};

class StoreSession final : public ado::ProviderSession {
public:
    explicit StoreSession(std::shared_ptr<Store> store) : store_(std::move(store)) {}
    ~StoreSession() override { Close(); }

    std::shared_ptr<ado::Recordset> Execute(const std::string& commandText,
                                            const ado::CommandProperties&) override {
        const auto parsed = query::ParseQuery(commandText);
        // One read for the whole query: a window that asks for every mailbox in turn pays for
        // each read's locks and checks once, not once per statement.
        std::vector<Item> children;
        store_->ReadTogether([&] {
            const auto scope = store_->Locate(parsed.scopeUrl);
            auto folder = store_->Find(scope);
            if (!folder || !folder->isFolder)
                throw Error(hr::DB_E_NOTFOUND,
                            "The scope folder \"" + parsed.scopeUrl + "\" does not exist");
            children = store_->Children(scope, parsed.traversal == query::Traversal::Deep);
        });
        std::vector<PropertyMap> rows;
        std::vector<std::string> urls;
        for (auto& item : children) {
            if (!query::Holds(parsed.where.get(), item.properties))
                continue;
            if (parsed.columns.empty()) {
                rows.push_back(std::move(item.properties));
            } else {
                PropertyMap row;
                for (const auto& column : parsed.columns) {
                    auto found = item.properties.find(column);
                    row[column] = found == item.properties.end() ? Variant::Null() : found->second;
                }
                rows.push_back(std::move(row));
            }
            urls.push_back(item.key);
        }
        return std::make_shared<StoreRecordset>(std::move(rows), std::move(urls));
    }

    std::shared_ptr<ado::Record> OpenRecord(const std::string& url, std::int32_t mode,
                                            std::int32_t createOptions, std::int32_t) override {
        // Opening an existing item reads in one go; creating one writes outside that read.
        ItemLocation location;
        std::optional<Item> item;
        store_->ReadTogether([&] {
            location = store_->Locate(url);
            if (location.url.mailbox.empty())
                throw Error(hr::DB_E_NOTFOUND, "\"" + url + "\" names no mailbox or item");
            if (createOptions == ado::adFailIfNotExists ||
                ((createOptions & kOpenIfExists) && store_->Exists(location)))
                item = store_->Read(location);
        });
        const bool writable = mode != -1 && (mode & ado::adModeReadWrite & ~ado::adModeRead) != 0;
        PendingSave state;
        if (item) {
            state.location = location;
            state.isFolder = item->isFolder;
            state.properties = std::move(item->properties);
        } else if (createOptions & kCreateCollection) {
            store_->CreateFolder(url);
            auto folder = store_->Read(location);
            state.location = location;
            state.isFolder = true;
            state.properties = std::move(folder.properties);
        } else {
            if (!(createOptions & (kCreateOverwrite | kOpenIfExists)) && store_->Exists(location))
                throw Error(hr::DB_E_RESOURCEEXISTS, "\"" + url + "\" already exists");
            state = store_->NewItem(location);
        }
        return std::make_shared<StoreRecord>(
            std::make_shared<RecordSource>(store_, std::move(state), writable));
    }

    void DeleteRecord(const std::string& url) override { store_->Delete(url); }
    void BeginTrans() override { store_->BeginTransaction(); }
    void CommitTrans() override { store_->CommitTransaction(); }
    void RollbackTrans() override { store_->RollbackTransaction(); }
    void Close() override {
        // A connection closed or released inside a transaction stores nothing of it.
        if (store_ && store_->InTransaction()) {
            try {
                store_->RollbackTransaction();
            } catch (...) {
            }
        }
    }

private:
    std::shared_ptr<Store> store_;
};

// Kept store connections by server folder: opening one is the costly part of a short store
// call (database file, schema, prepared statements, machine names).
std::shared_ptr<Store> TakeStore(const host::ServerFolder& folder) {
    static std::mutex mutex;
    static std::map<std::filesystem::path, std::shared_ptr<StorePool>> pools;
    std::shared_ptr<StorePool> pool;
    {
        std::lock_guard lock(mutex);
        auto& kept = pools[folder.Root()];
        if (!kept)
            kept = std::make_shared<StorePool>(
                folder.StoreDir() / "store.db", [folder] { return Store::Open(folder); }, 4);
        pool = kept;
    }
    return pool->Take();
}

} // namespace

std::unique_ptr<ado::ProviderSession> OpenStoreSession(const std::string& connectionString,
                                                       const std::string&, const std::string&) {
    if (connectionString.empty())
        throw Error(platform::hr::E_INVALIDARG,
                    "The store connection needs a store URL as its connection string");
    auto store = TakeStore(host::ServerFolder::FromEnvironment());
    // Fails for another server, an unknown domain folder or an unknown mailbox.
    store->Locate(connectionString);
    return std::make_unique<StoreSession>(std::move(store));
}

} // namespace platform::store
