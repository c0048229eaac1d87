#pragma once

// Creating the platform's objects by ProgID, the way the system's code asks for them, through
// factories that tests can replace.

#include "platform/core/Error.h"
#include "platform/core/NamedRegistry.h"

#include <functional>
#include <memory>
#include <string>

namespace platform {

// Base of every object that the system creates by ProgID (connections, records, system
// information, the catalog). Callers cast to the interface they need.
class Object {
public:
    virtual ~Object() = default;
    // The class name a script would see ("Connection", "Record", ...).
    virtual std::string TypeName() const = 0;
};

using ObjectFactory = std::function<std::shared_ptr<Object>()>;

// Makes `progId` creatable (ProgIDs compare without regard to case). A later registration of the
// same ProgID replaces the earlier one.
void RegisterObjectFactory(const std::string& progId, ObjectFactory factory);
void UnregisterObjectFactory(const std::string& progId);

// Creates an object by ProgID. Fails with REGDB_E_CLASSNOTREG for an unknown ProgID, or with
// whatever the factory fails with. Safe to call from several threads at once.
std::shared_ptr<Object> CreateObject(const std::string& progId);

// The object as interface T; fails with E_NOINTERFACE, saying how the object was obtained
// (`origin`, e.g. `created for "ADODB.Record"`), when it does not offer T.
template <class T>
std::shared_ptr<T> AsInterface(const std::shared_ptr<Object>& object, const std::string& origin) {
    auto typed = std::dynamic_pointer_cast<T>(object);
    if (!typed)
        throw Error(hr::E_NOINTERFACE, "The object " + origin + " lacks the interface asked for");
    return typed;
}

// Creates an object and checks that it offers interface T (E_NOINTERFACE otherwise).
template <class T> std::shared_ptr<T> CreateObjectAs(const std::string& progId) {
    return AsInterface<T>(CreateObject(progId), "created for \"" + progId + "\"");
}

// For tests: installs factories that take precedence over the registered ones for the lifetime
// of this object, and restores what was there before on destruction. Scopes nest.
class ScopedObjectFactory {
public:
    ScopedObjectFactory(const std::string& progId, ObjectFactory factory);
    ~ScopedObjectFactory();
    ScopedObjectFactory(const ScopedObjectFactory&) = delete;
    ScopedObjectFactory& operator=(const ScopedObjectFactory&) = delete;

private:
    ScopedEntry<ObjectFactory> entry_;
};

} // namespace platform
