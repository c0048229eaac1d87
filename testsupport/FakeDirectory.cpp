// The directory double: a provider session and system information objects that answer from the
// test's rows and fail where the test says.

#include "testsupport/FakeDirectory.h"

#include "platform/core/Error.h"
#include "platform/core/Provider.h"
#include "platform/directory/SystemInfo.h"

namespace doubles {

using platform::Error;
using platform::Variant;
namespace ado = platform::ado;
namespace hr = platform::hr;

namespace {

constexpr const char* kProvider = "ADSDSOObject";

class RowField : public ado::Field {
public:
    explicit RowField(Variant value) : value_(std::move(value)) {}
    std::string Name() const override { return "proxyAddresses"; }
    Variant Value() const override { return value_; }
    void SetValue(const Variant&) override {
        throw Error(hr::adErrFeatureNotAvailable, "directory rows are read-only");
    }

private:
    Variant value_;
};

class RowFields : public ado::Fields {
public:
    explicit RowFields(Variant value) : value_(std::move(value)) {}
    std::int32_t Count() const override { return 1; }
    std::shared_ptr<ado::Field> Item(const std::string&) override {
        return std::make_shared<RowField>(value_);
    }
    std::shared_ptr<ado::Field> Item(std::int32_t index) override {
        if (index != 0)
            throw Error(hr::adErrItemNotFound, "Item cannot be found at that position");
        return std::make_shared<RowField>(value_);
    }
    void Append(const std::string&, const Variant&) override {}
    void Update() override {}

private:
    Variant value_;
};

class Rows : public ado::Recordset {
public:
    explicit Rows(std::shared_ptr<FakeDirectoryState> state) : state_(std::move(state)) {}
    void Open(const std::string&, const std::shared_ptr<ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t) override {}
    bool Eof() override {
        FailAt(state_->eofFailsAtRow, "EOF");
        return row_ >= state_->rows.size();
    }
    std::shared_ptr<ado::Fields> Fields() override {
        FailAt(state_->fieldFailsAtRow, "Fields");
        return std::make_shared<RowFields>(state_->rows.at(row_));
    }
    void MoveNext() override {
        FailAt(state_->moveNextFailsAtRow, "MoveNext");
        ++row_;
    }
    std::int64_t RecordCount() override { return static_cast<std::int64_t>(state_->rows.size()); }
    void Close() override { ++state_->closedRecordsets; }
    ado::ObjectState State() const override { return ado::adStateOpen; }

private:
    void FailAt(const std::optional<std::size_t>& failingRow, const char* what) const {
        if (failingRow && *failingRow == row_)
            throw Error(hr::E_FAIL, std::string("injected failure: ") + what);
    }
    std::shared_ptr<FakeDirectoryState> state_;
    std::size_t row_ = 0;
};

class Session : public ado::ProviderSession {
public:
    explicit Session(std::shared_ptr<FakeDirectoryState> state) : state_(std::move(state)) {
        ++state_->openSessions;
    }
    ~Session() override { --state_->openSessions; }
    std::shared_ptr<ado::Recordset> Execute(const std::string& commandText,
                                            const ado::CommandProperties&) override {
        state_->queries.push_back(commandText);
        if (state_->executeFails)
            throw Error(hr::ERROR_DS_SERVER_DOWN,
                        "injected failure: the server is not operational");
        return std::make_shared<Rows>(state_);
    }

private:
    std::shared_ptr<FakeDirectoryState> state_;
};

class SystemInfo : public platform::directory::ADSystemInfo {
public:
    explicit SystemInfo(std::shared_ptr<FakeDirectoryState> state) : state_(std::move(state)) {}
    std::string ForestDNSName() override {
        if (state_->forestNameFails)
            throw Error(hr::ERROR_DS_SERVER_DOWN, "injected failure: no forest name");
        return state_->forestDnsName;
    }
    std::string DomainDNSName() override { return state_->forestDnsName; }

private:
    std::shared_ptr<FakeDirectoryState> state_;
};

class Computer : public platform::directory::WinNTSystemInfo {
public:
    explicit Computer(std::shared_ptr<FakeDirectoryState> state) : state_(std::move(state)) {}
    std::string ComputerName() override { return state_->computerName; }

private:
    std::shared_ptr<FakeDirectoryState> state_;
};

} // namespace

FakeDirectory::FakeDirectory()
    : state_(std::make_shared<FakeDirectoryState>()),
      systemInfo_("ADSystemInfo", [state = state_] { return std::make_shared<SystemInfo>(state); }),
      computer_("WinNTSystemInfo",
                [state = state_]() -> std::shared_ptr<platform::Object> {
                    if (state->computerName.empty())
                        throw Error(hr::REGDB_E_CLASSNOTREG, "no WinNTSystemInfo");
                    return std::make_shared<Computer>(state);
                }),
      provider_(kProvider,
                [state = state_](const std::string&, const std::string&, const std::string&) {
                    if (state->openFails)
                        throw Error(hr::ERROR_DS_SERVER_DOWN, "injected failure: cannot open");
                    return std::make_unique<Session>(state);
                }) {
}

} // namespace doubles
