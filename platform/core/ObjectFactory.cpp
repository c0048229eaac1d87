#include "platform/core/ObjectFactory.h"

#include <unicode/uchar.h>

#include <map>
#include <mutex>

namespace platform {

namespace {

// ProgIDs are ASCII in practice; fold them so lookups ignore letter case.
std::string Key(const std::string& progId) {
    std::string key = progId;
    for (auto& c : key)
        c = static_cast<char>(u_tolower(static_cast<unsigned char>(c)));
    return key;
}

struct Registry {
    std::mutex mutex;
    std::map<std::string, ObjectFactory> factories;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

} // namespace

void RegisterObjectFactory(const std::string& progId, ObjectFactory factory) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.factories[Key(progId)] = std::move(factory);
}

void UnregisterObjectFactory(const std::string& progId) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.factories.erase(Key(progId));
}

std::shared_ptr<Object> CreateObject(const std::string& progId) {
    ObjectFactory factory;
    {
        auto& registry = TheRegistry();
        std::lock_guard lock(registry.mutex);
        auto found = registry.factories.find(Key(progId));
        if (found == registry.factories.end())
            throw Error(hr::REGDB_E_CLASSNOTREG,
                        "Cannot create object \"" + progId + "\": the class is not registered");
        factory = found->second;
    }
    auto object = factory();
    if (!object)
        throw Error(hr::E_FAIL, "Cannot create object \"" + progId + "\": the factory gave none");
    return object;
}

ScopedObjectFactory::ScopedObjectFactory(const std::string& progId, ObjectFactory factory)
    : progId_(progId) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto& slot = registry.factories[Key(progId)];
    hadPrevious_ = static_cast<bool>(slot);
    previous_ = std::move(slot);
    slot = std::move(factory);
}

ScopedObjectFactory::~ScopedObjectFactory() {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (hadPrevious_)
        registry.factories[Key(progId_)] = std::move(previous_);
    else
        registry.factories.erase(Key(progId_));
}

} // namespace platform
