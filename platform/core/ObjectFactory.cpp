// Creation by ProgID: the registry of factories and the failures of an unknown ProgID or an empty
// factory.

#include "platform/core/ObjectFactory.h"

namespace platform {

namespace {

NamedRegistry<ObjectFactory>& Factories() {
    static NamedRegistry<ObjectFactory> factories;
    return factories;
}

} // namespace

void RegisterObjectFactory(const std::string& progId, ObjectFactory factory) {
    Factories().Set(progId, std::move(factory));
}

void UnregisterObjectFactory(const std::string& progId) {
    Factories().Erase(progId);
}

std::shared_ptr<Object> CreateObject(const std::string& progId) {
    const auto factory = Factories().Find(progId);
    if (!factory || !*factory)
        throw Error(hr::REGDB_E_CLASSNOTREG,
                    "Cannot create object \"" + progId + "\": the class is not registered");
    auto object = (*factory)();
    if (!object)
        throw Error(hr::E_FAIL, "Cannot create object \"" + progId + "\": the factory gave none");
    return object;
}

ScopedObjectFactory::ScopedObjectFactory(const std::string& progId, ObjectFactory factory)
    : entry_(Factories(), progId, std::move(factory)) {
}

ScopedObjectFactory::~ScopedObjectFactory() = default;

} // namespace platform
