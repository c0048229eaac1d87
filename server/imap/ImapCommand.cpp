// Parses one IMAP command's tag, name and arguments into an argument tree, with a nesting limit
// and syntax errors that say what was wrong.

#include "server/imap/ImapCommand.h"

#include "server/imap/ImapInput.h"

#include <stdexcept>

namespace server::imap {

namespace {

struct SyntaxError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Deep nesting is no use to any command and would cost stack.
constexpr int kMaxDepth = 32;

bool IsTagChar(unsigned char c) {
    return (IsAtomChar(c) || c == ']') && c != '+';
}

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    bool AtEnd() const { return at_ == text_.size(); }
    char Peek() const { return text_[at_]; }

    void Space() {
        if (AtEnd() || text_[at_] != ' ')
            throw SyntaxError("a space is missing between arguments");
        ++at_;
    }

    std::string Tag() {
        const auto start = at_;
        while (!AtEnd() && IsTagChar(static_cast<unsigned char>(text_[at_])))
            ++at_;
        if (at_ == start)
            throw SyntaxError("the command has no tag");
        return std::string(text_.substr(start, at_ - start));
    }

    std::string Name() {
        const auto start = at_;
        while (!AtEnd() && IsAtomChar(static_cast<unsigned char>(text_[at_])))
            ++at_;
        if (at_ == start)
            throw SyntaxError("the command name is missing");
        return AsciiUpper(text_.substr(start, at_ - start));
    }

    // Arguments up to the end of the text, or up to the ")" that closes a list.
    std::vector<Argument> Arguments(int depth) {
        std::vector<Argument> arguments;
        bool first = true;
        while (!AtEnd() && text_[at_] != ')') {
            if (!first || depth == 0)
                Space();
            first = false;
            arguments.push_back(One(depth));
        }
        return arguments;
    }

private:
    Argument One(int depth) {
        if (AtEnd())
            throw SyntaxError("an argument is missing at the end of the command");
        switch (text_[at_]) {
        case '"':
            return {Argument::Kind::String, Quoted(), {}};
        case '{':
            return {Argument::Kind::String, Literal(), {}, true};
        case '(': {
            if (depth >= kMaxDepth)
                throw SyntaxError("parentheses are nested too deeply");
            ++at_;
            Argument list{Argument::Kind::List, {}, Arguments(depth + 1)};
            if (AtEnd())
                throw SyntaxError("a \"(\" is not closed");
            ++at_;
            return list;
        }
        case ')':
            throw SyntaxError("a \")\" closes nothing");
        default:
            return {Argument::Kind::Atom, Atom(), {}};
        }
    }

    std::string Quoted() {
        ++at_;
        std::string value;
        while (!AtEnd()) {
            const char c = text_[at_++];
            if (c == '"')
                return value;
            if (c == '\r' || c == '\n' || c == '\0')
                throw SyntaxError("a quoted string holds a line end or NUL");
            if (c == '\\') {
                if (AtEnd() || (text_[at_] != '"' && text_[at_] != '\\'))
                    throw SyntaxError("a backslash in a quoted string escapes only \" and \\");
                value += text_[at_++];
                continue;
            }
            value += c;
        }
        throw SyntaxError("a quoted string is not closed");
    }

    std::string Literal() {
        const auto close = text_.find('}', at_);
        const auto mark = close == std::string_view::npos
                              ? std::nullopt
                              : FindLiteralMark(text_.substr(at_, close - at_ + 1));
        if (!mark || mark->tooLargeToCount || text_.substr(close + 1, 2) != "\r\n")
            throw SyntaxError("a literal must be {n} or {n+} at the end of a line");
        at_ = close + 3;
        if (text_.size() - at_ < mark->size)
            throw SyntaxError("a literal is shorter than announced");
        std::string value(text_.substr(at_, mark->size));
        at_ += mark->size;
        return value;
    }

    std::string Atom() {
        const auto start = at_;
        bool inBrackets = false;
        while (!AtEnd()) {
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (inBrackets) {
                if (c == '\r' || c == '\n')
                    break;
                if (c == ']')
                    inBrackets = false;
                ++at_;
                continue;
            }
            if (c == '[') {
                inBrackets = true;
                ++at_;
                continue;
            }
            // Also "%", "*", "]" and "\", which mailbox patterns, sequence sets and flags use.
            if (c == ' ' || c == '(' || c == ')' || c == '"' || c < 0x20 || c == 0x7f)
                break;
            ++at_;
        }
        if (inBrackets)
            throw SyntaxError("a \"[\" is not closed");
        if (at_ == start)
            throw SyntaxError("an argument is empty or starts with a character it may not");
        return std::string(text_.substr(start, at_ - start));
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

} // namespace

bool Argument::IsNil() const {
    return kind == Kind::Atom && AsciiUpper(text) == "NIL";
}

bool IsAtomChar(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f)
        return false;
    switch (c) {
    case '(':
    case ')':
    case '{':
    case '%':
    case '*':
    case '"':
    case '\\':
    case ']':
        return false;
    default:
        return true;
    }
}

bool IsNumber(std::string_view text, std::size_t maxDigits) {
    return !text.empty() && text.size() <= maxDigits &&
           text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string TagOf(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size() && IsTagChar(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == 0 || (end < text.size() && text[end] != ' '))
        return "*";
    return std::string(text.substr(0, end));
}

ParsedCommand ParseCommand(std::string_view text) {
    ParsedCommand parsed;
    Reader reader(text);
    try {
        parsed.command.tag = reader.Tag();
        reader.Space();
        parsed.command.name = reader.Name();
        parsed.command.arguments = reader.Arguments(0);
        if (!reader.AtEnd())
            throw SyntaxError("a \")\" closes nothing");
    } catch (const SyntaxError& error) {
        parsed.error = error.what();
    }
    return parsed;
}

} // namespace server::imap
