#pragma once

// The setup modules' clock and locale pinned, the sink registered as the window does it, and ADO
// and COM+ scripted: any call can fail.

#include "platform/complus/Catalog.h"
#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "setup/ErrorLog.h"
#include "setup/Items.h"

#include <QLocale>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace setuptest {

class PinnedClockAndLocale {
public:
    explicit PinnedClockAndLocale(QDateTime now = QDateTime(QDate(2026, 12, 6), QTime(20, 34, 7)),
                                  QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates))
        : previousLocale_(QLocale()) {
        previousClock_ = lorvanta::setup::SetLocalClock([now] { return now; });
        QLocale::setDefault(locale);
    }
    ~PinnedClockAndLocale() {
        lorvanta::setup::SetLocalClock(previousClock_);
        QLocale::setDefault(previousLocale_);
    }
    PinnedClockAndLocale(const PinnedClockAndLocale&) = delete;
    PinnedClockAndLocale& operator=(const PinnedClockAndLocale&) = delete;

private:
    lorvanta::setup::LocalClock previousClock_;
    QLocale previousLocale_;
};

// The stamp the pinned clock gives in en_US.
inline const std::string kStamp = "[12/6/26 8:34:07 PM] ";

inline const std::string kCriteria = " WHERE \"DAV:ishidden\" = FALSE";

// The sink's registration as the window makes it; the URL of its folder, or "" on a failure.
inline std::string RegisterSink(lorvanta::setup::ErrorLog& log, const std::string& url,
                                const std::string& folderName, const std::string& scope = "SHALLOW",
                                const std::string& criteria = kCriteria) {
    return lorvanta::setup::CreateEventRegistration(log, url, folderName, "Lorvanta.reg",
                                                    "onsyncsave", "Lorvanta.LorvantaCls", scope,
                                                    criteria, "1", true);
}

inline constexpr std::int32_t kInjectedNumber = platform::hr::Code(0x80040E37);

struct Script {
    // What the doubles were asked to do, in order, e.g. "Record.Open", "Field.SetValue".
    std::vector<std::string> calls;
    // The call to fail: its name and which occurrence (1 = the first, -1 = every one).
    std::string failCall;
    int failOccurrence = 0;

    // The store and the catalog as the doubles show them.
    std::string inboxUrl = "file://./backofficestorage/example.com/MBX/alice/Posteingang";
    std::vector<std::string> applications;

    std::vector<std::weak_ptr<platform::Object>> made;

    void Call(const std::string& name) {
        calls.push_back(name);
        if (name == failCall && (failOccurrence == -1 ||
                                 std::count(calls.begin(), calls.end(), name) == failOccurrence))
            throw platform::Error(kInjectedNumber, "Injected failure of " + name);
    }
    template <class T> T Answer(const std::string& name, T value) {
        Call(name);
        return value;
    }
    // Fails the occurrence of the call at position `index` of `trace`.
    void FailAt(const std::vector<std::string>& trace, std::size_t index) {
        failCall = trace.at(index);
        failOccurrence = static_cast<int>(std::count(
            trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(index) + 1, failCall));
    }
    bool AllReleased() const {
        return std::all_of(made.begin(), made.end(),
                           [](const auto& object) { return object.expired(); });
    }
};

namespace scripted {

using namespace platform;

// What every double holds: the script it reports to, and whether it is open.
struct Scripted {
    explicit Scripted(Script& script) : script_(script) {}
    void Opened(const std::string& call, bool open) {
        script_.Call(call);
        open_ = open;
    }
    ado::ObjectState OpenState() const { return open_ ? ado::adStateOpen : ado::adStateClosed; }

    Script& script_;
    bool open_ = false;
};

class ScriptedField final : public ado::Field, Scripted {
public:
    ScriptedField(Script& script, std::string name) : Scripted(script), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    Variant Value() const override {
        const bool inbox = name_ == "urn:schemas:httpmail:inbox";
        return script_.Answer("Field.Value", inbox ? Variant(script_.inboxUrl) : Variant());
    }
    void SetValue(const Variant&) override { script_.Call("Field.SetValue"); }

private:
    std::string name_;
};

class ScriptedFields final : public ado::Fields, Scripted {
public:
    using Scripted::Scripted;
    std::int32_t Count() const override { return script_.Answer("Fields.Count", 3); }
    std::shared_ptr<ado::Field> Item(const std::string& name) override {
        return script_.Answer("Fields.Item", std::make_shared<ScriptedField>(script_, name));
    }
    std::shared_ptr<ado::Field> Item(std::int32_t) override {
        return script_.Answer("Fields.Item", std::make_shared<ScriptedField>(script_, ""));
    }
    void Append(const std::string&, const Variant&) override { script_.Call("Fields.Append"); }
    void Update() override { script_.Call("Fields.Update"); }
};

class ScriptedConnection final : public ado::Connection, Scripted {
public:
    using Scripted::Scripted;
    std::string Provider() const override { return ""; }
    void SetProvider(const std::string&) override { script_.Call("Connection.Provider"); }
    std::string ConnectionString() const override { return ""; }
    void SetConnectionString(const std::string&) override {
        script_.Call("Connection.ConnectionString");
    }
    void Open(const std::string&, const std::string&, const std::string&) override {
        Opened("Connection.Open", true);
    }
    std::shared_ptr<ado::Recordset> Execute(const std::string&) override {
        return script_.Answer("Connection.Execute", nullptr);
    }
    void BeginTrans() override { script_.Call("Connection.BeginTrans"); }
    void CommitTrans() override { script_.Call("Connection.CommitTrans"); }
    void RollbackTrans() override { script_.Call("Connection.RollbackTrans"); }
    void Close() override { Opened("Connection.Close", false); }
    ado::ObjectState State() const override { return OpenState(); }
    ado::ProviderSession& Session() override {
        throw Error(hr::E_NOTIMPL, "The scripted connection has no provider session");
    }
};

class ScriptedRecord final : public ado::Record, Scripted {
public:
    using Scripted::Scripted;
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t, const std::string&, const std::string&) override {
        Opened("Record.Open", true);
    }
    std::shared_ptr<ado::Fields> Fields() override {
        return script_.Answer("Record.Fields", std::make_shared<ScriptedFields>(script_));
    }
    void DeleteRecord(const std::string&, bool) override { script_.Call("Record.DeleteRecord"); }
    void Close() override { Opened("Record.Close", false); }
    ado::ObjectState State() const override { return OpenState(); }
};

class ScriptedRecordset final : public ado::Recordset, Scripted {
public:
    using Scripted::Scripted;
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t) override {
        Opened("Recordset.Open", true);
    }
    bool Eof() override { return script_.Answer("Recordset.EOF", false); }
    std::shared_ptr<ado::Fields> Fields() override {
        return script_.Answer("Recordset.Fields", std::make_shared<ScriptedFields>(script_));
    }
    void MoveNext() override { script_.Call("Recordset.MoveNext"); }
    std::int64_t RecordCount() override { return -1; }
    void Close() override { Opened("Recordset.Close", false); }
    ado::ObjectState State() const override { return OpenState(); }
};

class ScriptedApplication final : public complus::CatalogObject, Scripted {
public:
    ScriptedApplication(Script& script, std::string name)
        : Scripted(script), name_(std::move(name)) {}
    Variant Name() const override { return script_.Answer("Object.Name", Variant(name_)); }
    Variant Key() const override { return Variant("{00000000-0000-0000-0000-000000000000}"); }
    Variant Value(const std::string&) const override {
        return script_.Answer("Object.Value", Variant());
    }
    void SetValue(const std::string&, const Variant&) override { script_.Call("Object.SetValue"); }

private:
    std::string name_;
};

template <class T> std::shared_ptr<T> Track(Script& script, std::shared_ptr<T> object) {
    script.made.push_back(object);
    return object;
}

class ScriptedApplications final : public complus::CatalogCollection, Scripted {
public:
    using Scripted::Scripted;
    std::string Name() const override { return "Applications"; }
    void Populate() override { script_.Call("Collection.Populate"); }
    std::int32_t Count() const override {
        return script_.Answer("Collection.Count",
                              static_cast<std::int32_t>(script_.applications.size()));
    }
    std::shared_ptr<complus::CatalogObject> Item(std::int32_t index) override {
        script_.Call("Collection.Item");
        return Track(script_, std::make_shared<ScriptedApplication>(
                                  script_, script_.applications.at(index)));
    }
    std::shared_ptr<complus::CatalogObject> Add() override {
        script_.Call("Collection.Add");
        return Track(script_, std::make_shared<ScriptedApplication>(script_, "New Application"));
    }
    void Remove(std::int32_t) override { script_.Call("Collection.Remove"); }
    std::int32_t SaveChanges() override { return script_.Answer("Collection.SaveChanges", 1); }
};

class ScriptedCatalog final : public complus::ComAdminCatalog, Scripted {
public:
    using Scripted::Scripted;
    std::shared_ptr<complus::CatalogCollection> GetCollection(const std::string& name) override {
        script_.Call("Catalog.GetCollection");
        if (name != "Applications")
            throw Error(hr::E_INVALIDARG, "no collection " + name);
        return Track(script_, std::make_shared<ScriptedApplications>(script_));
    }
    void InstallComponent(const std::string&, const std::string&, const std::string&,
                          const std::string&) override {
        script_.Call("Catalog.InstallComponent");
    }
};

template <class T> ObjectFactory Factory(Script& script, const std::string& progId) {
    return [&script, progId]() -> std::shared_ptr<Object> {
        script.Call("Create " + progId);
        return Track(script, std::make_shared<T>(script));
    };
}

} // namespace scripted

// Makes the doubles creatable by their ProgIDs for its lifetime.
class ScriptedPlatform {
public:
    explicit ScriptedPlatform(Script& script)
        : connection_("ADODB.Connection",
                      scripted::Factory<scripted::ScriptedConnection>(script, "ADODB.Connection")),
          record_("ADODB.Record",
                  scripted::Factory<scripted::ScriptedRecord>(script, "ADODB.Record")),
          recordset_("ADODB.Recordset",
                     scripted::Factory<scripted::ScriptedRecordset>(script, "ADODB.Recordset")),
          catalog_(platform::complus::kCatalogProgId,
                   scripted::Factory<scripted::ScriptedCatalog>(
                       script, platform::complus::kCatalogProgId)) {}

private:
    platform::ScopedObjectFactory connection_, record_, recordset_, catalog_;
};

} // namespace setuptest
