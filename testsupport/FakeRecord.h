#pragma once

// An in-memory ADO record for unit tests: properties by name, every call countable, and any
// call made to fail on demand.

#include "platform/core/Ado.h"
#include "platform/core/Error.h"
#include "testsupport/Printers.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace doubles {

class FakeRecord : public platform::ado::Record, public std::enable_shared_from_this<FakeRecord> {
public:
    // Calls that can be made to fail: "Fields", "Update", "Read <name>", "Write <name>".
    std::set<std::string> failing;
    // How a property the item lacks behaves when read: an error (true) or an empty value.
    bool missingPropertyFails = true;

    std::map<std::string, platform::Variant> properties;
    // What happened, in order: "Read <name>", "Write <name>", "Update".
    std::vector<std::string> calls;
    int updates = 0;

    void Open(const std::string&, const std::shared_ptr<platform::ado::Connection>&, std::int32_t,
              std::int32_t, std::int32_t, const std::string&, const std::string&) override {}
    std::shared_ptr<platform::ado::Fields> Fields() override;
    void DeleteRecord(const std::string&, bool) override {}
    void Close() override {}
    platform::ado::ObjectState State() const override { return platform::ado::adStateOpen; }

    void FailIfAsked(const std::string& call) const;
};

} // namespace doubles
