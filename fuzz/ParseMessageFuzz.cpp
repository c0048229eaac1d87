// RFC 5322 parsing at delivery.
//
// Input: the message as the transport hands it over. Refusals must be invalid-argument
// failures. An accepted message must give a header block and body with CRLF line ends only,
// header lines that are fields or continuations, single-line field values, and the same result
// when its own header block and body are parsed again.

#include "FuzzCheck.h"

#include "platform/core/Error.h"
#include "platform/store/Delivery.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using platform::store::ParsedMessage;

// Empty, or lines that each end in CRLF, with no CR or LF elsewhere.
bool IsCrlfLines(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'))
            return false;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            return false;
    }
    return text.empty() || text.substr(text.size() - 2) == "\r\n";
}

void CheckHeaderLines(std::string_view headers, std::string_view input) {
    fuzz::Check(!headers.empty(), "an accepted message has header lines", input);
    bool first = true;
    for (std::size_t start = 0; start < headers.size();) {
        const auto end = headers.find("\r\n", start);
        const auto line = headers.substr(start, end - start);
        fuzz::Check(!line.empty(), "no empty line inside the header block", input, headers);
        const bool continuation = line[0] == ' ' || line[0] == '\t';
        fuzz::Check(!(first && continuation), "the header block starts with a field", input,
                    headers);
        if (!continuation) {
            const auto colon = line.find(':');
            fuzz::Check(colon != std::string_view::npos && colon > 0,
                        "a header line is \"name: value\"", input, line);
            for (unsigned char c : line.substr(0, colon))
                fuzz::Check(c >= 33 && c <= 126, "a field name is printable ASCII", input, line);
        }
        first = false;
        start = end + 2;
    }
}

void CheckValues(const ParsedMessage& message, std::string_view input) {
    for (const auto* value :
         {&message.subject, &message.from, &message.to, &message.cc, &message.date}) {
        fuzz::Check(value->find_first_of("\r\n") == std::string::npos, "a field value is one line",
                    input, *value);
        fuzz::Check(value->empty() || (value->front() != ' ' && value->front() != '\t'),
                    "a field value has no leading blank", input, *value);
    }
}

bool SameMessage(const ParsedMessage& a, const ParsedMessage& b) {
    return a.headers == b.headers && a.body == b.body && a.subject == b.subject &&
           a.from == b.from && a.to == b.to && a.cc == b.cc && a.date == b.date;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ParsedMessage message;
    try {
        message = platform::store::ParseMessage(input);
    } catch (const platform::Error& error) {
        fuzz::Check(error.Number() == platform::hr::E_INVALIDARG,
                    "a refused message is an invalid argument", input, error.Description());
        return 0;
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
