// Finds the registrations that apply to a save or a delete, creates each sink by its ProgID and
// runs its begin and end phases, handing it the item as an event record.

#include "platform/store/EventService.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/host/PrivateFiles.h"
#include "platform/store/EventFlags.h"
#include "platform/store/FoldedName.h"
#include "platform/store/PropertyFields.h"
#include "platform/store/PropertyNames.h"
#include "platform/store/Query.h"
#include "platform/store/Store.h"
#include "platform/store/StoreErrors.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <unistd.h>

namespace platform::store {

namespace {

struct SinkCreatorSlot {
    std::mutex mutex;
    SinkCreator creator;
};

SinkCreatorSlot& CreatorSlot() {
    static SinkCreatorSlot slot;
    return slot;
}

SinkCreator CurrentCreator() {
    auto& slot = CreatorSlot();
    std::lock_guard lock(slot.mutex);
    return slot.creator;
}

com::ComPtr<IExStoreSyncEvents> CreateSink(const std::string& progId) {
    auto creator = CurrentCreator();
    if (!creator)
        throw Error(platform::hr::REGDB_E_CLASSNOTREG,
                    "No sink creator is installed, so \"" + progId + "\" cannot be created");
    auto sink = creator(progId);
    if (!sink)
        throw Error(platform::hr::REGDB_E_CLASSNOTREG,
                    "The sink \"" + progId + "\" could not be created");
    return sink;
}

// The item of an event, seen by the sink: writes committed with Fields.Update join the save in
// progress. Once the event is over the record is closed.
class EventItemSource final : public FieldSource {
public:
    explicit EventItemSource(PendingSave* save) : save_(save) {}
    const PropertyMap& Current() override { return Save().properties; }
    void Commit(const PropertyMap& writes) override {
        for (const auto& [name, value] : writes)
            Save().Set(name, value);
    }
    bool Writable() const override { return writable_; }
    std::string Url() const override { return url_; }

    void Close() { save_ = nullptr; }
    void SetWritable(bool writable) { writable_ = writable; }
    void SetUrl(std::string url) { url_ = std::move(url); }

private:
    PendingSave& Save() {
        if (!save_)
            throw Error(platform::hr::adErrObjectClosed,
                        "The event of \"" + url_ + "\" is over; its record is closed");
        return *save_;
    }
    PendingSave* save_;
    bool writable_ = true;
    std::string url_;
};

class EventRecord final : public ado::Record {
public:
    explicit EventRecord(std::shared_ptr<EventItemSource> source)
        : source_(source), fields_(std::make_shared<PropertyFields>(std::move(source))) {}
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t, const std::string&, const std::string&) override {
        throw Error(platform::hr::adErrObjectOpen, "The record of an event is already open");
    }
    std::shared_ptr<ado::Fields> Fields() override { return fields_; }
    void DeleteRecord(const std::string&, bool) override {
        throw Error(platform::hr::adErrFeatureNotAvailable,
                    "The item of an event cannot be deleted inside its own save");
    }
    void Close() override {}
    ado::ObjectState State() const override { return ado::adStateOpen; }

private:
    std::shared_ptr<EventItemSource> source_;
    std::shared_ptr<PropertyFields> fields_;
};

class EventInfo final : public IExStoreEventInfo, public IExStoreDispEventInfo {
public:
    // `changeable`: the sink may write to the item in the begin phase (a save's, not a delete's).
    EventInfo(std::shared_ptr<EventItemSource> source, bool changeable)
        : source_(source), record_(std::make_shared<EventRecord>(std::move(source))),
          changeable_(changeable) {}

    HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
        if (!ppv)
            return com::E_POINTER;
        *ppv = nullptr;
        if (riid == com::IID_IUnknown || riid == IID_IExStoreEventInfo)
            *ppv = static_cast<IExStoreEventInfo*>(this);
        else if (riid == IID_IExStoreDispEventInfo)
            *ppv = static_cast<IExStoreDispEventInfo*>(this);
        else
            return com::E_NOINTERFACE;
        AddRef();
        return com::S_OK;
    }
    com::ULONG AddRef() override { return references_.Increment(); }
    com::ULONG Release() override {
        const auto left = references_.Decrement();
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT AbortChange(std::int32_t errorCode) override {
        if (!inBeginPhase_)
            return com::E_FAIL;
        aborted_ = true;
        abortCode_ = errorCode;
        return com::S_OK;
    }
    HRESULT get_EventRecord(std::shared_ptr<ado::Record>* record) override {
        if (!record)
            return com::E_POINTER;
        *record = record_;
        return com::S_OK;
    }

    void SetBeginPhase(bool begin) {
        inBeginPhase_ = begin;
        source_->SetWritable(begin && changeable_);
    }
    bool Aborted() const { return aborted_; }
    std::int32_t AbortCode() const { return abortCode_; }

private:
    ~EventInfo() = default;
    com::RefCount references_;
    std::shared_ptr<EventItemSource> source_;
    std::shared_ptr<EventRecord> record_;
    bool changeable_;
    bool inBeginPhase_ = false;
    bool aborted_ = false;
    std::int32_t abortCode_ = 0;
};

struct Registration {
    std::string url;
    std::string progId;
    std::int64_t priority = 0;
    std::shared_ptr<query::Condition> criteria;
};

Variant Property(const Item& item, const std::string& name) {
    auto found = item.properties.find(name);
    return found == item.properties.end() ? Variant() : found->second;
}

std::string TextProperty(const Item& item, const std::string& name) {
    auto value = Property(item, name);
    return value.IsArray() ? std::string() : value.ToText();
}

bool NamesMethod(const std::string& methods, const char* wanted) {
    for (auto method : text::Split(methods, ';'))
        for (auto part : text::Split(method, ','))
            if (text::EqualsIgnoreCase(text::TrimBlanks(part), wanted))
                return true;
    return false;
}

bool ScopeIs(const Item& item, const char* scope) {
    return text::EqualsIgnoreCase(text::TrimBlanks(TextProperty(item, kMatchScopeProperty)), scope);
}

std::int64_t PriorityOf(const Item& item) {
    const auto value = Property(item, kPriorityProperty);
    if (value.IsInteger())
        return value.Integer();
    try {
        return std::stoll(std::string(text::TrimBlanks(value.IsText() ? value.Text() : "")));
    } catch (...) {
        return INT_MAX;
    }
}

std::string ParentKey(const std::string& key) {
    const auto slash = key.rfind('/');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

} // namespace

SinkCreator SetSinkCreator(SinkCreator creator) {
    auto& slot = CreatorSlot();
    std::lock_guard lock(slot.mutex);
    std::swap(slot.creator, creator);
    return creator;
}

namespace {

struct EventLogState {
    std::mutex mutex; // one line at a time, and the reporter with it
    EventLogFailureReporter reporter;
    std::set<std::string> failing; // logs whose last line was not written, reported already
};

EventLogState& EventLog() {
    static EventLogState state;
    return state;
}

void TellStandardError(const std::string& path, const std::string& reason) {
    const auto text = "lorvanta: the event log " + path + " cannot be written (" + reason +
                      "); its lines are lost until it can\n";
    static_cast<void>(::write(STDERR_FILENO, text.data(), text.size()));
}

// Appends all of the line in one write, so that lines of several processes do not mix; the
// reason it failed, or "" when it was written.
std::string AppendLine(const std::string& file, const std::string& line) {
    // The log names mailboxes and items: it is its owner's alone.
    const int fd =
        ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, host::kPrivateFileMode);
    if (fd < 0)
        return std::strerror(errno);
    ssize_t written;
    do
        written = ::write(fd, line.data(), line.size());
    while (written < 0 && errno == EINTR);
    const int writeError = written < 0 ? errno : 0;
    ::close(fd);
    if (written < 0)
        return std::strerror(writeError);
    if (static_cast<std::size_t>(written) != line.size())
        return "only " + std::to_string(written) + " of " + std::to_string(line.size()) +
               " bytes written";
    return {};
}

} // namespace

EventLogFailureReporter SetEventLogFailureReporter(EventLogFailureReporter reporter) {
    auto& state = EventLog();
    std::lock_guard lock(state.mutex);
    std::swap(state.reporter, reporter);
    return reporter;
}

void WriteEventLog(const Store& store, const std::string& itemUrl, const std::string& progId,
                   const std::string& failure) {
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    gmtime_r(&now, &utc);
    char time[32];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &utc);
    auto line = std::string(time) + "\t" + itemUrl + "\t" + progId + "\t" + failure + "\n";
    std::replace(line.begin(), line.end() - 1, '\n', ' ');
    auto& state = EventLog();
    std::lock_guard lock(state.mutex);
    const auto file = store.EventLogFile().string();
    const auto reason = AppendLine(file, line);
    // A full disk would otherwise be reported once per save: once is enough to be seen.
    if (reason.empty())
        state.failing.erase(file);
    else if (state.failing.insert(file).second) {
        if (state.reporter)
            state.reporter(file, reason);
        else
            TellStandardError(file, reason);
    }
}

struct ItemEvents::Called {
    std::string progId;
    com::ComPtr<IExStoreSyncEvents> sink;
    std::shared_ptr<EventItemSource> source;
    EventInfo* info; // one reference held here
};

ItemEvents::ItemEvents(Store& store, PendingSave& item, Change change)
    : store_(store), item_(item), change_(change) {
}

ItemEvents::~ItemEvents() {
    for (auto& called : called_) {
        // A sink that kept the record finds it closed.
        called.source->Close();
        called.info->Release();
    }
}

std::int32_t ItemEvents::ItemFlags() const {
    std::int32_t flags = item_.isFolder ? EVT_IS_COLLECTION : 0;
    if (change_ == Change::Delete)
        return flags | EVT_HARDDELETE;
    if (item_.isNew)
        flags |= EVT_NEW_ITEM;
    if (item_.delivered)
        flags |= EVT_IS_DELIVERED;
    return flags;
}

bool ItemEvents::ForThisChange(const std::string& methods) const {
    return NamesMethod(methods, change_ == Change::Save ? "onsyncsave" : "onsyncdelete");
}

void ItemEvents::CallSink(Called& called, const std::string& url, std::int32_t flags) {
    const bool begin = (flags & EVT_SYNC_BEGIN) != 0;
    const std::string method =
        std::string(change_ == Change::Save ? "OnSyncSave" : "OnSyncDelete") +
        (begin ? " (begin)" : "");
    try {
        const auto result = change_ == Change::Save
                                ? called.sink->OnSyncSave(called.info, url.c_str(), flags)
                                : called.sink->OnSyncDelete(called.info, url.c_str(), flags);
        if (com::FAILED(result))
            WriteEventLog(store_, url, called.progId,
                          method + " failed with " + FailureNumberText(result));
    } catch (const std::exception& error) {
        WriteEventLog(store_, url, called.progId, method + " threw: " + error.what());
    } catch (...) {
        WriteEventLog(store_, url, called.progId, method + " threw an unknown exception");
    }
}

void ItemEvents::BeginPhase() {
    // Gather the registrations that apply.
    std::vector<Registration> registrations;
    auto consider = [&](const Item& item, bool applies) {
        if (!applies || item.key == item_.location.key)
            return;
        if (!ForThisChange(TextProperty(item, kEventMethodProperty)))
            return;
        const auto enabled = Property(item, kEnabledProperty);
        if (enabled.IsBool() && !enabled.Bool())
            return;
        Registration registration;
        registration.url = store_.UrlOf(item.key, item_.location.url);
        registration.progId = TextProperty(item, kSinkClassProperty);
        registration.priority = PriorityOf(item);
        try {
            // Several texts are no criteria at all: taken for none, the sink would run for
            // every item.
            if (Property(item, kCriteriaProperty).IsArray())
                throw Error(platform::hr::DISP_E_TYPEMISMATCH,
                            "they are a list of texts, not one text");
            registration.criteria = query::ParseCriteria(TextProperty(item, kCriteriaProperty));
        } catch (const Error& error) {
            WriteEventLog(store_, item_.location.Url(), registration.progId,
                          "The criteria of \"" + registration.url +
                              "\" cannot be read: " + error.Description());
            return;
        }
        if (!query::Holds(registration.criteria.get(), item_.properties))
            return;
        registrations.push_back(std::move(registration));
    };
    // The lookups in one read, as a delivery's are (Delivery.cpp).
    store_.ReadTogether([&] {
        const auto& parent = item_.location.parentKey;
        for (const auto& item : store_.RegistrationItemsIn(parent))
            consider(item, ScopeIs(item, "SHALLOW") || ScopeIs(item, "DEEP"));
        // Above the folder, up to the mailbox root (keys "domain/mailbox" have one "/").
        for (auto folder = ParentKey(parent); std::count(folder.begin(), folder.end(), '/') >= 1;
             folder = ParentKey(folder))
            for (const auto& item : store_.RegistrationItemsIn(folder))
                consider(item, ScopeIs(item, "DEEP"));
        if (item_.isFolder && !item_.isNew)
            for (const auto& item : store_.RegistrationItemsIn(item_.location.key))
                consider(item, ScopeIs(item, "EXACT"));
        for (const auto& folder : store_.GlobalEventFolders())
            for (const auto& item : store_.RegistrationItemsIn(folder))
                consider(item, ScopeIs(item, "ANY"));
    });
    std::stable_sort(registrations.begin(), registrations.end(),
                     [](const auto& a, const auto& b) { return a.priority < b.priority; });

    const auto url = item_.location.Url();
    const Called* refusing = nullptr;
    std::int32_t refusalCode = 0;
    for (const auto& registration : registrations) {
        com::ComPtr<IExStoreSyncEvents> sink;
        try {
            sink = CreateSink(registration.progId);
        } catch (const Error& error) {
            WriteEventLog(store_, url, registration.progId, error.Description());
            continue;
        } catch (const std::exception& error) {
            WriteEventLog(store_, url, registration.progId, error.what());
            continue;
        }
        auto source = std::make_shared<EventItemSource>(&item_);
        source->SetUrl(url);
        auto* info = new EventInfo(source, change_ == Change::Save);
        info->SetBeginPhase(true);
        called_.push_back(Called{registration.progId, sink, source, info});
        CallSink(called_.back(), url, EVT_SYNC_BEGIN | ItemFlags());
        info->SetBeginPhase(false);
        if (info->Aborted()) {
            refusing = &called_.back();
            refusalCode = info->AbortCode();
            break;
        }
    }
    if (refusing) {
        const auto refusedBy = refusing->progId;
        Aborted();
        throw Error(hr::E_ABORT, std::string(change_ == Change::Save ? "The save" : "The delete") +
                                     " of \"" + url + "\" was refused by the event sink \"" +
                                     refusedBy + "\" (code " + std::to_string(refusalCode) + ")");
    }
}

void ItemEvents::RunPhase(std::int32_t phase) {
    const auto url = item_.location.Url();
    for (auto& called : called_)
        if (called.sink)
            CallSink(called, url, phase | ItemFlags());
    // Each phase runs once; the sinks are released with the events object.
    for (auto& called : called_)
        called.sink = com::ComPtr<IExStoreSyncEvents>();
}

void ItemEvents::Committed() {
    RunPhase(EVT_SYNC_COMMITTED);
}

void ItemEvents::Aborted() {
    RunPhase(EVT_SYNC_ABORTED);
}

SaveEvents::SaveEvents(Store& store, PendingSave& save) : ItemEvents(store, save, Change::Save) {
}

void SaveEvents::CheckRegistration() {
    // Asked when a registration comes into being or is pointed at another sink.
    if (!item_.isNew && !item_.changed.count(kSinkClassProperty))
        return;
    auto contentClass = item_.properties.find(kContentClass);
    if (contentClass == item_.properties.end() || !contentClass->second.IsText() ||
        !text::EqualsIgnoreCase(contentClass->second.Text(), kRegistrationClass))
        return;
    auto sinkClass = item_.properties.find(kSinkClassProperty);
    if (sinkClass == item_.properties.end() || !sinkClass->second.IsText() ||
        text::IsBlank(sinkClass->second.Text()))
        return;
    const auto progId = sinkClass->second.Text();
    const auto url = item_.location.Url();
    try {
        auto sink = CreateSink(progId);
        auto registration = sink.As<ICreateRegistration>(IID_ICreateRegistration);
        if (!registration)
            return;
        auto source = std::make_shared<EventItemSource>(&item_);
        source->SetUrl(url);
        source->SetWritable(false);
        auto* info = new EventInfo(source, false);
        std::int32_t result = 0;
        HRESULT hr = com::E_FAIL;
        try {
            hr = registration->Register(info, url.c_str(), ItemFlags(), &result);
        } catch (...) {
            source->Close();
            info->Release();
            throw;
        }
        source->Close();
        info->Release();
        if (com::FAILED(hr))
            throw Error(hr, "Register of \"" + progId + "\" failed with " + FailureNumberText(hr));
        if (result != 0)
            throw Error(hr::E_ABORT, "The sink \"" + progId + "\" refused the registration \"" +
                                         url + "\" (result " + std::to_string(result) + ")");
    } catch (const Error& error) {
        if (error.Number() == hr::E_ABORT)
            throw;
        WriteEventLog(store_, url, progId, error.Description());
    } catch (const std::exception& error) {
        WriteEventLog(store_, url, progId, std::string("Register failed: ") + error.what());
    } catch (...) {
        WriteEventLog(store_, url, progId, "Register failed with an unknown exception");
    }
}

void SaveEvents::Begin() {
    CheckRegistration();
    BeginPhase();
}

DeleteEvents::DeleteEvents(Store& store, PendingSave& item)
    : ItemEvents(store, item, Change::Delete) {
}

} // namespace platform::store
