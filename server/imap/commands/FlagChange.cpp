// Reads a STORE's item and flag list, and applies the change to one message's flags.

#include "server/imap/commands/FlagChange.h"

#include "server/imap/ImapWire.h"

namespace server::imap {

FlagChangeRequest ReadFlagChange(const Argument& itemArgument,
                                 std::span<const Argument> flagArguments) {
    FlagChangeRequest request;
    auto& change = request.change;
    auto item = AsciiUpper(itemArgument.text);
    change.silent = item.ends_with(".SILENT");
    if (change.silent)
        item.resize(item.size() - 7);
    if (item == "FLAGS")
        change.mode = FlagChange::Mode::Replace;
    else if (item == "+FLAGS")
        change.mode = FlagChange::Mode::Add;
    else if (item == "-FLAGS")
        change.mode = FlagChange::Mode::Remove;
    else {
        request.error = "STORE takes FLAGS, +FLAGS or -FLAGS";
        return request;
    }
    request.error = ReadFlags(flagArguments, change);
    return request;
}

std::string ReadFlags(std::span<const Argument> flagArguments, FlagChange& change) {
    std::vector<const Argument*> flags;
    if (flagArguments.size() == 1 && flagArguments[0].IsList())
        for (const auto& flag : flagArguments[0].items)
            flags.push_back(&flag);
    else
        for (const auto& flag : flagArguments)
            flags.push_back(&flag);
    for (const auto* flag : flags) {
        if (!flag->IsAtom())
            return "Flags must be atoms";
        if (flag->text.starts_with("\\")) {
            if (AsciiUpper(flag->text) == "\\RECENT")
                continue;
            const auto system = SystemFlagNamed(flag->text);
            if (!system)
                return "Unknown system flag " + flag->text;
            change.flags |= *system;
            continue;
        }
        auto keyword = KeywordOfAtom(flag->text);
        if (change.named.Insert(keyword))
            change.keywords.push_back(std::move(keyword));
    }
    return {};
}

void FlagChange::ApplyTo(unsigned& messageFlags, std::vector<std::string>& messageKeywords) const {
    switch (mode) {
    case Mode::Replace:
        messageFlags = flags;
        messageKeywords = keywords;
        break;
    case Mode::Add: {
        messageFlags |= flags;
        platform::text::CaseInsensitiveSet kept;
        for (const auto& keyword : messageKeywords)
            kept.Insert(keyword);
        for (const auto& keyword : keywords)
            if (kept.Insert(keyword))
                messageKeywords.push_back(keyword);
        break;
    }
    case Mode::Remove:
        messageFlags &= ~flags;
        std::erase_if(messageKeywords, [&](const auto& kept) { return named.Contains(kept); });
        break;
    }
}

} // namespace server::imap
