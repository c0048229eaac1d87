#pragma once

// The value type that properties, fields and directory attributes are handed out in.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace platform {

// A property or field value as the store and the directory hand it out.
// Empty stands for "never set", Null for "set to nothing" (a missing directory value).
class Variant {
public:
    struct EmptyTag {
        bool operator==(const EmptyTag&) const = default;
    };
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    using TextArray = std::vector<std::string>;

    Variant() = default;
    static Variant Null() { return Variant(NullTag{}); }
    Variant(std::string text) : value_(std::move(text)) {}
    Variant(const char* text) : value_(std::string(text)) {}
    Variant(bool flag) : value_(flag) {}
    Variant(std::int64_t number) : value_(number) {}
    Variant(int number) : value_(static_cast<std::int64_t>(number)) {}
    Variant(TextArray texts) : value_(std::move(texts)) {}

    bool IsEmpty() const { return std::holds_alternative<EmptyTag>(value_); }
    bool IsNull() const { return std::holds_alternative<NullTag>(value_); }
    bool IsText() const { return std::holds_alternative<std::string>(value_); }
    bool IsBool() const { return std::holds_alternative<bool>(value_); }
    bool IsInteger() const { return std::holds_alternative<std::int64_t>(value_); }
    bool IsArray() const { return std::holds_alternative<TextArray>(value_); }

    // Checked accessors: a value of another kind is a type-mismatch failure.
    const std::string& Text() const;
    bool Bool() const;
    std::int64_t Integer() const;
    const TextArray& Array() const;

    // The value as text the way a script would print it: empty and null give "",
    // Booleans "True"/"False", arrays fail (they have no text form).
    std::string ToText() const;

    // Name of the kind, for messages ("Empty", "Null", "String", "Boolean", "Long", "String()").
    std::string TypeName() const;

    bool operator==(const Variant&) const = default;

private:
    explicit Variant(NullTag tag) : value_(tag) {}
    std::variant<EmptyTag, NullTag, std::string, bool, std::int64_t, TextArray> value_;
};

} // namespace platform
