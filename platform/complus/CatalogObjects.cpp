// The catalog, its "Applications" collection and the application objects. Changes stay in the
// collection until SaveChanges merges them into the stored catalog; classes follow their
// application into and out of the server folder's class registry.

#include "platform/complus/CatalogObjects.h"

#include "platform/com/Guid.h"
#include "platform/complus/CatalogErrors.h"
#include "platform/complus/CatalogFile.h"
#include "platform/complus/ComponentClasses.h"
#include "platform/core/Error.h"
#include "platform/core/Text.h"

#include <algorithm>
#include <random>

namespace platform::complus {

namespace {

namespace fs = std::filesystem;

constexpr const char* kApplications = "Applications";
constexpr const char* kPassword = "Password";
// What a write-only property reads as when it holds a value.
constexpr const char* kHiddenValue = "********";

enum class Kind { Text, Boolean };

struct PropertyRule {
    const char* name;
    Kind kind;
};

// The properties an application keeps, with the catalog's defaults written in this order.
constexpr PropertyRule kApplicationProperties[] = {
    {"ID", Kind::Text},          {"Name", Kind::Text},
    {"Description", Kind::Text}, {"ApplicationAccessChecksEnabled", Kind::Boolean},
    {"Identity", Kind::Text},    {kPassword, Kind::Text},
};

const PropertyRule& RuleFor(const std::string& property) {
    for (const auto& rule : kApplicationProperties)
        if (property == rule.name)
            return rule;
    throw Error(hr::E_INVALIDARG, "\"" + property + "\" is not a property of a COM+ application");
}

std::string NewApplicationId() {
    std::random_device random;
    com::GUID id{};
    id.Data1 = random();
    id.Data2 = static_cast<std::uint16_t>(random());
    id.Data3 = static_cast<std::uint16_t>((random() & 0x0FFF) | 0x4000);
    for (auto& byte : id.Data4)
        byte = static_cast<std::uint8_t>(random());
    id.Data4[0] = static_cast<std::uint8_t>((id.Data4[0] & 0x3F) | 0x80);
    return com::FormatGuid(id);
}

StoredApplication NewApplication() {
    StoredApplication application;
    application.Set("ID", Variant(NewApplicationId()));
    application.Set("Name", Variant("New Application"));
    application.Set("Description", Variant(""));
    application.Set("ApplicationAccessChecksEnabled", Variant(true));
    application.Set("Identity", Variant("Interactive User"));
    application.Set(kPassword, Variant(""));
    return application;
}

bool SameId(const std::string& left, const std::string& right) {
    return text::EqualsIgnoreCase(left, right);
}

class Application final : public CatalogObject {
public:
    Application(StoredApplication data, bool isNew)
        : data_(std::move(data)), storedId_(data_.Id()), new_(isNew), changed_(isNew) {}

    Variant Name() const override { return data_.Get("Name"); }
    Variant Key() const override { return data_.Get("ID"); }
    Variant Value(const std::string& property) const override {
        RuleFor(property);
        const auto value = data_.Get(property);
        if (property == kPassword)
            return Variant(value.ToText().empty() ? "" : kHiddenValue);
        return value;
    }
    void SetValue(const std::string& property, const Variant& value) override {
        const auto& rule = RuleFor(property);
        const bool fits = rule.kind == Kind::Text ? value.IsText() : value.IsBool();
        if (!fits)
            throw Error(hr::DISP_E_TYPEMISMATCH, "The COM+ application property \"" + property +
                                                     "\" cannot take a " + value.TypeName() +
                                                     " value");
        if (property == "ID" && !com::ParseGuid(value.Text()))
            throw Error(hr::E_INVALIDARG,
                        "\"" + value.Text() + "\" is not an application ID ({GUID} form)");
        data_.Set(property, value);
        changed_ = true;
    }

    const StoredApplication& Data() const { return data_; }
    const std::string& StoredId() const { return storedId_; }
    bool IsNew() const { return new_; }
    bool IsChanged() const { return changed_; }
    void MarkSaved() {
        storedId_ = data_.Id();
        new_ = changed_ = false;
    }

private:
    StoredApplication data_;
    std::string storedId_; // the ID under which the stored catalog knows it
    bool new_;
    bool changed_;
};

class Applications final : public CatalogCollection {
public:
    explicit Applications(host::ServerFolder folder)
        : folder_(std::move(folder)), file_(folder_.ComPlusDir()) {}

    std::string Name() const override { return kApplications; }
    void Populate() override {
        std::vector<std::shared_ptr<Application>> items;
        for (auto& stored : file_.Read())
            items.push_back(std::make_shared<Application>(std::move(stored), false));
        items_ = std::move(items);
        removed_.clear();
    }
    std::int32_t Count() const override { return static_cast<std::int32_t>(items_.size()); }
    std::shared_ptr<CatalogObject> Item(std::int32_t index) override {
        return items_.at(CheckIndex(index));
    }
    std::shared_ptr<CatalogObject> Add() override {
        items_.push_back(std::make_shared<Application>(NewApplication(), true));
        return items_.back();
    }
    void Remove(std::int32_t index) override {
        const auto at = CheckIndex(index);
        if (!items_[at]->IsNew())
            removed_.push_back(items_[at]->StoredId());
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    std::int32_t SaveChanges() override {
        std::int32_t changes = static_cast<std::int32_t>(removed_.size());
        std::vector<com::ClassRegistration> orphaned;
        file_.Modify([&](std::vector<StoredApplication>& stored) {
            orphaned.clear();
            for (const auto& id : removed_) {
                auto found = std::find_if(stored.begin(), stored.end(), [&](const auto& entry) {
                    return SameId(entry.Id(), id);
                });
                // Someone else removed it already: what was asked for holds.
                if (found == stored.end())
                    continue;
                orphaned.insert(orphaned.end(), found->components.begin(), found->components.end());
                stored.erase(found);
            }
            for (const auto& item : items_) {
                if (!item->IsChanged())
                    continue;
                if (item->IsNew()) {
                    stored.push_back(item->Data());
                    continue;
                }
                auto found = std::find_if(stored.begin(), stored.end(), [&](const auto& entry) {
                    return SameId(entry.Id(), item->StoredId());
                });
                if (found == stored.end())
                    throw Error(hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST,
                                "The COM+ application " + item->StoredId() +
                                    " was removed from the catalog meanwhile");
                found->properties = item->Data().properties;
            }
        });
        for (const auto& item : items_)
            if (item->IsChanged()) {
                ++changes;
                item->MarkSaved();
            }
        removed_.clear();
        UnregisterClasses(orphaned);
        return changes;
    }

private:
    std::size_t CheckIndex(std::int32_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
            throw Error(hr::E_INVALIDARG,
                        "Index " + std::to_string(index) + " is outside the collection \"" +
                            kApplications + "\" of " + std::to_string(items_.size()) + " objects");
        return static_cast<std::size_t>(index);
    }
    // A class leaves the registry with its application, unless another server took it over.
    void UnregisterClasses(const std::vector<com::ClassRegistration>& classes) const {
        const com::ClassRegistry registry(folder_.ComDir());
        for (const auto& component : classes) {
            const auto registered = registry.FindByClassId(component.clsid);
            if (registered && registered->server == component.server)
                registry.Unregister(component.clsid);
        }
    }

    host::ServerFolder folder_;
    CatalogFile file_;
    std::vector<std::shared_ptr<Application>> items_;
    std::vector<std::string> removed_;
};

class Catalog final : public ComAdminCatalog {
public:
    explicit Catalog(host::ServerFolder folder) : folder_(std::move(folder)) {}

    std::shared_ptr<CatalogCollection> GetCollection(const std::string& name) override {
        if (name != kApplications)
            throw Error(hr::E_INVALIDARG, "The COM+ catalog has no collection \"" + name + "\"");
        return std::make_shared<Applications>(folder_);
    }

    void InstallComponent(const std::string& applicationIdOrName, const std::string& dll,
                          const std::string& typeLibrary, const std::string& proxyStub) override {
        const CatalogFile file(folder_.ComPlusDir());
        // The application must be known before anything is loaded.
        const auto id = ResolveApplication(file.Read(), applicationIdOrName);
        for (const auto* extra : {&typeLibrary, &proxyStub}) {
            std::error_code error;
            if (!extra->empty() && !fs::is_regular_file(*extra, error))
                throw Error(hr::COMADMIN_E_COMPFILE_DOESNOTEXIST,
                            "The file \"" + *extra + "\" does not exist");
        }
        const auto classes = LearnServerClasses(dll);

        file.Modify([&](std::vector<StoredApplication>& stored) {
            const auto target = ResolveApplication(stored, id);
            for (auto& application : stored) {
                auto& components = application.components;
                std::erase_if(components, [&](const com::ClassRegistration& component) {
                    return std::any_of(classes.begin(), classes.end(), [&](const auto& learnt) {
                        return learnt.clsid == component.clsid;
                    });
                });
                if (SameId(application.Id(), target))
                    components.insert(components.end(), classes.begin(), classes.end());
            }
        });
        const com::ClassRegistry registry(folder_.ComDir());
        for (const auto& registration : classes)
            registry.Register(registration);
    }

private:
    // The ID of the one application with that ID or name.
    static std::string ResolveApplication(const std::vector<StoredApplication>& stored,
                                          const std::string& idOrName) {
        std::vector<std::string> matches;
        for (const auto& application : stored)
            if (SameId(application.Id(), idOrName) ||
                text::EqualsIgnoreCase(application.Name(), idOrName))
                matches.push_back(application.Id());
        if (matches.empty())
            throw Error(hr::COMADMIN_E_OBJECT_DOES_NOT_EXIST,
                        "No COM+ application has the name or ID \"" + idOrName + "\"");
        if (matches.size() > 1)
            throw Error(hr::COMADMIN_E_AMBIGUOUS_APPLICATION_NAME,
                        std::to_string(matches.size()) + " COM+ applications are named \"" +
                            idOrName + "\"; give the application's ID instead");
        return matches.front();
    }

    host::ServerFolder folder_;
};

} // namespace

std::shared_ptr<ComAdminCatalog> OpenCatalog(const host::ServerFolder& folder) {
    return std::make_shared<Catalog>(folder);
}

} // namespace platform::complus
