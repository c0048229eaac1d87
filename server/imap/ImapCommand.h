#pragma once

// The syntax of one IMAP command (RFC 3501 section 9): a tag, a command name and its arguments,
// read from the text CommandInput put together (literals inline, as "{n}" CRLF and n octets).
// Arguments are read into a small tree that the commands then interpret: atoms, strings
// (quoted or literal) and parenthesised lists. An atom may hold one bracketed part with spaces
// and parentheses in it ("BODY.PEEK[HEADER.FIELDS (From To)]<0.100>"), as FETCH items do.

#include "platform/core/Text.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace server::imap {

struct Argument {
    enum class Kind { Atom, String, List };
    Kind kind = Kind::Atom;
    std::string text;            // Atom, String
    std::vector<Argument> items; // List
    bool literal = false;        // a String sent as a literal (APPEND's message must be one)

    bool IsAtom() const { return kind == Kind::Atom; }
    bool IsList() const { return kind == Kind::List; }
    // An atom or a string (IMAP's astring).
    bool IsAString() const { return kind != Kind::List; }
    // The atom NIL, in any letter case.
    bool IsNil() const;
};

struct Command {
    std::string tag;
    std::string name; // upper case
    std::vector<Argument> arguments;
};

struct ParsedCommand {
    Command command;
    std::string error; // empty when the command was read; else what is wrong with it
};

ParsedCommand ParseCommand(std::string_view text);

// The tag at the start of a command text, when it has one that can be answered; "*" otherwise.
std::string TagOf(std::string_view text);

// Whether a character may stand in an atom (RFC 3501's ATOM-CHAR).
bool IsAtomChar(unsigned char c);

// Whether the text is a number of 1 to `maxDigits` decimal digits, so that it converts without
// overflow.
bool IsNumber(std::string_view text, std::size_t maxDigits);

// ASCII upper case, for command names and protocol keywords: the platform's.
using platform::text::AsciiUpper;

} // namespace server::imap
