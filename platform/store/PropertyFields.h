#pragma once

// The field collection of a store record (an item opened through the provider, or the item of
// an event): reads see the item with the writes made since the last Update, Update hands the
// writes to whoever keeps the item.

#include "platform/core/Ado.h"
#include "platform/store/Store.h"

#include <memory>
#include <string>

namespace platform::store {

class FieldSource {
public:
    virtual ~FieldSource() = default;
    // The item's properties as last stored (or as the save in progress holds them).
    virtual const PropertyMap& Current() = 0;
    // Stores the writes; an empty value removes the property.
    virtual void Commit(const PropertyMap& writes) = 0;
    virtual bool Writable() const = 0;
    // The item's URL, for failure descriptions.
    virtual std::string Url() const = 0;
};

class PropertyFields final : public ado::Fields,
                             public std::enable_shared_from_this<PropertyFields> {
public:
    explicit PropertyFields(std::shared_ptr<FieldSource> source) : source_(std::move(source)) {}

    std::int32_t Count() const override;
    // Never fails for a name the item lacks: the field reads as empty, and setting its value
    // creates the property.
    std::shared_ptr<ado::Field> Item(const std::string& name) override;
    std::shared_ptr<ado::Field> Item(std::int32_t index) override;
    void Append(const std::string& name, const Variant& value) override;
    void Update() override;

    Variant Read(const std::string& name) const;
    void Write(const std::string& name, const Variant& value);

private:
    // The names the record shows: the item's, plus written ones, less removed ones.
    PropertyMap Merged() const;

    std::shared_ptr<FieldSource> source_;
    PropertyMap writes_;
};

} // namespace platform::store
