// The fields of a store record: reads see pending writes over the stored properties, and Update
// hands the writes on.

#include "platform/store/PropertyFields.h"

#include "platform/store/StoreErrors.h"

namespace platform::store {

namespace {

class PropertyField final : public ado::Field {
public:
    PropertyField(std::shared_ptr<PropertyFields> fields, std::string name)
        : fields_(std::move(fields)), name_(std::move(name)) {}
    std::string Name() const override { return name_; }
    Variant Value() const override { return fields_->Read(name_); }
    void SetValue(const Variant& value) override { fields_->Write(name_, value); }

private:
    std::shared_ptr<PropertyFields> fields_;
    std::string name_;
};

} // namespace

PropertyMap PropertyFields::Merged() const {
    PropertyMap merged = source_->Current();
    for (const auto& [name, value] : writes_) {
        if (value.IsEmpty())
            merged.erase(name);
        else
            merged[name] = value;
    }
    return merged;
}

std::int32_t PropertyFields::Count() const {
    return static_cast<std::int32_t>(Merged().size());
}

std::shared_ptr<ado::Field> PropertyFields::Item(const std::string& name) {
    return std::make_shared<PropertyField>(shared_from_this(), name);
}

std::shared_ptr<ado::Field> PropertyFields::Item(std::int32_t index) {
    const auto merged = Merged();
    if (index < 0 || index >= static_cast<std::int32_t>(merged.size()))
        throw Error(platform::hr::adErrItemNotFound,
                    "Item cannot be found in the collection corresponding to the requested name "
                    "or ordinal (field " +
                        std::to_string(index) + " of \"" + source_->Url() + "\")");
    return Item(std::next(merged.begin(), index)->first);
}

void PropertyFields::Append(const std::string& name, const Variant& value) {
    Write(name, value);
}

Variant PropertyFields::Read(const std::string& name) const {
    if (auto written = writes_.find(name); written != writes_.end())
        return written->second;
    const auto& current = source_->Current();
    auto found = current.find(name);
    return found == current.end() ? Variant() : found->second;
}

void PropertyFields::Write(const std::string& name, const Variant& value) {
    if (!source_->Writable())
        throw Error(hr::DB_SEC_E_PERMISSIONDENIED, "\"" + source_->Url() +
                                                       "\" was opened for reading; \"" + name +
                                                       "\" cannot be written");
    writes_[name] = value;
}

void PropertyFields::Update() {
    if (!source_->Writable())
        throw Error(hr::DB_SEC_E_PERMISSIONDENIED,
                    "\"" + source_->Url() + "\" was opened for reading and cannot be updated");
    auto writes = std::move(writes_);
    writes_.clear();
    try {
        source_->Commit(writes);
    } catch (...) {
        // A failed update keeps the writes, so that the caller may try again.
        writes_ = std::move(writes);
        throw;
    }
}

} // namespace platform::store
