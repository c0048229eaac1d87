#pragma once

// The properties that make an item an event registration, in the order they are written: the
// one description of a registration that the setup program, the tools, the benchmarks and the
// tests write from.

#include "platform/core/Ado.h"
#include "platform/core/Variant.h"

#include <string>
#include <utility>
#include <vector>

namespace platform::store {

struct EventRegistrationSettings {
    std::string eventMethod = "onsyncsave";
    std::string sinkClass;
    std::string matchScope = "SHALLOW";
    std::string criteria;
    std::string priority = "1";
};

// The content class, the five registration properties and the hidden flag.
std::vector<std::pair<std::string, Variant>>
EventRegistrationProperties(const EventRegistrationSettings& settings);

// Sets those properties, in that order, on an item being created through ADO; the caller
// updates the fields.
void WriteEventRegistration(ado::Fields& fields, const EventRegistrationSettings& settings);

} // namespace platform::store
