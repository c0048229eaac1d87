#pragma once

// JSON string literals (RFC 8259), for the platform's own JSON (name lists handed to SQLite) and
// for the tools' machine-readable output.

#include <string>
#include <string_view>

namespace platform::text {

// Appends the text as a JSON string literal, quotes included: '"' and '\' escaped, the control
// characters below U+0020 as \b \f \n \r \t or \u00XX, every other byte as it is (UTF-8 passes
// unchanged; whether the text is UTF-8 is the caller's concern).
void AppendJsonString(std::string& out, std::string_view utf8);

// The texts as a JSON array of strings: ["a","b"].
template <class Texts> std::string JsonStringArray(const Texts& texts) {
    std::string json = "[";
    for (const auto& text : texts) {
        if (json.size() > 1)
            json += ',';
        AppendJsonString(json, text);
    }
    return json + "]";
}

} // namespace platform::text
