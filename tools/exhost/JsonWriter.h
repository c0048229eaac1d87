#pragma once

// A small JSON writer for the machine-readable output of exhost: texts are escaped, object
// members keep the order in which they are written, so the output is stable for scripts.
//
// The output is always UTF-8. Store texts are bytes, so a text that is not valid UTF-8 is
// carried whole and without loss in base64 (RFC 4648, with padding):
//  - as a value: the object {"base64": "<the text's bytes in base64>"} instead of a string;
//  - as an object member's name: the string "base64:<the name's bytes in base64>". A valid
//    name that itself starts with "base64:" is written the same way, so that reading back is
//    never ambiguous.

#include "platform/core/Variant.h"

#include <string>
#include <string_view>
#include <vector>

namespace exhost {

// The JSON value of a text: its string literal, quotes included, or for a text that is not
// valid UTF-8, {"base64": ...}.
std::string JsonString(std::string_view text);

// The JSON string literal that names an object member: the name itself, or "base64:..." (see
// above).
std::string JsonName(std::string_view name);

// A store value as JSON: empty and null give null, texts JsonString, booleans and integers as
// themselves, arrays of texts arrays of JsonString.
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
