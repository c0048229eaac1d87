#pragma once

// What a STORE asks for (RFC 3501 section 6.4.6): replace, add or remove flags and keywords,
// answered with the new flags or silently.

#include "server/imap/ImapCommand.h"

#include "platform/core/Text.h"

#include <span>
#include <string>
#include <vector>

namespace server::imap {

struct FlagChange {
    enum class Mode { Replace, Add, Remove };
    Mode mode = Mode::Replace;
    bool silent = false;                      // ".SILENT": no FETCH response
    unsigned flags = 0;                       // SystemFlag bits named; \Recent is left out
    std::vector<std::string> keywords;        // the keywords named, each once
    platform::text::CaseInsensitiveSet named; // the same keywords, for finding them

    // The flags and keywords of a message after the change.
    void ApplyTo(unsigned& messageFlags, std::vector<std::string>& messageKeywords) const;
};

struct FlagChangeRequest {
    FlagChange change;
    std::string error; // non-empty: the item or the flags could not be read
};

// Reads flags into the change's flags and keywords: "" when they are all flags or keywords,
// else what is wrong. \Recent is skipped: only the server sets it.
std::string ReadFlags(std::span<const Argument> flags, FlagChange& change);

// Reads the item ("FLAGS", "+FLAGS.SILENT", ...) and the flags, given as one parenthesised list
// or as atoms one after another.
FlagChangeRequest ReadFlagChange(const Argument& item, std::span<const Argument> flags);

} // namespace server::imap
