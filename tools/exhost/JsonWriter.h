#pragma once

// A small JSON writer for the machine-readable output of exhost: texts are escaped, object
// members keep the order in which they are written, so the output is stable for scripts.

#include "platform/core/Variant.h"

#include <string>
#include <string_view>
#include <vector>

namespace exhost {

// The JSON string literal of a UTF-8 text, quotes included.
std::string JsonString(std::string_view text);

// A store value as JSON: empty and null give null, texts strings, booleans and integers as
// themselves, arrays of texts arrays of strings.
std::string JsonValue(const platform::Variant& value);

class JsonWriter {
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next object member.
    void Key(std::string_view name);
    // A value already in JSON form.
    void Raw(const std::string& json);
    void Value(const platform::Variant& value) { Raw(JsonValue(value)); }

    const std::string& Text() const { return out_; }

private:
    void BeforeValue();
    std::string out_;
    // One entry per open object or array: whether it holds a member yet.
    std::vector<bool> hasMember_;
    bool afterKey_ = false;
};

} // namespace exhost
