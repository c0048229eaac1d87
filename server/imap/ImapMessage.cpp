// Parses a stored message's header and MIME structure for FETCH and SEARCH, with a depth limit so
// that no message costs unbounded stack.

#include "server/imap/ImapMessage.h"

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapWire.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace server::imap {

namespace {

// Parts nested deeper than this are shown as opaque, so that no message costs unbounded stack.
constexpr int kMaxNesting = 16;

bool EqualsAscii(std::string_view left, std::string_view right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t i = 0; i < left.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(left[i])) !=
            std::toupper(static_cast<unsigned char>(right[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

struct ContentType {
    std::string type = "TEXT";
    std::string subtype = "PLAIN";
    std::vector<std::pair<std::string, std::string>> parameters;

    bool Is(std::string_view t) const { return EqualsAscii(type, t); }
    bool IsMultipart() const { return Is("MULTIPART"); }
    bool IsMessage() const { return Is("MESSAGE") && EqualsAscii(subtype, "RFC822"); }
    std::optional<std::string> Parameter(std::string_view name) const {
        for (const auto& [key, value] : parameters)
            if (EqualsAscii(key, name))
                return value;
        return std::nullopt;
    }
};

// "value; name=value; name="quoted value"": the leading value and the parameters.
std::pair<std::string, std::vector<std::pair<std::string, std::string>>>
ReadParameters(std::string_view text) {
    std::vector<std::pair<std::string, std::string>> parameters;
    auto semicolon = text.find(';');
    std::string head(Trim(text.substr(0, semicolon)));
    while (semicolon != std::string_view::npos) {
        auto rest = text.substr(semicolon + 1);
        const auto equals = rest.find('=');
        if (equals == std::string_view::npos)
            break;
        std::string name(Trim(rest.substr(0, equals)));
        rest = rest.substr(equals + 1);
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
            rest.remove_prefix(1);
        std::string value;
        std::size_t used = 0;
        if (!rest.empty() && rest.front() == '"') {
            used = 1;
            while (used < rest.size() && rest[used] != '"') {
                if (rest[used] == '\\' && used + 1 < rest.size())
                    ++used;
                value += rest[used++];
            }
            semicolon = rest.find(';', used);
        } else {
            semicolon = rest.find(';');
            value = std::string(Trim(rest.substr(0, semicolon)));
        }
        if (!name.empty())
            parameters.emplace_back(std::move(name), std::move(value));
        text = rest;
    }
    return {head, parameters};
}

ContentType ReadContentType(const std::vector<HeaderField>& fields, bool digestDefault) {
    ContentType type;
    if (digestDefault) {
        type.type = "MESSAGE";
        type.subtype = "RFC822";
    }
    const auto value = FieldValue(fields, "Content-Type");
    if (!value)
        return type;
    auto [head, parameters] = ReadParameters(*value);
    const auto slash = head.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == head.size())
        return type; // unreadable: the default
    type.type = std::string(Trim(head.substr(0, slash)));
    type.subtype = std::string(Trim(head.substr(slash + 1)));
    type.parameters = std::move(parameters);
    return type;
}

// The parts of a multipart body between its boundary lines.
std::vector<std::string_view> SplitMultipart(std::string_view body, const std::string& boundary) {
    std::vector<std::string_view> parts;
    if (boundary.empty())
        return parts;
    const std::string delimiter = "--" + boundary;
    std::optional<std::size_t> partStart;
    std::size_t line = 0;
    while (line < body.size()) {
        auto end = body.find('\n', line);
        const auto next = end == std::string_view::npos ? body.size() : end + 1;
        auto text = body.substr(line, next - line);
        if (text.starts_with(delimiter)) {
            auto after = text.substr(delimiter.size());
            const bool closing = after.starts_with("--");
            if (closing)
                after.remove_prefix(2);
            if (Trim(after.substr(0, after.find_first_of("\r\n"))).empty()) {
                if (partStart) {
                    // The line end before the delimiter belongs to it, not to the part.
                    auto stop = line;
                    if (stop >= *partStart + 2 && body.substr(stop - 2, 2) == "\r\n")
                        stop -= 2;
                    else if (stop > *partStart && body[stop - 1] == '\n')
                        stop -= 1;
                    parts.push_back(
                        body.substr(*partStart, std::max(stop, *partStart) - *partStart));
                }
                if (closing)
                    return parts;
                partStart = next;
            }
        }
        line = next;
    }
    if (partStart && *partStart <= body.size())
        parts.push_back(body.substr(*partStart));
    return parts;
}

std::size_t CountLines(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string ParameterList(const std::vector<std::pair<std::string, std::string>>& parameters) {
    if (parameters.empty())
        return "NIL";
    std::string list = "(";
    for (const auto& [name, value] : parameters) {
        if (list.size() > 1)
            list += ' ';
        list += Quote(AsciiUpper(name)) + " " + Quote(value);
    }
    return list + ")";
}

std::string Disposition(const std::vector<HeaderField>& fields) {
    const auto value = FieldValue(fields, "Content-Disposition");
    if (!value)
        return "NIL";
    auto [head, parameters] = ReadParameters(*value);
    if (head.empty())
        return "NIL";
    return "(" + Quote(head) + " " + ParameterList(parameters) + ")";
}

std::string OptionalField(const std::vector<HeaderField>& fields, std::string_view name) {
    return NString(FieldValue(fields, name));
}

std::string Structure(std::string_view header, std::string_view body, bool extended,
                      bool digestDefault, int depth) {
    const auto fields = ReadHeaderFields(header);
    auto type = ReadContentType(fields, digestDefault);
    if (type.IsMultipart() && depth < kMaxNesting) {
        const auto boundary = type.Parameter("BOUNDARY").value_or("");
        const auto parts = SplitMultipart(body, boundary);
        if (!parts.empty()) {
            std::string out = "(";
            const bool digest = EqualsAscii(type.subtype, "DIGEST");
            for (const auto& part : parts) {
                const auto entity = SplitEntity(part);
                out += Structure(entity.header, entity.body, extended, digest, depth + 1);
            }
            out += " " + Quote(AsciiUpper(type.subtype));
            if (extended)
                out += " " + ParameterList(type.parameters) + " " + Disposition(fields) + " " +
                       OptionalField(fields, "Content-Language") + " " +
                       OptionalField(fields, "Content-Location");
            return out + ")";
        }
        // A multipart without its boundary lines reads as plain text.
        type = ContentType{};
    }
    if (type.IsMultipart()) {
        type = ContentType{};
        type.type = "APPLICATION";
        type.subtype = "OCTET-STREAM";
    }
    if (type.Is("TEXT") && !type.Parameter("CHARSET"))
        type.parameters.emplace_back("CHARSET", "US-ASCII");
    auto encoding = FieldValue(fields, "Content-Transfer-Encoding");
    std::string out =
        "(" + Quote(AsciiUpper(type.type)) + " " + Quote(AsciiUpper(type.subtype)) + " " +
        ParameterList(type.parameters) + " " + OptionalField(fields, "Content-ID") + " " +
        OptionalField(fields, "Content-Description") + " " +
        Quote(encoding ? AsciiUpper(*encoding) : "7BIT") + " " + std::to_string(body.size());
    if (type.IsMessage() && depth < kMaxNesting) {
        const auto inner = SplitEntity(body);
        out += " " + Envelope(inner.header) + " " +
               Structure(inner.header, inner.body, extended, false, depth + 1) + " " +
               std::to_string(CountLines(body));
    } else if (type.Is("TEXT")) {
        out += " " + std::to_string(CountLines(body));
    }
    if (extended)
        out += " " + OptionalField(fields, "Content-MD5") + " " + Disposition(fields) + " " +
               OptionalField(fields, "Content-Language") + " " +
               OptionalField(fields, "Content-Location");
    return out + ")";
}

// One address of a list: "Name <local@host>" or "local@host".
void AppendAddress(std::string& out, std::string_view display, std::string_view angle,
                   bool hasAngle) {
    std::string name(Trim(display));
    std::string address(Trim(hasAngle ? angle : display));
    if (!hasAngle)
        name.clear();
    // A source route ("@a,@b:user@host") is obsolete: only the address after it counts.
    if (const auto colon = address.rfind(':'); hasAngle && colon != std::string::npos)
        address = address.substr(colon + 1);
    if (address.empty() && name.empty())
        return;
    const auto at = address.rfind('@');
    const std::string mailbox = at == std::string::npos ? address : address.substr(0, at);
    const std::string host = at == std::string::npos ? "" : address.substr(at + 1);
    out += "(" + (name.empty() ? std::string("NIL") : Quote(name)) + " NIL " + Quote(mailbox) +
           " " + Quote(host) + ")";
}

std::string AddressList(const std::optional<std::string>& value) {
    if (!value || Trim(*value).empty())
        return "NIL";
    std::string out;
    std::string display, angle;
    bool inQuote = false, inAngle = false, hasAngle = false;
    int comment = 0;
    auto flush = [&] {
        AppendAddress(out, display, angle, hasAngle);
        display.clear();
        angle.clear();
        hasAngle = false;
    };
    const std::string& text = *value;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (comment > 0) {
            if (c == '\\')
                ++i;
            else if (c == '(')
                ++comment;
            else if (c == ')')
                --comment;
            continue;
        }
        if (inQuote) {
            if (c == '\\' && i + 1 < text.size())
                display += text[++i];
            else if (c == '"')
                inQuote = false;
            else
                display += c;
            continue;
        }
        if (inAngle) {
            if (c == '>')
                inAngle = false;
            else
                angle += c;
            continue;
        }
        switch (c) {
        case '"':
            inQuote = true;
            break;
        case '(':
            comment = 1;
            break;
        case '<':
            inAngle = true;
            hasAngle = true;
            break;
        case ',':
            flush();
            break;
        case ':':
            if (!hasAngle) {
                // A group: its name, its members, then its end.
                out += "(NIL NIL " + Quote(std::string(Trim(display))) + " NIL)";
                display.clear();
                break;
            }
            display += c;
            break;
        case ';':
            flush();
            out += "(NIL NIL NIL NIL)";
            break;
        default:
            if ((c == ' ' || c == '\t') && !display.empty() && display.back() == ' ')
                break;
            display += (c == '\t' ? ' ' : c);
        }
    }
    flush();
    return out.empty() ? "NIL" : "(" + out + ")";
}

} // namespace

std::vector<HeaderField> ReadHeaderFields(std::string_view header) {
    std::vector<HeaderField> fields;
    std::size_t at = 0;
    while (at < header.size()) {
        auto end = header.find('\n', at);
        const auto next = end == std::string_view::npos ? header.size() : end + 1;
        auto line = header.substr(at, next - at);
        auto content = line;
        while (!content.empty() && (content.back() == '\n' || content.back() == '\r'))
            content.remove_suffix(1);
        if (content.empty())
            break;
        if ((content[0] == ' ' || content[0] == '\t') && !fields.empty()) {
            auto& field = fields.back();
            field.raw = std::string_view(field.raw.data(), field.raw.size() + line.size());
            field.value += content;
        } else if (const auto colon = content.find(':'); colon != std::string_view::npos) {
            fields.push_back({std::string(Trim(content.substr(0, colon))), line,
                              std::string(content.substr(colon + 1))});
        }
        at = next;
    }
    for (auto& field : fields)
        field.value = std::string(Trim(field.value));
    return fields;
}

Entity SplitEntity(std::string_view bytes) {
    if (bytes.starts_with("\r\n"))
        return {bytes.substr(0, 2), bytes.substr(2)};
    if (bytes.starts_with("\n"))
        return {bytes.substr(0, 1), bytes.substr(1)};
    for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
         at = bytes.find('\n', at + 1)) {
        auto next = at + 1;
        if (bytes.substr(next, 2) == "\r\n")
            return {bytes.substr(0, next + 2), bytes.substr(next + 2)};
        if (bytes.substr(next, 1) == "\n")
            return {bytes.substr(0, next + 1), bytes.substr(next + 1)};
    }
    return {bytes, {}};
}

std::optional<std::string> FieldValue(const std::vector<HeaderField>& fields,
                                      std::string_view name) {
    for (const auto& field : fields)
        if (EqualsAscii(field.name, name))
            return field.value;
    return std::nullopt;
}

std::string Envelope(std::string_view header) {
    const auto fields = ReadHeaderFields(header);
    const auto from = FieldValue(fields, "From");
    auto orFrom = [&](std::string_view name) {
        auto value = FieldValue(fields, name);
        return AddressList(value && !Trim(*value).empty() ? value : from);
    };
    return "(" + OptionalField(fields, "Date") + " " + OptionalField(fields, "Subject") + " " +
           AddressList(from) + " " + orFrom("Sender") + " " + orFrom("Reply-To") + " " +
           AddressList(FieldValue(fields, "To")) + " " + AddressList(FieldValue(fields, "Cc")) +
           " " + AddressList(FieldValue(fields, "Bcc")) + " " +
           OptionalField(fields, "In-Reply-To") + " " + OptionalField(fields, "Message-ID") + ")";
}

std::string BodyStructure(std::string_view message, bool extended) {
    const auto entity = SplitEntity(message);
    return Structure(entity.header, entity.body, extended, false, 0);
}

std::optional<std::string> SectionBytes(std::string_view message, std::string_view section,
                                        const std::vector<std::string>& names) {
    Entity node = SplitEntity(message);
    bool atMessage = true; // node is a whole message (header + body), not a MIME part
    std::size_t at = 0;
    int depth = 0;
    // The part numbers first.
    while (at < section.size() && std::isdigit(static_cast<unsigned char>(section[at]))) {
        const auto dot = section.find('.', at);
        const auto numberText =
            section.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
        if (numberText.size() > 6 ||
            numberText.find_first_not_of("0123456789") != std::string_view::npos)
            return std::nullopt;
        const auto number = std::stoul(std::string(numberText));
        if (number == 0 || ++depth > kMaxNesting)
            return std::nullopt;
        const auto fields = ReadHeaderFields(node.header);
        const auto type = ReadContentType(fields, false);
        if (type.IsMultipart()) {
            const auto parts = SplitMultipart(node.body, type.Parameter("BOUNDARY").value_or(""));
            if (number > parts.size())
                return std::nullopt;
            node = SplitEntity(parts[number - 1]);
            atMessage = false;
        } else if (type.IsMessage() && !atMessage) {
            node = SplitEntity(node.body);
            atMessage = true;
            continue; // the same number, now within the enclosed message
        } else if (number == 1 && atMessage) {
            atMessage = false; // a single-part message's one part: its body
        } else {
            return std::nullopt;
        }
        at = dot == std::string_view::npos ? section.size() : dot + 1;
    }
    const auto rest = AsciiUpper(section.substr(at));
    if (rest.empty())
        return std::string(at == 0 ? message : node.body);
    if (rest == "MIME")
        return at == 0 ? std::nullopt : std::optional<std::string>(node.header);
    Entity target = node;
    if (at > 0) {
        // HEADER and TEXT of a part only exist for an enclosed message.
        if (!ReadContentType(ReadHeaderFields(node.header), false).IsMessage())
            return std::nullopt;
        target = SplitEntity(node.body);
    }
    if (rest == "HEADER")
        return std::string(target.header);
    if (rest == "TEXT")
        return std::string(target.body);
    if (rest == "HEADER.FIELDS" || rest == "HEADER.FIELDS.NOT") {
        const bool keep = rest == "HEADER.FIELDS";
        std::string out;
        for (const auto& field : ReadHeaderFields(target.header)) {
            const bool named = std::any_of(names.begin(), names.end(), [&](const auto& name) {
                return EqualsAscii(name, field.name);
            });
            if (named == keep) {
                out.append(field.raw);
                if (!field.raw.ends_with("\n"))
                    out += "\r\n";
            }
        }
        return out + "\r\n";
    }
    return std::nullopt;
}

std::optional<long long> ParseMessageDate(std::string_view text) {
    static const char* kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    std::string upper = AsciiUpper(text);
    if (const auto comma = upper.find(','); comma != std::string::npos)
        upper = upper.substr(comma + 1);
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month[4] = {};
    char zone[8] = {};
    const int read = std::sscanf(upper.c_str(), " %d %3s %d %d:%d:%d %7s", &day, month, &year,
                                 &hour, &minute, &second, zone);
    if (read < 3)
        return std::nullopt;
    int monthIndex = -1;
    for (int i = 0; i < 12; ++i)
        if (std::string_view(month) == kMonths[i])
            monthIndex = i;
    if (monthIndex < 0 || day < 1 || day > 31 || year < 0 || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;
    if (year < 50)
        year += 2000;
    else if (year < 1000)
        year += 1900;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = monthIndex;
    tm.tm_mday = day;
    tm.tm_hour = read >= 5 ? hour : 0;
    tm.tm_min = read >= 5 ? minute : 0;
    tm.tm_sec = read >= 6 ? second : 0;
    long long seconds = timegm(&tm);
    if (read == 7 && (zone[0] == '+' || zone[0] == '-') && std::strlen(zone) == 5) {
        const int offset = ((zone[1] - '0') * 10 + (zone[2] - '0')) * 3600 +
                           ((zone[3] - '0') * 10 + (zone[4] - '0')) * 60;
        seconds += zone[0] == '+' ? -offset : offset;
    }
    return seconds;
}

} // namespace server::imap
