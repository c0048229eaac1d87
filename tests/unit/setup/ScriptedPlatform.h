#pragma once

// Doubles of the ADO objects and of the COM+ catalog for the setup modules: every call is
// recorded by name in order, and any one call (the n-th of its name) can be made to fail. The
// objects made are tracked so that tests can tell whether the operation released them.

#include "platform/complus/Catalog.h"
#include "platform/core/Ado.h"
#include "platform/core/Error.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace setuptest {

inline constexpr std::int32_t kInjectedNumber = platform::hr::Code(0x80040E37);

struct Script {
    // What the doubles were asked to do, in order, e.g. "Record.Open", "Field.SetValue".
    std::vector<std::string> calls;
    // The call to fail: its name and which occurrence (1 = the first).
    std::string failCall;
    int failOccurrence = 0;

    // The store as the doubles show it.
    std::int32_t mailboxFieldCount = 3;
    std::string inboxUrl = "file://./backofficestorage/example.com/MBX/alice/Posteingang";
    bool rowsAtEnd = false;

    // What the operations handed over.
    std::vector<std::string> openedRecords; // "URL mode create options"
    std::vector<std::pair<std::string, platform::Variant>> written;
    std::vector<std::string> queries;
    std::vector<std::string> deleted;
    std::vector<std::string> connectionStrings;

    // The catalog as the doubles show it.
    std::vector<std::string> applications;
    std::vector<std::pair<std::string, platform::Variant>> applicationValues;
    std::vector<std::int32_t> removedIndexes;
    int saves = 0;
    std::vector<std::string> installed; // "application|dll|tlb|ps"

    std::vector<std::weak_ptr<platform::Object>> made;

    void Call(const std::string& name);
    // Fails the occurrence of the call at position `index` of `trace`.
    void FailAt(const std::vector<std::string>& trace, std::size_t index);
    bool AllReleased() const;
};

// Makes the doubles creatable by their ProgIDs for its lifetime.
class ScriptedPlatform {
public:
    explicit ScriptedPlatform(Script& script);

private:
    platform::ScopedObjectFactory connection_, record_, recordset_, catalog_;
};

// A connection made by the test itself, to be passed to FindEventRegistration.
std::shared_ptr<platform::ado::Connection> MakeScriptedConnection(Script& script);

} // namespace setuptest
