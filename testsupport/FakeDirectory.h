#pragma once

// A directory for unit tests: registers itself as provider "ADSDSOObject" and as the
// "ADSystemInfo" and "WinNTSystemInfo" objects, answers every query with the rows it was given,
// and fails on demand.

#include "platform/core/ObjectFactory.h"
#include "platform/core/Provider.h"
#include "platform/core/Variant.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace doubles {

struct FakeDirectoryState {
    std::string forestDnsName = "corp.example.com";
    // The machine's NetBIOS name; empty: "WinNTSystemInfo" cannot be created.
    std::string computerName = "MAIL01";
    // Field 0 of each row (the proxyAddresses values).
    std::vector<platform::Variant> rows;

    bool openFails = false;
    bool forestNameFails = false;
    bool executeFails = false;
    // The row at which reading field 0, testing the end, or moving on fails.
    std::optional<std::size_t> fieldFailsAtRow;
    std::optional<std::size_t> eofFailsAtRow;
    std::optional<std::size_t> moveNextFailsAtRow;

    // What was asked.
    std::vector<std::string> queries;
    int openSessions = 0;
    int closedRecordsets = 0;
};

// Installs the fake for its own lifetime.
class FakeDirectory {
public:
    FakeDirectory();
    ~FakeDirectory() = default;
    FakeDirectory(const FakeDirectory&) = delete;
    FakeDirectory& operator=(const FakeDirectory&) = delete;

    FakeDirectoryState& state() { return *state_; }

private:
    std::shared_ptr<FakeDirectoryState> state_;
    platform::ScopedObjectFactory systemInfo_;
    platform::ScopedObjectFactory computer_;
    platform::ado::ScopedProvider provider_;
};

} // namespace doubles
