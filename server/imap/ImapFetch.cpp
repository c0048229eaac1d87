// Reads FETCH items, macros and BODY sections from a command, and writes a message's FETCH
// response for them.

#include "server/imap/ImapFetch.h"

#include "server/imap/ImapMessage.h"
#include "server/imap/ImapWire.h"
#include "server/message/MessageDate.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace server::imap {

namespace {

// "BODY[...]<a.b>" and "BODY.PEEK[...]<a.b>".
bool ReadSectionItem(const std::string& text, FetchItem& item, std::string& error) {
    const auto upper = AsciiUpper(text);
    std::size_t open;
    if (upper.starts_with("BODY.PEEK[")) {
        item.peek = true;
        open = 9;
    } else if (upper.starts_with("BODY[")) {
        open = 4;
    } else {
        return false;
    }
    const auto close = text.find(']', open);
    if (close == std::string::npos) {
        error = "a section has no \"]\"";
        return true;
    }
    auto inside = text.substr(open + 1, close - open - 1);
    const auto space = inside.find(' ');
    item.kind = FetchItem::Kind::Section;
    item.section = AsciiUpper(inside.substr(0, space));
    std::string label = item.section;
    if (item.section.ends_with("HEADER.FIELDS") || item.section.ends_with("HEADER.FIELDS.NOT")) {
        if (space == std::string::npos || inside.size() < space + 3 || inside[space + 1] != '(' ||
            inside.back() != ')') {
            error = item.section + " needs a list of field names";
            return true;
        }
        const auto list = inside.substr(space + 2, inside.size() - space - 3);
        std::size_t at = 0;
        while (at < list.size()) {
            auto end = list.find(' ', at);
            if (end == std::string::npos)
                end = list.size();
            auto name = list.substr(at, end - at);
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
                name = name.substr(1, name.size() - 2);
            if (!name.empty())
                item.fields.push_back(name);
            at = end + 1;
        }
        if (item.fields.empty()) {
            error = item.section + " needs at least one field name";
            return true;
        }
        label += " (";
        for (std::size_t i = 0; i < item.fields.size(); ++i)
            label += (i ? " " : "") + AsciiUpper(item.fields[i]);
        label += ")";
    } else if (space != std::string::npos) {
        error = "unexpected text in section \"" + inside + "\"";
        return true;
    }
    item.label = "BODY[" + label + "]";
    auto rest = text.substr(close + 1);
    if (!rest.empty()) {
        const auto dot = rest.find('.');
        if (rest.front() != '<' || rest.back() != '>' || dot == std::string::npos) {
            error = "a partial fetch must look like <start.count>";
            return true;
        }
        const auto start = rest.substr(1, dot - 1);
        const auto count = rest.substr(dot + 1, rest.size() - dot - 2);
        for (const auto& number : {start, count})
            if (!IsNumber(number, 18)) {
                error = "a partial fetch must look like <start.count>";
                return true;
            }
        item.partial = {std::stoull(start), std::stoull(count)};
        if (item.partial->second == 0) {
            error = "a partial fetch must ask for at least one octet";
            return true;
        }
        item.label += "<" + start + ">";
    }
    return true;
}

// HEADER and HEADER.FIELDS(.NOT) of the message itself.
bool FromHeader(const FetchItem& item) {
    return item.section == "HEADER" || item.section.starts_with("HEADER.FIELDS");
}

// HEADER.FIELDS(.NOT), of the message or of a part: fields picked from a header block.
bool PicksFields(const FetchItem& item) {
    return item.section.ends_with("HEADER.FIELDS") || item.section.ends_with("HEADER.FIELDS.NOT");
}

// The part of `data` that a partial fetch asks for (all of it without one).
std::string_view Cut(std::string_view data,
                     const std::optional<std::pair<std::uint64_t, std::uint64_t>>& partial) {
    if (!partial)
        return data;
    const auto [start, count] = *partial;
    return start >= data.size() ? std::string_view() : data.substr(start, count);
}

// How much of a message not read whole is read first to place a section: its header block and
// this much more, then four times as much each time until the section is placed.
constexpr std::uint64_t kFirstRead = 64 * 1024;

// A section of a message that is not at hand, reading only the start that places it and then
// the octets asked for (a partial fetch's alone). Nothing when the message has gone.
std::optional<std::string> ReadSection(const FetchItem& item, const MessageSummary& summary,
                                       MessageText& text) {
    std::string start;
    std::uint64_t size = summary.size;
    std::uint64_t want = summary.header->size() + kFirstRead;
    SectionPlace place;
    for (;;) {
        want = std::min(want, size);
        auto more = text.Range(start.size(), want - start.size());
        if (!more)
            return std::nullopt;
        const bool ended = more->size() < want - start.size();
        start += *more;
        if (ended || start.size() >= size)
            size = start.size(); // the message ends here, whatever its summary said
        std::string_view known = start;
        if (known.size() < size)
            known = known.substr(0, known.rfind('\n') + 1); // whole lines only
        place = LocateSection(known, size, item.section);
        if (place.found != SectionPlace::Found::NeedsMore)
            break;
        want = std::max<std::uint64_t>(start.size(), kFirstRead) * 4;
    }
    if (place.found == SectionPlace::Found::Nowhere)
        return std::string();
    if (PicksFields(item))
        return std::string(
            Cut(SectionText(std::string_view(start).substr(place.offset, place.length),
                            item.section, item.fields),
                item.partial));
    auto offset = place.offset;
    auto length = place.length;
    if (item.partial) {
        const auto [first, count] = *item.partial;
        if (first >= length)
            return std::string();
        offset += first;
        length = std::min(count, length - first);
    }
    if (offset + length <= start.size())
        return start.substr(offset, length);
    return text.Range(offset, length);
}

void AddItem(const std::string& text, FetchRequest& request) {
    const auto name = AsciiUpper(text);
    FetchItem item;
    item.label = name;
    using Kind = FetchItem::Kind;
    if (name == "FLAGS") {
        item.kind = Kind::Flags;
    } else if (name == "UID") {
        item.kind = Kind::Uid;
    } else if (name == "INTERNALDATE") {
        item.kind = Kind::InternalDate;
    } else if (name == "RFC822.SIZE") {
        item.kind = Kind::Size;
    } else if (name == "ENVELOPE") {
        item.kind = Kind::Envelope;
    } else if (name == "MODSEQ") {
        item.kind = Kind::Modseq;
    } else if (name == "BODYSTRUCTURE" || name == "BODY") {
        item.kind = name == "BODY" ? Kind::Body : Kind::BodyStructure;
        request.needsMessage = request.needsWhole = true;
    } else if (name == "RFC822" || name == "RFC822.HEADER" || name == "RFC822.TEXT") {
        item.kind = Kind::Section;
        item.section = name == "RFC822" ? "" : name == "RFC822.HEADER" ? "HEADER" : "TEXT";
        item.peek = name == "RFC822.HEADER";
        request.needsMessage = request.needsMessage || name != "RFC822.HEADER";
        request.needsWhole = request.needsWhole || name != "RFC822.HEADER";
    } else if (ReadSectionItem(text, item, request.error)) {
        if (!request.error.empty())
            return;
        // HEADER and HEADER.FIELDS come from the summary's header block.
        if (!FromHeader(item)) {
            request.needsMessage = true;
            if (!item.partial && (item.section.empty() || item.section == "TEXT"))
                request.needsWhole = true;
        }
    } else {
        request.error = "unknown FETCH item \"" + text + "\"";
        return;
    }
    if (item.kind == Kind::Section && !item.peek)
        request.setsSeen = true;
    request.items.push_back(std::move(item));
}

} // namespace

FetchRequest ParseFetchItems(const Argument& argument) {
    FetchRequest request;
    if (argument.IsAtom()) {
        const auto name = AsciiUpper(argument.text);
        const std::vector<std::string> fast = {"FLAGS", "INTERNALDATE", "RFC822.SIZE"};
        if (name == "ALL" || name == "FAST" || name == "FULL") {
            for (const auto& item : fast)
                AddItem(item, request);
            if (name != "FAST")
                AddItem("ENVELOPE", request);
            if (name == "FULL")
                AddItem("BODY", request);
            return request;
        }
        AddItem(argument.text, request);
    } else if (argument.IsList() && !argument.items.empty()) {
        for (const auto& item : argument.items) {
            if (!item.IsAtom()) {
                request.error = "FETCH items must be atoms";
                return request;
            }
            AddItem(item.text, request);
            if (!request.error.empty())
                return request;
        }
    } else {
        request.error = "FETCH needs data items";
    }
    return request;
}

std::optional<std::uint64_t> ParseModseq(const Argument& argument) {
    // 18 digits are below 2^63 whatever they are.
    if (!argument.IsAtom() || !IsNumber(argument.text, 18))
        return std::nullopt;
    return std::stoull(argument.text);
}

FetchModifiers ParseFetchModifiers(const Argument& argument) {
    FetchModifiers modifiers;
    if (!argument.IsList() || argument.items.empty()) {
        modifiers.error = "FETCH modifiers must be a parenthesised list";
        return modifiers;
    }
    const auto& items = argument.items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto name = items[i].IsAtom() ? AsciiUpper(items[i].text) : std::string();
        if (name == "VANISHED" && !modifiers.vanished) {
            modifiers.vanished = true;
            continue;
        }
        if (name != "CHANGEDSINCE") {
            modifiers.error = "unknown FETCH modifier \"" + items[i].text + "\"";
            return modifiers;
        }
        const auto value = i + 1 < items.size() ? ParseModseq(items[++i]) : std::nullopt;
        if (!value || modifiers.changedSince) {
            modifiers.error = "CHANGEDSINCE needs one mod-sequence";
            return modifiers;
        }
        modifiers.changedSince = value;
    }
    // RFC 7162: VANISHED only with CHANGEDSINCE.
    if (modifiers.vanished && !modifiers.changedSince)
        modifiers.error = "VANISHED needs CHANGEDSINCE";
    return modifiers;
}

std::string InternalDateText(long long seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[64];
    // The month's name from the message library, not the locale's.
    std::snprintf(text, sizeof text, "%02d-%s-%04d %02d:%02d:%02d +0000", utc.tm_mday,
                  message::MonthName(utc.tm_mon + 1), utc.tm_year + 1900, utc.tm_hour, utc.tm_min,
                  utc.tm_sec);
    return text;
}

std::optional<long long> ParseInternalDate(std::string_view text) {
    // "dd-Mon-yyyy hh:mm:ss +zzzz": its shape checked here, its values by the message library.
    static constexpr std::string_view kShape = "##-Aaa-#### ##:##:## +####";
    if (text.size() != kShape.size())
        return std::nullopt;
    std::string spaced(text);
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char c = text[i], want = kShape[i];
        const bool fits = want == '#' ? (c >= '0' && c <= '9') || (i == 0 && c == ' ')
                          : want == 'A' || want == 'a'
                              ? (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')
                          : want == '+' ? c == '+' || c == '-'
                                        : c == want;
        if (!fits)
            return std::nullopt;
        if (i == 2 || i == 6)
            spaced[i] = ' ';
    }
    return message::ParseMessageDate(spaced);
}

bool AppendFetchResponse(std::string& out, const std::vector<FetchItem>& items,
                         const MessageSummary& summary, MessageText& text) {
    out += '(';
    bool first = true;
    using Kind = FetchItem::Kind;
    for (const auto& item : items) {
        if (!first)
            out += ' ';
        first = false;
        out += item.label;
        out += ' ';
        switch (item.kind) {
        case Kind::Flags:
            AppendFlagList(out, summary.flags, summary.keywords);
            break;
        case Kind::Uid:
            out += std::to_string(summary.uid);
            break;
        case Kind::InternalDate:
            out += "\"" + InternalDateText(summary.internalDate) + "\"";
            break;
        case Kind::Size:
            out += std::to_string(summary.size);
            break;
        case Kind::Modseq:
            out += "(" + std::to_string(summary.modseq) + ")";
            break;
        case Kind::Envelope:
            if (summary.envelope)
                out += *summary.envelope;
            else
                out += Envelope(*summary.header);
            break;
        case Kind::BodyStructure:
        case Kind::Body: {
            const auto* whole = text.Whole();
            if (!whole)
                return false;
            out += BodyStructure(*whole, item.kind == Kind::BodyStructure);
            break;
        }
        case Kind::Section: {
            std::string held;
            std::string_view data;
            if (FromHeader(item)) {
                held = SectionBytes(*summary.header, item.section, item.fields).value_or("");
                data = Cut(held, item.partial);
            } else if (text.HasWhole()) {
                const auto* whole = text.Whole();
                if (!whole)
                    return false;
                const auto place = LocateSection(*whole, whole->size(), item.section);
                if (place.found == SectionPlace::Found::Here) {
                    data = std::string_view(*whole).substr(place.offset, place.length);
                    if (PicksFields(item))
                        data = held = SectionText(data, item.section, item.fields);
                }
                data = Cut(data, item.partial);
            } else {
                auto read = ReadSection(item, summary, text);
                if (!read)
                    return false;
                data = held = std::move(*read);
            }
            // Always a literal: message text may hold anything.
            out += '{';
            out += std::to_string(data.size());
            out += "}\r\n";
            out.append(data);
            break;
        }
        }
    }
    out += ')';
    return true;
}

} // namespace server::imap
