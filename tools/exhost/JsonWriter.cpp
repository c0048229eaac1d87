#include "JsonWriter.h"

#include <cstdio>

namespace exhost {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c; // UTF-8 bytes pass through unchanged
            }
        }
    }
    out += '"';
    return out;
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
    out_ += JsonString(name);
    out_ += ":";
    afterKey_ = true;
}

void JsonWriter::Raw(const std::string& json) {
    BeforeValue();
    out_ += json;
}

} // namespace exhost
