// The store's SQL dialect: whole queries and registration criteria.
//
// Input: the query text. It is read both as a query and as criteria. Refusals must be syntax
// errors. What is accepted must evaluate on any item without failing, must never hold together
// with its negation, and, written back as text, must read back to the same tree.

#include "FuzzCheck.h"

#include "platform/core/Error.h"
#include "platform/store/Query.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace query = platform::store::query;
using platform::Variant;
using query::Condition;
using query::Operand;

std::string Quoted(const std::string& value, char quote) {
    std::string out(1, quote);
    for (char c : value) {
        out += c;
        if (c == quote)
            out += quote;
    }
    return out + quote;
}

std::string Write(const Operand& operand) {
    if (operand.kind == Operand::Kind::Property)
        return Quoted(operand.property, '"');
    const auto& value = operand.literal;
    if (value.IsText())
        return Quoted(value.Text(), '\'');
    if (value.IsBool())
        return value.Bool() ? "TRUE" : "FALSE";
    return std::to_string(value.Integer());
}

// How tightly each kind binds: OR, then AND, then NOT and comparisons.
int Binding(Condition::Kind kind) {
    switch (kind) {
    case Condition::Kind::Or:
        return 0;
    case Condition::Kind::And:
        return 1;
    default:
        return 2;
    }
}

// With parentheses only where the grouping needs them, so that the text read back holds no
// more parts than the original.
std::string Write(const Condition& condition, int binding = 0) {
    std::string text;
    switch (condition.kind) {
    case Condition::Kind::Equal:
        text = Write(condition.left) + " = " + Write(condition.right);
        break;
    case Condition::Kind::NotEqual:
        text = Write(condition.left) + " <> " + Write(condition.right);
        break;
    case Condition::Kind::And:
        text = Write(*condition.first, 1) + " AND " + Write(*condition.second, 2);
        break;
    case Condition::Kind::Or:
        text = Write(*condition.first, 0) + " OR " + Write(*condition.second, 1);
        break;
    case Condition::Kind::Not:
        text = "NOT " + Write(*condition.first, 2);
        break;
    }
    return Binding(condition.kind) < binding ? "(" + text + ")" : text;
}

std::string Write(const query::Query& parsed) {
    std::string text = "SELECT ";
    if (parsed.columns.empty())
        text += "*";
    for (std::size_t i = 0; i < parsed.columns.size(); ++i)
        text += (i ? ", " : "") + Quoted(parsed.columns[i], '"');
    const std::string scope =
        std::string(parsed.traversal == query::Traversal::Deep ? "deep" : "shallow") +
        " traversal of \"" + parsed.scopeUrl + "\"";
    text += " FROM SCOPE(" + Quoted(scope, '\'') + ")";
    if (parsed.where)
        text += " WHERE " + Write(*parsed.where);
    return text;
}

void Collect(const Condition& condition, std::set<std::string>& names,
             std::vector<Variant>& literals) {
    if (condition.first)
        Collect(*condition.first, names, literals);
    if (condition.second)
        Collect(*condition.second, names, literals);
    for (const Operand* operand : {&condition.left, &condition.right}) {
        if (condition.kind != Condition::Kind::Equal && condition.kind != Condition::Kind::NotEqual)
            break;
        if (operand->kind == Operand::Kind::Property)
            names.insert(operand->property);
        else
            literals.push_back(operand->literal);
    }
}

// Items on which the condition is tried: every property it names set to one value, for values
// of every kind and the condition's own literals; and an item that has none of them.
std::vector<std::map<std::string, Variant>> Items(const Condition& condition) {
    std::set<std::string> names;
    std::vector<Variant> literals;
    Collect(condition, names, literals);
    std::vector<Variant> values = {Variant::Null(),
                                   Variant(true),
                                   Variant(false),
                                   Variant(0),
                                   Variant(1),
                                   Variant("1"),
                                   Variant("true"),
                                   Variant(""),
                                   Variant(Variant::TextArray{}),
                                   Variant(Variant::TextArray{"a", "1", "TRUE"})};
    Variant::TextArray texts;
    for (const auto& literal : literals) {
        values.push_back(literal);
        if (literal.IsText())
            texts.push_back(literal.Text());
        if (values.size() > 24)
            break;
    }
    values.push_back(Variant(texts));
    std::vector<std::map<std::string, Variant>> items(1);
    for (const auto& value : values) {
        auto& item = items.emplace_back();
        for (const auto& name : names)
            item.emplace(name, value);
    }
    return items;
}

std::vector<bool> Evaluate(const Condition* condition,
                           const std::vector<std::map<std::string, Variant>>& items,
                           std::string_view input) {
    std::vector<bool> results;
    for (const auto& item : items) {
        bool holds = false;
        try {
            holds = query::Holds(condition, item);
        } catch (const std::exception& error) {
            fuzz::Broken("an accepted condition evaluates on any item", input, error.what());
        }
        results.push_back(holds);
    }
    return results;
}

void CheckCondition(std::unique_ptr<Condition>& condition, std::string_view input) {
    if (!condition)
        return;
    const auto items = Items(*condition);
    const auto holds = Evaluate(condition.get(), items, input);

    Condition negation;
    negation.kind = Condition::Kind::Not;
    negation.first = std::move(condition);
    const auto negated = Evaluate(&negation, items, input);
    condition = std::move(negation.first);
    for (std::size_t i = 0; i < holds.size(); ++i)
        fuzz::Check(!(holds[i] && negated[i]), "a condition and its negation never both hold",
                    input, Write(*condition));

    const auto written = Write(*condition);
    std::unique_ptr<Condition> reread;
    try {
        reread = query::ParseCriteria(written);
    } catch (const platform::Error& error) {
        fuzz::Broken("a written condition reads back", input,
                     written + " | " + error.Description());
    }
    fuzz::Check(reread && Write(*reread) == written, "a written condition reads back the same",
                input, written);
    fuzz::Check(Evaluate(reread.get(), items, input) == holds,
                "a written condition holds on the same items", input, written);
}

void ExpectSyntaxError(const platform::Error& error, std::string_view input) {
    fuzz::Check(error.Number() == platform::hr::DB_E_ERRORSINCOMMAND,
                "a refused query is a syntax error", input, error.Description());
    fuzz::Check(error.Description().find("position") != std::string::npos,
                "a syntax error names the position", input, error.Description());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    try {
        auto parsed = query::ParseQuery(text);
        CheckCondition(parsed.where, text);
        const auto written = Write(parsed);
        try {
            fuzz::Check(Write(query::ParseQuery(written)) == written,
                        "a written query reads back the same", text, written);
        } catch (const platform::Error& error) {
            fuzz::Broken("a written query reads back", text, written + " | " + error.Description());
        }
    } catch (const platform::Error& error) {
        ExpectSyntaxError(error, text);
    }

    try {
        auto criteria = query::ParseCriteria(text);
        CheckCondition(criteria, text);
    } catch (const platform::Error& error) {
        ExpectSyntaxError(error, text);
    }
    return 0;
}
