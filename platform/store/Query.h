#pragma once

// The store's SQL dialect, the part that is used:
//   SELECT "prop", "prop" | *  FROM SCOPE('shallow traversal of "URL"' | 'deep traversal of "URL"')
//   [WHERE condition]
// where a condition combines comparisons (= and <>; != is read as <>) of quoted property
// names, 'texts' ('' stands for a quote), TRUE/FALSE and integers with AND, OR, NOT and
// parentheses. Keywords are read in any letter case. A query is parsed into a tree and
// evaluated against items; nothing of it ever reaches the database as SQL text.
//
// A malformed query fails with DB_E_ERRORSINCOMMAND and a description that names the position
// (1-based character offset) where reading stopped.

#include "platform/core/Variant.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform::store::query {

struct Operand {
    enum class Kind { Property, Literal } kind = Kind::Literal;
    std::string property; // for Property
    Variant literal;      // text, Boolean or integer, for Literal
};

struct Condition {
    enum class Kind { Equal, NotEqual, And, Or, Not } kind = Kind::Equal;
    Operand left, right;                      // comparisons
    std::unique_ptr<Condition> first, second; // And, Or (both), Not (first)
};

enum class Traversal { Shallow, Deep };

struct Query {
    std::vector<std::string> columns; // empty for "*"
    Traversal traversal = Traversal::Shallow;
    std::string scopeUrl;
    std::unique_ptr<Condition> where; // null: every item
};

Query ParseQuery(const std::string& text);

// A registration's criteria: a WHERE clause (the keyword may be left out); blank text gives
// null, which every item satisfies.
std::unique_ptr<Condition> ParseCriteria(const std::string& text);

// Whether the item's properties satisfy the condition (null: always). A comparison with a
// property the item lacks is unknown, and an unknown condition does not hold, NOT included.
// Texts compare without regard to letter case; a Boolean or integer property compares with a
// text of its value ('true', '1'); an array property equals a value when one element does.
bool Holds(const Condition* condition, const std::map<std::string, Variant>& properties);

} // namespace platform::store::query
