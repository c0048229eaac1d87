#pragma once

// The properties that make an item an event registration: written in one place for every
// program that registers a sink (the setup program, the server's admin tool).

#include "platform/core/Ado.h"

#include <string>

namespace platform::store {

struct RegistrationSettings {
    std::string eventMethod; // e.g. "onsyncsave"
    std::string sinkClass;   // the sink's ProgID
    std::string matchScope;  // SHALLOW, DEEP, EXACT or ANY
    std::string criteria;    // the WHERE clause items must match
    std::string priority;
};

// Sets the content class, the five event properties and the hidden flag on an item being
// created; the caller updates the fields.
void WriteRegistrationFields(ado::Fields& fields, const RegistrationSettings& settings);

} // namespace platform::store
