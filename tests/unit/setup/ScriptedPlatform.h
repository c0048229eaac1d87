#pragma once

// Doubles of the ADO objects and of the COM+ catalog for the setup modules' failure tests: every
// call is recorded by name in order, and any one call (the n-th of its name) can be made to
// fail. The objects made are tracked so that tests can tell whether the operation released them.

#include "platform/complus/Catalog.h"
#include "platform/core/Ado.h"
#include "platform/core/Error.h"

#include <memory>
#include <string>
#include <vector>

namespace setuptest {

inline constexpr std::int32_t kInjectedNumber = platform::hr::Code(0x80040E37);

struct Script {
    // What the doubles were asked to do, in order, e.g. "Record.Open", "Field.SetValue".
    std::vector<std::string> calls;
    // The call to fail: its name and which occurrence (1 = the first).
    std::string failCall;
    int failOccurrence = 0;

    // The store and the catalog as the doubles show them.
    std::string inboxUrl = "file://./backofficestorage/example.com/MBX/alice/Posteingang";
    std::vector<std::string> applications;

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

} // namespace setuptest
