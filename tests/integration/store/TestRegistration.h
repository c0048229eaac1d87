#pragma once

// An event registration saved straight into the store, as the store's event tests need it: by
// default the test sink on the save event of one folder, for items that are not hidden.

#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

#include <string>

namespace storetest {

struct TestRegistration {
    std::string progId = "Test.Sink";
    std::string scope = "SHALLOW";
    std::string criteria = " WHERE \"DAV:ishidden\" = FALSE";
    std::string priority = "1";
    std::string method = "onsyncsave";
};

inline void Register(platform::store::Store& store, const std::string& itemUrl,
                     const TestRegistration& registration = {}) {
    namespace s = platform::store;
    auto save = store.NewItem(store.Locate(itemUrl));
    save.Set(s::kContentClass, platform::Variant(s::kRegistrationClass));
    save.Set(s::kEventNamespace + "EventMethod", platform::Variant(registration.method));
    save.Set(s::kEventNamespace + "SinkClass", platform::Variant(registration.progId));
    save.Set(s::kEventNamespace + "MatchScope", platform::Variant(registration.scope));
    save.Set(s::kEventNamespace + "criteria", platform::Variant(registration.criteria));
    save.Set(s::kEventNamespace + "priority", platform::Variant(registration.priority));
    save.Set(s::kIsHidden, platform::Variant(true));
    store.Save(save);
}

} // namespace storetest
