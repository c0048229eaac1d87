// Evaluates a parsed store query's condition against an item's properties, with SQL's
// three-valued logic for missing values.

#include "platform/core/Text.h"
#include "platform/store/Query.h"

#include <charconv>

namespace platform::store::query {

namespace {

// Three-valued logic: nothing stands for "unknown".
using Truth = std::optional<bool>;

std::optional<std::int64_t> AsInteger(const Variant& value) {
    if (value.IsInteger())
        return value.Integer();
    if (value.IsBool())
        return value.Bool() ? 1 : 0;
    if (value.IsText()) {
        const auto trimmed = text::TrimBlanks(value.Text());
        std::int64_t number = 0;
        auto [end, error] =
            std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), number);
        if (error == std::errc() && end == trimmed.data() + trimmed.size() && !trimmed.empty())
            return number;
        if (text::EqualsIgnoreCase(trimmed, "true"))
            return 1;
        if (text::EqualsIgnoreCase(trimmed, "false"))
            return 0;
    }
    return std::nullopt;
}

bool ScalarEquals(const Variant& left, const Variant& right) {
    if (left.IsText() && right.IsText())
        return text::EqualsIgnoreCase(left.Text(), right.Text());
    if (left.IsBool() || right.IsBool()) {
        auto l = AsInteger(left), r = AsInteger(right);
        return l && r && ((*l != 0) == (*r != 0));
    }
    auto l = AsInteger(left), r = AsInteger(right);
    return l && r && *l == *r;
}

Truth Equals(const Variant& left, const Variant& right) {
    if (left.IsEmpty() || left.IsNull() || right.IsEmpty() || right.IsNull())
        return std::nullopt;
    if (left.IsArray() || right.IsArray()) {
        const auto& array = left.IsArray() ? left : right;
        const auto& other = left.IsArray() ? right : left;
        if (other.IsArray())
            return array == other;
        for (const auto& element : array.Array())
            if (ScalarEquals(Variant(element), other))
                return true;
        return false;
    }
    return ScalarEquals(left, right);
}

Variant Resolve(const Operand& operand, const std::map<std::string, Variant>& properties) {
    if (operand.kind == Operand::Kind::Literal)
        return operand.literal;
    auto found = properties.find(operand.property);
    return found == properties.end() ? Variant() : found->second;
}

Truth Evaluate(const Condition& condition, const std::map<std::string, Variant>& properties) {
    switch (condition.kind) {
    case Condition::Kind::Equal:
        return Equals(Resolve(condition.left, properties), Resolve(condition.right, properties));
    case Condition::Kind::NotEqual: {
        auto equal =
            Equals(Resolve(condition.left, properties), Resolve(condition.right, properties));
        return equal ? Truth(!*equal) : std::nullopt;
    }
    case Condition::Kind::Not: {
        auto inner = Evaluate(*condition.first, properties);
        return inner ? Truth(!*inner) : std::nullopt;
    }
    case Condition::Kind::And: {
        auto a = Evaluate(*condition.first, properties);
        if (a && !*a)
            return false;
        auto b = Evaluate(*condition.second, properties);
        if (b && !*b)
            return false;
        return a && b ? Truth(true) : std::nullopt;
    }
    case Condition::Kind::Or: {
        auto a = Evaluate(*condition.first, properties);
        if (a && *a)
            return true;
        auto b = Evaluate(*condition.second, properties);
        if (b && *b)
            return true;
        return a && b ? Truth(false) : std::nullopt;
    }
    }
    return std::nullopt;
}

} // namespace

bool Holds(const Condition* condition, const std::map<std::string, Variant>& properties) {
    if (!condition)
        return true;
    return Evaluate(*condition, properties).value_or(false);
}

} // namespace platform::store::query
