// Reading a Variant as the type a caller expects, with a type-mismatch failure otherwise, and its
// text form.

#include "platform/core/Variant.h"

#include "platform/core/Error.h"

namespace platform {

namespace {
[[noreturn]] void ThrowMismatch(const Variant& value, const char* wanted) {
    throw Error(hr::DISP_E_TYPEMISMATCH,
                "Type mismatch: a " + value.TypeName() + " value was used as " + wanted);
}
} // namespace

const std::string& Variant::Text() const {
    if (const auto* text = std::get_if<std::string>(&value_))
        return *text;
    ThrowMismatch(*this, "a text");
}

bool Variant::Bool() const {
    if (const auto* flag = std::get_if<bool>(&value_))
        return *flag;
    ThrowMismatch(*this, "a Boolean");
}

std::int64_t Variant::Integer() const {
    if (const auto* number = std::get_if<std::int64_t>(&value_))
        return *number;
    ThrowMismatch(*this, "an integer");
}

const Variant::TextArray& Variant::Array() const {
    if (const auto* texts = std::get_if<TextArray>(&value_))
        return *texts;
    ThrowMismatch(*this, "an array");
}

std::string Variant::ToText() const {
    if (IsEmpty() || IsNull())
        return {};
    if (IsText())
        return Text();
    if (IsBool())
        return Bool() ? "True" : "False";
    if (IsInteger())
        return std::to_string(Integer());
    ThrowMismatch(*this, "a text");
}

std::string Variant::TypeName() const {
    static const char* const names[] = {"Empty", "Null", "String", "Boolean", "Long", "String()"};
    return names[value_.index()];
}

} // namespace platform
