#pragma once

// The COM+ administration catalog as scripts see it: the catalog ("COMAdmin.COMAdminCatalog"),
// its collections and their objects. Objects are read and changed in memory; a collection's
// SaveChanges stores them. InstallComponent acts on the stored catalog at once.

#include "platform/core/ObjectFactory.h"
#include "platform/core/Variant.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform::complus {

inline constexpr const char* kCatalogProgId = "COMAdmin.COMAdminCatalog";

class CatalogObject : public Object {
public:
    std::string TypeName() const override { return "ICatalogObject"; }
    // The object's name property ("Name" for an application).
    virtual Variant Name() const = 0;
    // The object's key ("ID" for an application).
    virtual Variant Key() const = 0;
    // A property by name. A write-only property such as "Password" reads as asterisks when set.
    // An unknown name fails with E_INVALIDARG.
    virtual Variant Value(const std::string& property) const = 0;
    // Fails with E_INVALIDARG for an unknown name and DISP_E_TYPEMISMATCH for a value of the
    // wrong kind.
    virtual void SetValue(const std::string& property, const Variant& value) = 0;
};

class CatalogCollection : public Object {
public:
    std::string TypeName() const override { return "ICatalogCollection"; }
    virtual std::string Name() const = 0;
    // Reads the stored objects, dropping changes that were not saved.
    virtual void Populate() = 0;
    virtual std::int32_t Count() const = 0;
    // 0-based; out of range fails with E_INVALIDARG.
    virtual std::shared_ptr<CatalogObject> Item(std::int32_t index) = 0;
    // A new object with the catalog's defaults, at the end of the collection.
    virtual std::shared_ptr<CatalogObject> Add() = 0;
    virtual void Remove(std::int32_t index) = 0;
    // Stores the changes since Populate; returns how many objects changed. A failed save stores
    // nothing.
    virtual std::int32_t SaveChanges() = 0;
};

class ComAdminCatalog : public Object {
public:
    std::string TypeName() const override { return "ICOMAdminCatalog"; }
    // Only "Applications" is kept; other names fail with E_INVALIDARG.
    virtual std::shared_ptr<CatalogCollection> GetCollection(const std::string& name) = 0;
    // Installs the classes the DLL registers into the application named (letter case ignored)
    // or identified by `applicationIdOrName`, and makes them creatable by ProgID.
    virtual void InstallComponent(const std::string& applicationIdOrName, const std::string& dll,
                                  const std::string& typeLibrary, const std::string& proxyStub) = 0;
};

} // namespace platform::complus
