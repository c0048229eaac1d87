// The seven properties of an event registration item.

#include "platform/store/RegistrationItem.h"

#include "platform/store/PropertyNames.h"
#include "platform/store/Store.h"

namespace platform::store {

void WriteRegistrationFields(ado::Fields& fields, const RegistrationSettings& settings) {
    fields.Item(kContentClass)->SetValue(Variant(kRegistrationClass));
    fields.Item(kEventNamespace + "EventMethod")->SetValue(Variant(settings.eventMethod));
    fields.Item(kEventNamespace + "SinkClass")->SetValue(Variant(settings.sinkClass));
    fields.Item(kEventNamespace + "MatchScope")->SetValue(Variant(settings.matchScope));
    fields.Item(kEventNamespace + "criteria")->SetValue(Variant(settings.criteria));
    fields.Item(kEventNamespace + "priority")->SetValue(Variant(settings.priority));
    fields.Item(kIsHidden)->SetValue(Variant(true));
}

} // namespace platform::store
