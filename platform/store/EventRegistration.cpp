// Writes an event registration's properties from its settings, in the one order every writer uses.

#include "platform/store/EventRegistration.h"

#include "platform/store/PropertyNames.h"

namespace platform::store {

std::vector<std::pair<std::string, Variant>>
EventRegistrationProperties(const EventRegistrationSettings& settings) {
    return {
        {kContentClass, Variant(kRegistrationClass)},
        {kEventMethodProperty, Variant(settings.eventMethod)},
        {kSinkClassProperty, Variant(settings.sinkClass)},
        {kMatchScopeProperty, Variant(settings.matchScope)},
        {kCriteriaProperty, Variant(settings.criteria)},
        {kPriorityProperty, Variant(settings.priority)},
        {kIsHidden, Variant(true)},
    };
}

void WriteEventRegistration(ado::Fields& fields, const EventRegistrationSettings& settings) {
    for (auto& [name, value] : EventRegistrationProperties(settings))
        fields.Item(name)->SetValue(value);
}

} // namespace platform::store
