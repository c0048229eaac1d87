// The record double's fields: properties read and written in memory, each call failing on demand.

#include "testsupport/FakeRecord.h"

namespace doubles {

using platform::Error;
using platform::Variant;
namespace hr = platform::hr;

void FakeRecord::FailIfAsked(const std::string& call) const {
    if (failing.count(call))
        throw Error(hr::E_FAIL, "injected failure: " + call);
}

namespace {

class FakeField : public platform::ado::Field {
public:
    FakeField(std::shared_ptr<FakeRecord> record, std::string name)
        : record_(std::move(record)), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    Variant Value() const override {
        record_->calls.push_back("Read " + name_);
        record_->FailIfAsked("Read " + name_);
        auto found = record_->properties.find(name_);
        if (found != record_->properties.end())
            return found->second;
        if (record_->missingPropertyFails)
            throw Error(hr::adErrItemNotFound, "Item cannot be found: " + name_);
        return {};
    }
    void SetValue(const Variant& value) override {
        record_->calls.push_back("Write " + name_);
        record_->FailIfAsked("Write " + name_);
        record_->properties[name_] = value;
    }

private:
    std::shared_ptr<FakeRecord> record_;
    std::string name_;
};

class FakeFields : public platform::ado::Fields {
public:
    explicit FakeFields(std::shared_ptr<FakeRecord> record) : record_(std::move(record)) {}
    std::int32_t Count() const override {
        return static_cast<std::int32_t>(record_->properties.size());
    }
    std::shared_ptr<platform::ado::Field> Item(const std::string& name) override {
        return std::make_shared<FakeField>(record_, name);
    }
    // The sink reads and writes its properties by name only.
    std::shared_ptr<platform::ado::Field> Item(std::int32_t) override {
        throw Error(hr::E_NOTIMPL, "the record double has no fields by position");
    }
    void Append(const std::string&, const Variant&) override {
        throw Error(hr::E_NOTIMPL, "the record double appends no fields");
    }
    void Update() override {
        record_->calls.push_back("Update");
        record_->FailIfAsked("Update");
        ++record_->updates;
    }

private:
    std::shared_ptr<FakeRecord> record_;
};

} // namespace

std::shared_ptr<platform::ado::Fields> FakeRecord::Fields() {
    FailIfAsked("Fields");
    return std::make_shared<FakeFields>(shared_from_this());
}

} // namespace doubles
