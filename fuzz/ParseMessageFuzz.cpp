// RFC 5322 parsing at delivery.
//
// Input: the message as the transport hands it over. No message is refused. The header block
// and body must have every LF after a CR and end in CRLF (a bare CR is text), header lines must
// be fields or continuations, field values must be single lines, and the header block and body
// must parse again to the same. Keywords are non-empty single entries (no comma, no line end,
// no blank or tab at either end), none repeated in any letter case.

#include "FuzzCheck.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/store/Delivery.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using platform::store::ParsedMessage;

// Empty, or lines that each end in CRLF; a CR elsewhere is part of its line.
bool IsCrlfLines(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    return text.empty() || text.ends_with("\r\n");
}

void CheckHeaderLines(std::string_view headers, std::string_view input) {
    bool first = true;
    for (std::size_t start = 0; start < headers.size();) {
        const auto end = headers.find("\r\n", start);
        const auto line = headers.substr(start, end - start);
        fuzz::Check(!line.empty(), "no empty line inside the header block", input, headers);
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        fuzz::Check(!(first && continuation), "the header block starts with a field", input,
                    headers);
        if (!continuation) {
            auto name = line.substr(0, line.find(':'));
            fuzz::Check(name.size() < line.size(), "a header line has a colon", input, line);
            while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
                name.remove_suffix(1);
            fuzz::Check(!name.empty(), "a field has a name", input, line);
            for (unsigned char c : name)
                fuzz::Check(c >= 33 && c <= 126, "a field name is printable ASCII", input, line);
        }
        first = false;
        start = end + 2;
    }
}

void CheckValues(const ParsedMessage& message, std::string_view input) {
    for (const auto* value :
         {&message.subject, &message.from, &message.to, &message.cc, &message.date}) {
        fuzz::Check(value->find('\n') == std::string::npos, "a field value is one line", input,
                    *value);
        fuzz::Check(value->empty() || (value->front() != ' ' && value->front() != '\t'),
                    "a field value has no leading blank", input, *value);
    }
    const auto& keywords = message.keywords;
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        const auto& keyword = keywords[i];
        fuzz::Check(!keyword.empty() && keyword.find_first_of(",\r\n") == std::string::npos,
                    "a keyword is one non-empty entry", input, keyword);
        fuzz::Check(keyword.find_first_of(" \t") != 0 &&
                        keyword.find_last_of(" \t") != keyword.size() - 1,
                    "a keyword is trimmed", input, keyword);
        for (std::size_t j = 0; j < i; ++j)
            fuzz::Check(!platform::text::EqualsIgnoreCase(keywords[j], keyword),
                        "a keyword comes once", input, keyword);
    }
}

bool SameMessage(const ParsedMessage& a, const ParsedMessage& b) {
    return a.headers == b.headers && a.body == b.body && a.subject == b.subject &&
           a.from == b.from && a.to == b.to && a.cc == b.cc && a.date == b.date &&
           a.keywords == b.keywords;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ParsedMessage message;
    try {
        message = platform::store::ParseMessage(input);
    } catch (const platform::Error& error) {
        fuzz::Broken("every message is taken", input, error.Description());
    }
    fuzz::Check(IsCrlfLines(message.headers), "the header block has CRLF line ends only", input,
                message.headers);
    fuzz::Check(IsCrlfLines(message.body), "the body has CRLF line ends only", input, message.body);
    CheckHeaderLines(message.headers, input);
    CheckValues(message, input);

    const auto again = message.headers + "\r\n" + message.body;
    try {
        fuzz::Check(SameMessage(platform::store::ParseMessage(again), message),
                    "a parsed message parses again to the same", input, again);
    } catch (const platform::Error& error) {
        fuzz::Broken("a parsed message parses again", input, error.Description());
    }
    return 0;
}
