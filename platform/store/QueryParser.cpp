// Parses the store's SQL dialect, the subset that registrations and lookups use, into a query with
// a condition tree of bounded depth.

#include "platform/core/Text.h"
#include "platform/store/Query.h"
#include "platform/store/StoreErrors.h"

#include <cctype>

namespace platform::store::query {

namespace {

struct Token {
    // Invalid stands where reading stopped at malformed text; its text says why.
    enum class Kind { Word, Integer, Name, Text, Symbol, End, Invalid } kind = Kind::End;
    std::string text;     // keyword/word as written, integer digits, unquoted name or text
    std::size_t position; // 0-based offset in the query
};

[[noreturn]] void SyntaxError(const std::string& query, std::size_t position,
                              const std::string& what) {
    std::string near = query.substr(std::min(position, query.size()), 20);
    throw Error(platform::hr::DB_E_ERRORSINCOMMAND,
                "Syntax error in the query at position " + std::to_string(position + 1) + " (" +
                    what + (near.empty() ? ", at the end" : ", near \"" + near + "\"") + ")");
}

bool IsBlankChar(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct TokenError {
    std::size_t position;
    std::string what;
};

void ReadTokens(const std::string& query, std::vector<Token>& tokens) {
    std::size_t i = 0;
    while (true) {
        while (i < query.size() && IsBlankChar(query[i]))
            ++i;
        if (i >= query.size())
            break;
        Token token;
        token.position = i;
        const char c = query[i];
        if (c == '\'' || c == '"') {
            // A doubled quote inside stands for one.
            token.kind = c == '\'' ? Token::Kind::Text : Token::Kind::Name;
            std::size_t j = i + 1;
            while (true) {
                if (j >= query.size())
                    throw TokenError{i, c == '\'' ? "unterminated text" : "unterminated name"};
                if (query[j] == c) {
                    if (j + 1 < query.size() && query[j + 1] == c) {
                        token.text += c;
                        j += 2;
                        continue;
                    }
                    break;
                }
                token.text += query[j++];
            }
            i = j + 1;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '-' && i + 1 < query.size() &&
                    std::isdigit(static_cast<unsigned char>(query[i + 1])))) {
            token.kind = Token::Kind::Integer;
            std::size_t j = i + 1;
            while (j < query.size() && std::isdigit(static_cast<unsigned char>(query[j])))
                ++j;
            token.text = query.substr(i, j - i);
            i = j;
        } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            token.kind = Token::Kind::Word;
            std::size_t j = i + 1;
            while (j < query.size() &&
                   (std::isalnum(static_cast<unsigned char>(query[j])) || query[j] == '_'))
                ++j;
            token.text = query.substr(i, j - i);
            i = j;
        } else if (query.compare(i, 2, "<>") == 0 || query.compare(i, 2, "!=") == 0) {
            token.kind = Token::Kind::Symbol;
            token.text = "<>";
            i += 2;
        } else if (c == '(' || c == ')' || c == ',' || c == '=' || c == '*') {
            token.kind = Token::Kind::Symbol;
            token.text = std::string(1, c);
            ++i;
        } else {
            throw TokenError{i, "unexpected character"};
        }
        tokens.push_back(std::move(token));
    }
}

// Reads tokens up to the first malformed text, which becomes an Invalid token: the parser
// reports whichever comes first, a misplaced token or the malformed text.
std::vector<Token> Tokenize(const std::string& query) {
    std::vector<Token> tokens;
    try {
        ReadTokens(query, tokens);
    } catch (const TokenError& error) {
        tokens.push_back(Token{Token::Kind::Invalid, error.what, error.position});
        return tokens;
    }
    tokens.push_back(Token{Token::Kind::End, {}, query.size()});
    return tokens;
}
// Conditions, NOTs and parentheses one condition may hold. The tree, its evaluation and its
// destruction all recurse as deep as it grows, and every one of these can add a level; far
// more than any registration or lookup needs, far less than a thread's stack allows.
constexpr std::size_t kMaxConditionParts = 1000;

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text), tokens_(Tokenize(text)) {}

    Query ParseSelect() {
        Query query;
        ExpectWord("SELECT");
        if (IsSymbol("*")) {
            Next();
        } else {
            query.columns.push_back(ExpectName());
            while (IsSymbol(",")) {
                Next();
                query.columns.push_back(ExpectName());
            }
        }
        ExpectWord("FROM");
        ExpectWord("SCOPE");
        ExpectSymbol("(");
        ParseScope(query);
        ExpectSymbol(")");
        if (IsWord("WHERE")) {
            Next();
            query.where = ParseOr();
        }
        ExpectEnd();
        return query;
    }

    std::unique_ptr<Condition> ParseCriteria() {
        if (Peek().kind == Token::Kind::End)
            return nullptr;
        if (IsWord("WHERE"))
            Next();
        auto condition = ParseOr();
        ExpectEnd();
        return condition;
    }

private:
    const Token& Peek() const { return tokens_[index_]; }
    const Token& Next() { return tokens_[index_++]; }
    bool IsWord(const char* word) const {
        return Peek().kind == Token::Kind::Word && text::EqualsIgnoreCase(Peek().text, word);
    }
    bool IsSymbol(const char* symbol) const {
        return Peek().kind == Token::Kind::Symbol && Peek().text == symbol;
    }
    [[noreturn]] void Fail(const std::string& what) const {
        if (Peek().kind == Token::Kind::Invalid)
            SyntaxError(text_, Peek().position, Peek().text);
        SyntaxError(text_, Peek().position, what);
    }
    void ExpectWord(const char* word) {
        if (!IsWord(word))
            Fail(std::string("expected ") + word);
        Next();
    }
    void ExpectSymbol(const char* symbol) {
        if (!IsSymbol(symbol))
            Fail(std::string("expected \"") + symbol + "\"");
        Next();
    }
    std::string ExpectName() {
        if (Peek().kind != Token::Kind::Name)
            Fail("expected a quoted property name");
        return Next().text;
    }
    void ExpectEnd() {
        if (Peek().kind != Token::Kind::End)
            Fail("unexpected text after the end of the query");
    }

    // 'shallow traversal of "URL"' inside the text literal.
    void ParseScope(Query& query) {
        if (Peek().kind != Token::Kind::Text)
            Fail("expected a scope text such as 'shallow traversal of \"URL\"'");
        const auto& scope = Next();
        const auto inner = scope.text;
        auto position = [&](std::size_t offset) { return scope.position + 1 + offset; };
        std::size_t i = 0;
        auto skipBlanks = [&] {
            while (i < inner.size() && IsBlankChar(inner[i]))
                ++i;
        };
        auto word = [&](const char* expected) {
            skipBlanks();
            std::size_t j = i;
            while (j < inner.size() && std::isalpha(static_cast<unsigned char>(inner[j])))
                ++j;
            if (!text::EqualsIgnoreCase(inner.substr(i, j - i), expected))
                SyntaxError(text_, position(i), std::string("expected ") + expected);
            i = j;
        };
        skipBlanks();
        if (text::MatchPrefixIgnoreCase(inner.substr(i), "deep")) {
            word("deep");
            query.traversal = Traversal::Deep;
        } else {
            word("shallow");
            query.traversal = Traversal::Shallow;
        }
        word("traversal");
        word("of");
        skipBlanks();
        if (i >= inner.size() || inner[i] != '"')
            SyntaxError(text_, position(i), "expected the quoted URL of the scope");
        const auto close = inner.find('"', i + 1);
        if (close == std::string::npos)
            SyntaxError(text_, position(i), "unterminated scope URL");
        query.scopeUrl = inner.substr(i + 1, close - i - 1);
        i = close + 1;
        skipBlanks();
        if (i != inner.size())
            SyntaxError(text_, position(i), "unexpected text after the scope URL");
    }

    std::unique_ptr<Condition> Combine(Condition::Kind kind, std::unique_ptr<Condition> first,
                                       std::unique_ptr<Condition> second) {
        auto node = std::make_unique<Condition>();
        node->kind = kind;
        node->first = std::move(first);
        node->second = std::move(second);
        return node;
    }

    std::unique_ptr<Condition> ParseOr() {
        auto left = ParseAnd();
        while (IsWord("OR")) {
            Next();
            left = Combine(Condition::Kind::Or, std::move(left), ParseAnd());
        }
        return left;
    }

    std::unique_ptr<Condition> ParseAnd() {
        auto left = ParseNot();
        while (IsWord("AND")) {
            Next();
            left = Combine(Condition::Kind::And, std::move(left), ParseNot());
        }
        return left;
    }

    std::unique_ptr<Condition> ParseNot() {
        if (++conditionParts_ > kMaxConditionParts)
            Fail("the condition is too long: more than " + std::to_string(kMaxConditionParts) +
                 " comparisons, NOTs and parentheses");
        if (IsWord("NOT")) {
            Next();
            return Combine(Condition::Kind::Not, ParseNot(), nullptr);
        }
        if (IsSymbol("(")) {
            Next();
            auto inner = ParseOr();
            ExpectSymbol(")");
            return inner;
        }
        return ParseComparison();
    }

    std::unique_ptr<Condition> ParseComparison() {
        auto node = std::make_unique<Condition>();
        node->left = ParseOperand();
        if (IsSymbol("="))
            node->kind = Condition::Kind::Equal;
        else if (IsSymbol("<>"))
            node->kind = Condition::Kind::NotEqual;
        else
            Fail("expected = or <>");
        Next();
        node->right = ParseOperand();
        return node;
    }

    Operand ParseOperand() {
        Operand operand;
        const auto& token = Peek();
        switch (token.kind) {
        case Token::Kind::Name:
            operand.kind = Operand::Kind::Property;
            operand.property = Next().text;
            return operand;
        case Token::Kind::Text:
            operand.literal = Variant(Next().text);
            return operand;
        case Token::Kind::Integer:
            try {
                operand.literal = Variant(static_cast<std::int64_t>(std::stoll(token.text)));
            } catch (const std::out_of_range&) {
                Fail("integer out of range");
            }
            Next();
            return operand;
        case Token::Kind::Word:
            if (IsWord("TRUE") || IsWord("FALSE")) {
                operand.literal = Variant(IsWord("TRUE"));
                Next();
                return operand;
            }
            break;
        default:
            break;
        }
        Fail("expected a quoted property name, a 'text', TRUE, FALSE or an integer");
    }

    const std::string& text_;
    std::vector<Token> tokens_;
    std::size_t index_ = 0;
    std::size_t conditionParts_ = 0;
};

} // namespace

Query ParseQuery(const std::string& text) {
    return Parser(text).ParseSelect();
}

std::unique_ptr<Condition> ParseCriteria(const std::string& text) {
    return Parser(text).ParseCriteria();
}

} // namespace platform::store::query
