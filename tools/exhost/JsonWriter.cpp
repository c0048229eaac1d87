// Writes exhost's JSON output: escapes strings, keeps members in the order written, and carries
// texts that are not UTF-8 in base64.

#include "JsonWriter.h"

#include "platform/core/Base64.h"
#include "platform/core/JsonText.h"
#include "platform/core/Text.h"

namespace exhost {

namespace {

constexpr std::string_view kBase64NamePrefix = "base64:";

// The string literal of a valid UTF-8 text.
std::string Utf8Literal(std::string_view text) {
    std::string out;
    platform::text::AppendJsonString(out, text);
    return out;
}

} // namespace

std::string JsonString(std::string_view text) {
    if (platform::text::IsUtf8(text))
        return Utf8Literal(text);
    return "{\"base64\":\"" + platform::text::EncodeBase64(text) + "\"}";
}

std::string JsonName(std::string_view name) {
    if (platform::text::IsUtf8(name) && !name.starts_with(kBase64NamePrefix))
        return Utf8Literal(name);
    return "\"" + std::string(kBase64NamePrefix) + platform::text::EncodeBase64(name) + "\"";
}

std::string JsonValue(const platform::Variant& value) {
    if (value.IsText())
        return JsonString(value.Text());
    if (value.IsBool())
        return value.Bool() ? "true" : "false";
    if (value.IsInteger())
        return std::to_string(value.Integer());
    if (value.IsArray()) {
        std::string out = "[";
        for (const auto& entry : value.Array()) {
            if (out.size() > 1)
                out += ",";
            out += JsonString(entry);
        }
        return out + "]";
    }
    return "null";
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!hasMember_.empty()) {
        if (hasMember_.back())
            out_ += ",";
        hasMember_.back() = true;
    }
}

void JsonWriter::BeginObject() {
    BeforeValue();
    out_ += "{";
    hasMember_.push_back(false);
}

void JsonWriter::EndObject() {
    hasMember_.pop_back();
    out_ += "}";
}

void JsonWriter::BeginArray() {
    BeforeValue();
    out_ += "[";
    hasMember_.push_back(false);
}

void JsonWriter::EndArray() {
    hasMember_.pop_back();
    out_ += "]";
}

void JsonWriter::Key(std::string_view name) {
    BeforeValue();
    out_ += JsonName(name);
    out_ += ":";
    afterKey_ = true;
}

void JsonWriter::Raw(const std::string& json) {
    BeforeValue();
    out_ += json;
}

} // namespace exhost
