// Writes a stored message's envelope, body structure and sections as FETCH returns them, with a
// depth limit so that no message costs unbounded stack.

#include "server/imap/ImapMessage.h"

#include "server/imap/ImapCommand.h"
#include "server/imap/ImapWire.h"
#include "server/message/AddressList.h"
#include "server/message/ContentType.h"
#include "server/message/HeaderBlock.h"
#include "server/message/Multipart.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <cctype>

namespace server::imap {

namespace {

using message::AddressListEntry;
using message::ContentType;
using message::Entity;
using message::FieldValue;
using message::HeaderField;
using message::Parameters;
using message::ParseAddressList;
using message::ReadContentType;
using message::ReadHeaderFields;
using message::ReadParameterizedValue;
using message::SplitEntity;
using message::SplitMultipart;
using platform::text::AsciiUpper;

// Parts nested deeper than this are shown as opaque, so that no message costs unbounded stack.
constexpr int kMaxNesting = 16;

std::size_t CountLines(std::string_view text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::string ParameterList(const Parameters& parameters) {
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
    const auto disposition = ReadParameterizedValue(*value);
    if (disposition.value.empty())
        return "NIL";
    return "(" + Quote(disposition.value) + " " + ParameterList(disposition.parameters) + ")";
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
            const bool digest = platform::text::EqualsIgnoreCase(type.subtype, "DIGEST");
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

// An address field as ENVELOPE writes it: a list of (name route mailbox host), a group between
// (NIL NIL name NIL) and (NIL NIL NIL NIL); NIL for none.
std::string AddressList(const std::optional<std::string>& value) {
    if (!value)
        return "NIL";
    std::string out;
    using Kind = AddressListEntry::Kind;
    for (const auto& entry : ParseAddressList(*value)) {
        switch (entry.kind) {
        case Kind::Mailbox:
            out += "(" + (entry.name.empty() ? std::string("NIL") : Quote(entry.name)) + " NIL " +
                   Quote(entry.mailbox) + " " + Quote(entry.host) + ")";
            break;
        case Kind::GroupStart:
            out += "(NIL NIL " + Quote(entry.name) + " NIL)";
            break;
        case Kind::GroupEnd:
            out += "(NIL NIL NIL NIL)";
            break;
        }
    }
    return out.empty() ? "NIL" : "(" + out + ")";
}

} // namespace

std::string Envelope(std::string_view header) {
    const auto fields = ReadHeaderFields(header);
    const auto from = FieldValue(fields, "From");
    auto orFrom = [&](std::string_view name) {
        auto value = FieldValue(fields, name);
        return AddressList(value && !value->empty() ? value : from);
    };
    return "(" + OptionalField(fields, "Date") + " " + OptionalField(fields, "Subject") + " " +
           AddressList(from) + " " + orFrom("Sender") + " " + orFrom("Reply-To") + " " +
           AddressList(FieldValue(fields, "To")) + " " + AddressList(FieldValue(fields, "Cc")) +
           " " + AddressList(FieldValue(fields, "Bcc")) + " " +
           OptionalField(fields, "In-Reply-To") + " " + OptionalField(fields, "Message-ID") + ")";
}

std::string BodyStructure(std::string_view whole, bool extended) {
    const auto entity = SplitEntity(whole);
    return Structure(entity.header, entity.body, extended, false, 0);
}

SectionPlace LocateSection(std::string_view start, std::uint64_t size, std::string_view section) {
    using Found = SectionPlace::Found;
    const bool whole = start.size() >= size;
    // What `start` cannot settle: more of the message, unless it is all there.
    const SectionPlace unsettled{whole ? Found::Nowhere : Found::NeedsMore, 0, 0};
    if (section.empty())
        return {Found::Here, 0, size};
    Entity node = SplitEntity(start);
    bool atMessage = true; // node is a whole message (header + body), not a MIME part
    // A part taken on the way runs to the end of `start`: where it really ends is not known.
    bool open = false;
    std::size_t at = 0;
    int depth = 0;
    // The part numbers first.
    while (at < section.size() && std::isdigit(static_cast<unsigned char>(section[at]))) {
        const auto dot = section.find('.', at);
        const auto numberText =
            section.substr(at, dot == std::string_view::npos ? std::string_view::npos : dot - at);
        if (!IsNumber(numberText, 6))
            return {};
        const auto number = std::stoul(std::string(numberText));
        if (number == 0 || ++depth > kMaxNesting)
            return {};
        const auto type = ReadContentType(ReadHeaderFields(node.header), false);
        if (type.IsMultipart()) {
            const auto parts = SplitMultipart(node.body, type.Parameter("BOUNDARY").value_or(""));
            if (number > parts.size())
                return unsettled;
            const auto part = parts[number - 1];
            open = open || part.data() + part.size() == start.data() + start.size();
            node = SplitEntity(part);
            atMessage = false;
        } else if (type.IsMessage() && !atMessage) {
            node = SplitEntity(node.body);
            atMessage = true;
            continue; // the same number, now within the enclosed message
        } else if (number == 1 && atMessage) {
            atMessage = false; // a single-part message's one part: its body
        } else {
            return unsettled;
        }
        at = dot == std::string_view::npos ? section.size() : dot + 1;
    }
    const auto rest = AsciiUpper(section.substr(at));
    std::string_view view;
    bool body = false; // the view runs to the end of what holds it
    if (rest.empty()) {
        view = node.body;
        body = true;
    } else if (rest == "MIME") {
        if (at == 0)
            return {};
        view = node.header;
    } else {
        Entity target = node;
        if (at > 0) {
            // HEADER and TEXT of a part only exist for an enclosed message.
            if (!ReadContentType(ReadHeaderFields(node.header), false).IsMessage())
                return node.header.data() + node.header.size() < start.data() + start.size()
                           ? SectionPlace{}
                           : unsettled;
            target = SplitEntity(node.body);
        }
        if (rest == "HEADER" || rest == "HEADER.FIELDS" || rest == "HEADER.FIELDS.NOT") {
            view = target.header;
        } else if (rest == "TEXT") {
            view = target.body;
            body = true;
        } else {
            return {};
        }
    }
    const auto offset = static_cast<std::uint64_t>(view.data() - start.data());
    const auto end = offset + view.size();
    // Ended before the end of `start`: by a line that is there, so the rest cannot move it.
    if (whole || end < start.size())
        return {Found::Here, offset, view.size()};
    // A body that starts within `start` and is held by nothing that ends earlier runs to the
    // message's end.
    if (body && !open && offset < start.size())
        return {Found::Here, offset, size - offset};
    return {Found::NeedsMore, 0, 0};
}

std::string SectionText(std::string_view atPlace, std::string_view section,
                        const std::vector<std::string>& names) {
    const auto upper = AsciiUpper(section);
    const bool keep = upper.ends_with("HEADER.FIELDS");
    if (!keep && !upper.ends_with("HEADER.FIELDS.NOT"))
        return std::string(atPlace);
    std::string out;
    for (const auto& field : ReadHeaderFields(atPlace)) {
        const bool named = std::any_of(names.begin(), names.end(), [&](const auto& name) {
            return platform::text::EqualsIgnoreCase(name, field.name);
        });
        if (named == keep) {
            out.append(field.raw);
            if (!field.raw.ends_with("\n"))
                out += "\r\n";
        }
    }
    return out + "\r\n";
}

std::optional<std::string> SectionBytes(std::string_view whole, std::string_view section,
                                        const std::vector<std::string>& names) {
    const auto place = LocateSection(whole, whole.size(), section);
    if (place.found != SectionPlace::Found::Here)
        return std::nullopt;
    return SectionText(whole.substr(place.offset, place.length), section, names);
}

} // namespace server::imap
