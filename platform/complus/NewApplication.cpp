// Setting up a new COM+ application: name, access checks, identity.

#include "platform/complus/NewApplication.h"

#include "platform/core/Text.h"

namespace platform::complus {

void SetUpNewApplication(CatalogObject& application, const std::string& name,
                         const std::string& identity, const std::string& password) {
    application.SetValue("Name", Variant(name));
    application.SetValue("ApplicationAccessChecksEnabled", Variant(false));
    const std::string trimmedIdentity(text::TrimBlanks(identity));
    const std::string trimmedPassword(text::TrimBlanks(password));
    if (!trimmedIdentity.empty() && !trimmedPassword.empty()) {
        application.SetValue("Identity", Variant(trimmedIdentity));
        application.SetValue("Password", Variant(trimmedPassword));
    }
}

} // namespace platform::complus
