// Parses the directory's SQL dialect into a search: a tokenizer and a recursive-descent parser that
// build an LDAP filter with every value escaped.

#include "platform/directory/SqlDialect.h"

#include "platform/core/Error.h"
#include "platform/core/Text.h"
#include "platform/directory/FilterEscape.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace platform::directory {

namespace {

enum class TokenKind { Word, Quoted, Symbol, End };

struct Token {
    TokenKind kind;
    std::string text;
    std::size_t position;
};

// How deep NOT and parentheses may nest. The parser recurses once per level, and so does any
// LDAP library that encodes the filter it gives.
constexpr int kMaxNesting = 256;

class Parser {
public:
    Parser(std::string_view text, const SchemaDnSource& schemaDn)
        : text_(text), schemaDn_(schemaDn) {
        Tokenize();
    }

    DirectoryQuery Parse() {
        DirectoryQuery query;
        ExpectKeyword("SELECT");
        do {
            query.attributes.push_back(ExpectWord("an attribute name"));
        } while (AcceptSymbol(","));
        ExpectKeyword("FROM");
        if (Peek().kind != TokenKind::Quoted)
            throw Fail("the search root in single quotes");
        query.root = ParseDirectoryPath(Next().text);
        root_ = &query.root;
        if (AcceptKeyword("WHERE"))
            query.filter = ParseOr();
        else
            query.filter = "(objectClass=*)";
        if (AcceptKeyword("ORDER")) {
            ExpectKeyword("BY");
            query.orderBy = ExpectWord("an attribute name");
            if (AcceptKeyword("DESC"))
                query.descending = true;
            else
                AcceptKeyword("ASC");
        }
        if (Peek().kind != TokenKind::End)
            throw Fail("the end of the query");
        return query;
    }

private:
    void Tokenize() {
        std::size_t i = 0;
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                ++i;
            } else if (c == '\'') {
                const auto start = i++;
                std::string value;
                for (;;) {
                    if (i >= text_.size())
                        throw Error(hr::DB_E_ERRORSINCOMMAND,
                                    "Syntax error in the directory query: the text at position " +
                                        std::to_string(start + 1) + " has no closing quote");
                    if (text_[i] == '\'') {
                        if (i + 1 < text_.size() && text_[i + 1] == '\'') {
                            value += '\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    value += text_[i++];
                }
                tokens_.push_back({TokenKind::Quoted, value, start});
            } else if (IsWordChar(c)) {
                const auto start = i;
                while (i < text_.size() && IsWordChar(text_[i]))
                    ++i;
                tokens_.push_back(
                    {TokenKind::Word, std::string(text_.substr(start, i - start)), start});
            } else {
                const auto start = i;
                std::string symbol(1, c);
                const auto two = text_.substr(i, 2);
                if (two == "<>" || two == "!=" || two == "<=" || two == ">=")
                    symbol = std::string(two);
                else if (std::string_view("=<>(),").find(c) == std::string_view::npos)
                    throw Error(hr::DB_E_ERRORSINCOMMAND,
                                "Syntax error in the directory query: unexpected \"" + symbol +
                                    "\" at position " + std::to_string(start + 1));
                i += symbol.size();
                tokens_.push_back({TokenKind::Symbol, symbol, start});
            }
        }
        tokens_.push_back({TokenKind::End, "", text_.size()});
    }

    static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsKeyChar(char c) { return IsLetter(c) || IsDigit(c) || c == '-'; }

    // Whether a word can stand as the attribute of an LDAP filter (RFC 4512): a name that
    // begins with a letter and goes on with letters, digits and "-", or a numeric OID; then
    // options, each ";" and letters, digits and "-". Words may hold more than that (values
    // need not be quoted), and a filter with such an attribute could not even be sent.
    static bool IsAttributeDescription(std::string_view word) {
        const auto parts = text::Split(word, ';');
        const auto type = parts.front();
        auto allKeyChars = [](std::string_view part) {
            return !part.empty() && std::all_of(part.begin(), part.end(), IsKeyChar);
        };
        if (!type.empty() && IsLetter(type.front())) {
            if (!allKeyChars(type))
                return false;
        } else {
            for (auto number : text::Split(type, '.'))
                if (number.empty() || !std::all_of(number.begin(), number.end(), IsDigit))
                    return false;
        }
        return std::all_of(parts.begin() + 1, parts.end(), allKeyChars);
    }

    static bool IsWordChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.' ||
               c == ';' || static_cast<unsigned char>(c) >= 0x80;
    }

    const Token& Peek() const { return tokens_[next_]; }
    const Token& Next() {
        const Token& token = tokens_[next_];
        if (token.kind != TokenKind::End)
            ++next_;
        return token;
    }

    Error Fail(const std::string& expected) const {
        const auto& token = Peek();
        const std::string found = token.kind == TokenKind::End ? std::string("the end of the text")
                                                               : "\"" + token.text + "\"";
        return Error(hr::DB_E_ERRORSINCOMMAND,
                     "Syntax error in the directory query: expected " + expected + " at position " +
                         std::to_string(token.position + 1) + ", found " + found);
    }

    bool IsKeyword(const Token& token, std::string_view keyword) const {
        return token.kind == TokenKind::Word && text::EqualsIgnoreCase(token.text, keyword);
    }
    bool AcceptKeyword(std::string_view keyword) {
        if (!IsKeyword(Peek(), keyword))
            return false;
        Next();
        return true;
    }
    void ExpectKeyword(std::string_view keyword) {
        if (!AcceptKeyword(keyword))
            throw Fail("\"" + std::string(keyword) + "\"");
    }
    bool AcceptSymbol(std::string_view symbol) {
        if (Peek().kind != TokenKind::Symbol || Peek().text != symbol)
            return false;
        Next();
        return true;
    }
    std::string ExpectWord(const std::string& what) {
        const auto& token = Peek();
        if (token.kind != TokenKind::Word || IsReserved(token))
            throw Fail(what);
        return Next().text;
    }
    bool IsReserved(const Token& token) const {
        for (auto keyword : {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "ORDER", "BY"})
            if (IsKeyword(token, keyword))
                return true;
        return false;
    }

    static std::string Join(const char* op, const std::vector<std::string>& parts) {
        if (parts.size() == 1)
            return parts.front();
        std::string filter = std::string("(") + op;
        for (const auto& part : parts)
            filter += part;
        return filter + ")";
    }

    std::string ParseOr() {
        std::vector<std::string> parts{ParseAnd()};
        while (AcceptKeyword("OR"))
            parts.push_back(ParseAnd());
        return Join("|", parts);
    }
    std::string ParseAnd() {
        std::vector<std::string> parts{ParseNot()};
        while (AcceptKeyword("AND"))
            parts.push_back(ParseNot());
        return Join("&", parts);
    }
    void Nest() {
        if (nesting_ == kMaxNesting)
            throw Fail("NOT and parentheses nested at most " + std::to_string(kMaxNesting) +
                       " deep");
        ++nesting_;
    }

    std::string ParseNot() {
        if (AcceptKeyword("NOT")) {
            Nest();
            auto filter = "(!" + ParseNot() + ")";
            --nesting_;
            return filter;
        }
        if (AcceptSymbol("(")) {
            Nest();
            auto inner = ParseOr();
            if (!AcceptSymbol(")"))
                throw Fail("\")\"");
            --nesting_;
            return inner;
        }
        return ParseComparison();
    }

    std::string ParseComparison() {
        if (Peek().kind == TokenKind::Word && !IsReserved(Peek()) &&
            !IsAttributeDescription(Peek().text))
            throw Fail("an attribute name (a letter, then letters, digits and \"-\"; or an OID)");
        const auto attribute = ExpectWord("an attribute name");
        const auto& opToken = Peek();
        if (opToken.kind != TokenKind::Symbol || opToken.text == "(" || opToken.text == ")" ||
            opToken.text == ",")
            throw Fail("a comparison operator");
        const auto op = Next().text;
        const auto& valueToken = Peek();
        if (valueToken.kind != TokenKind::Quoted &&
            (valueToken.kind != TokenKind::Word || IsReserved(valueToken)))
            throw Fail("a value");
        const bool quoted = valueToken.kind == TokenKind::Quoted;
        const auto value = Next().text;

        if (op == "=")
            return Equality(attribute, value, quoted);
        if (op == "<>" || op == "!=")
            return "(!" + Equality(attribute, value, quoted) + ")";
        const auto escaped = EscapeFilterValue(value);
        if (op == "<=")
            return "(" + attribute + "<=" + escaped + ")";
        if (op == ">=")
            return "(" + attribute + ">=" + escaped + ")";
        if (op == "<")
            return "(!(" + attribute + ">=" + escaped + "))";
        return "(!(" + attribute + "<=" + escaped + "))";
    }

    std::string Equality(const std::string& attribute, const std::string& written, bool quoted) {
        // Wildcards in a row match what one does, and a filter may hold only one.
        std::string value;
        for (char c : written)
            if (c != '*' || value.empty() || value.back() != '*')
                value += c;
        if (value == "*")
            return "(" + attribute + "=*)";
        if (text::EqualsIgnoreCase(attribute, "objectCategory") &&
            value.find('=') == std::string::npos && value.find('*') == std::string::npos)
            return "(" + attribute + "=" + EscapeFilterValue(CategoryDn(value)) + ")";
        if (!quoted)
            return "(" + attribute + "=" + EscapeFilterValue(value) + ")";
        // Each piece between the wildcards is escaped on its own.
        std::string filter = "(" + attribute + "=";
        bool first = true;
        for (auto piece : text::Split(value, '*')) {
            if (!first)
                filter += '*';
            first = false;
            filter += EscapeFilterValue(piece);
        }
        return filter + ")";
    }

    // A class name stands for its category DN, the class's entry in the schema container.
    std::string CategoryDn(const std::string& className) {
        if (schemaDnValue_.empty()) {
            if (schemaDn_)
                schemaDnValue_ = schemaDn_(*root_);
            if (schemaDnValue_.empty())
                throw Error(hr::DB_E_ERRORSINCOMMAND,
                            "Cannot expand objectCategory '" + className +
                                "': the directory names no schema container");
        }
        std::string name = className;
        if (!name.empty())
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
        return "CN=" + name + "," + schemaDnValue_;
    }

    std::string_view text_;
    const SchemaDnSource& schemaDn_;
    std::string schemaDnValue_;
    const DirectoryPath* root_ = nullptr;
    std::vector<Token> tokens_;
    std::size_t next_ = 0;
    int nesting_ = 0;
};

} // namespace

DirectoryQuery ParseSqlDialect(std::string_view text, const SchemaDnSource& schemaDn) {
    return Parser(text, schemaDn).Parse();
}

} // namespace platform::directory
