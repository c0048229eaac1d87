#pragma once

// An event registration saved straight into the store, as the store's event tests need it: by
// default the test sink on the save event of one folder, for items that are not hidden.

#include "platform/store/EventRegistration.h"
#include "platform/store/Store.h"

#include <string>

namespace storetest {

inline platform::store::EventRegistrationSettings TestRegistration() {
    platform::store::EventRegistrationSettings registration;
    registration.sinkClass = "Test.Sink";
    registration.criteria = " WHERE \"DAV:ishidden\" = FALSE";
    return registration;
}

inline void
Register(platform::store::Store& store, const std::string& itemUrl,
         const platform::store::EventRegistrationSettings& registration = TestRegistration()) {
    auto save = store.NewItem(store.Locate(itemUrl));
    for (auto& [name, value] : platform::store::EventRegistrationProperties(registration))
        save.Set(name, std::move(value));
    store.Save(save);
}

} // namespace storetest
