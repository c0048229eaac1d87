// Parses SEARCH criteria into a key tree and tries each message against it, comparing texts with
// the store's case folding.

#include "server/imap/ImapSearch.h"

#include "server/imap/ImapFetch.h"
#include "server/imap/ImapWire.h"
#include "server/message/HeaderBlock.h"
#include "server/message/MessageDate.h"

#include "platform/core/Text.h"

#include <algorithm>
#include <stdexcept>

namespace server::imap {

namespace {

constexpr int kMaxDepth = 32;
constexpr long long kSecondsPerDay = 86400;

SearchKey KeyOf(SearchKey::Kind kind) {
    SearchKey key;
    key.kind = kind;
    return key;
}

long long DayOf(long long seconds) {
    return seconds >= 0 ? seconds / kSecondsPerDay
                        : (seconds - kSecondsPerDay + 1) / kSecondsPerDay;
}

bool ContainsFolded(const std::string& haystack, const std::string& foldedNeedle) {
    if (foldedNeedle.empty())
        return true;
    return platform::text::ToLower(haystack).find(foldedNeedle) != std::string::npos;
}

class SearchReader {
public:
    SearchReader(const std::vector<Argument>& arguments, std::size_t at)
        : arguments_(arguments), at_(at) {}

    SearchKey All(int depth) {
        auto all = KeyOf(SearchKey::Kind::And);
        while (at_ < arguments_.size())
            all.children.push_back(One(depth));
        if (all.children.empty())
            throw std::runtime_error("SEARCH needs at least one criterion");
        return all;
    }

    bool AtEnd() const { return at_ >= arguments_.size(); }
    const Argument& Peek() const { return arguments_[at_]; }
    void Skip() { ++at_; }

private:
    const Argument& Take(const char* what) {
        if (at_ >= arguments_.size())
            throw std::runtime_error(std::string("SEARCH criterion needs ") + what);
        return arguments_[at_++];
    }

    std::string TakeString(const char* what) {
        const auto& argument = Take(what);
        if (!argument.IsAString())
            throw std::runtime_error(std::string("SEARCH criterion needs ") + what);
        return argument.text;
    }

    long long TakeDate() {
        const auto day = ParseSearchDate(TakeString("a date"));
        if (!day)
            throw std::runtime_error("a SEARCH date must look like 1-Feb-2024");
        return *day;
    }

    long long TakeNumber() {
        const auto text = TakeString("a number");
        if (!IsNumber(text, 18))
            throw std::runtime_error("\"" + text + "\" is not a number");
        return std::stoll(text);
    }

    SearchKey One(int depth) {
        if (depth > kMaxDepth)
            throw std::runtime_error("SEARCH criteria are nested too deeply");
        const auto& argument = Take("a criterion");
        if (argument.IsList()) {
            SearchReader inner(argument.items, 0);
            return inner.All(depth + 1);
        }
        if (argument.kind != Argument::Kind::Atom)
            throw std::runtime_error("a SEARCH criterion must be an atom");
        const auto name = AsciiUpper(argument.text);
        using Kind = SearchKey::Kind;
        SearchKey key;
        const auto flag = [&](unsigned bit, bool set) {
            key.kind = Kind::Flag;
            key.flag = bit;
            key.negated = !set;
            return key;
        };
        const auto header = [&](std::string field) {
            key.kind = Kind::Header;
            key.field = std::move(field);
            key.text = platform::text::ToLower(TakeString("a text"));
            return key;
        };
        const auto dated = [&](Kind kind) {
            key.kind = kind;
            key.number = TakeDate();
            return key;
        };
        if (name == "ALL")
            return key;
        if (name == "ANSWERED" || name == "UNANSWERED")
            return flag(kAnswered, name == "ANSWERED");
        if (name == "DELETED" || name == "UNDELETED")
            return flag(kDeleted, name == "DELETED");
        if (name == "DRAFT" || name == "UNDRAFT")
            return flag(kDraft, name == "DRAFT");
        if (name == "FLAGGED" || name == "UNFLAGGED")
            return flag(kFlagged, name == "FLAGGED");
        if (name == "SEEN" || name == "UNSEEN")
            return flag(kSeen, name == "SEEN");
        if (name == "KEYWORD" || name == "UNKEYWORD") {
            key.kind = Kind::Keyword;
            key.negated = name == "UNKEYWORD";
            key.text = KeywordOfAtom(TakeString("a keyword"));
            return key;
        }
        if (name == "RECENT" || name == "OLD") {
            key.kind = Kind::Recent;
            key.negated = name == "OLD";
            return key;
        }
        if (name == "NEW") {
            auto unseen = KeyOf(Kind::Flag);
            unseen.flag = kSeen;
            unseen.negated = true;
            key.kind = Kind::And;
            key.children = {KeyOf(Kind::Recent), unseen};
            return key;
        }
        if (name == "FROM" || name == "TO" || name == "CC" || name == "BCC" || name == "SUBJECT")
            return header(name);
        if (name == "HEADER")
            return header(TakeString("a field name"));
        if (name == "BODY" || name == "TEXT") {
            key.kind = name == "BODY" ? Kind::Body : Kind::Text;
            key.text = platform::text::ToLower(TakeString("a text"));
            return key;
        }
        if (name == "SINCE")
            return dated(Kind::Since);
        if (name == "BEFORE")
            return dated(Kind::Before);
        if (name == "ON")
            return dated(Kind::On);
        if (name == "SENTSINCE")
            return dated(Kind::SentSince);
        if (name == "SENTBEFORE")
            return dated(Kind::SentBefore);
        if (name == "SENTON")
            return dated(Kind::SentOn);
        if (name == "LARGER" || name == "SMALLER") {
            key.kind = name == "LARGER" ? Kind::Larger : Kind::Smaller;
            key.number = TakeNumber();
            return key;
        }
        if (name == "NOT") {
            key.kind = Kind::Not;
            key.children.push_back(One(depth + 1));
            return key;
        }
        if (name == "OR") {
            key.kind = Kind::Or;
            key.children.push_back(One(depth + 1));
            key.children.push_back(One(depth + 1));
            return key;
        }
        if (name == "MODSEQ") {
            // An entry name and type may come first: the message's one mod-sequence stands for
            // every flag's, as RFC 7162 lets a server do.
            if (!AtEnd() && Peek().kind != Argument::Kind::Atom) {
                Skip();
                const auto type = AsciiUpper(TakeString("an entry type"));
                if (type != "PRIV" && type != "SHARED" && type != "ALL")
                    throw std::runtime_error("MODSEQ entry type must be priv, shared or all");
            }
            const auto value = AtEnd() ? std::nullopt : ParseModseq(Peek());
            if (!value)
                throw std::runtime_error("MODSEQ needs a mod-sequence");
            Skip();
            key.kind = Kind::Modseq;
            key.modseq = *value;
            return key;
        }
        if (name == "UID") {
            key.kind = Kind::Uids;
            key.set = SequenceSet::Parse(TakeString("a UID set"));
            if (!key.set)
                throw std::runtime_error("UID needs a set of UIDs");
            return key;
        }
        if (auto set = SequenceSet::Parse(argument.text)) {
            key.kind = Kind::Numbers;
            key.set = std::move(set);
            return key;
        }
        throw std::runtime_error("unknown SEARCH criterion \"" + argument.text + "\"");
    }

    const std::vector<Argument>& arguments_;
    std::size_t at_;
};

bool HeaderHolds(const MessageSummary& summary, const std::string& field,
                 const std::string& foldedText) {
    for (const auto& candidate : message::ReadHeaderFields(*summary.header))
        if (platform::text::EqualsIgnoreCase(candidate.name, field) &&
            ContainsFolded(candidate.value, foldedText))
            return true;
    return false;
}

bool UsesModseq(const SearchKey& key) {
    return key.kind == SearchKey::Kind::Modseq ||
           std::any_of(key.children.begin(), key.children.end(), UsesModseq);
}

std::optional<long long> SentDay(const MessageSummary& summary) {
    const auto date = message::FieldValue(message::ReadHeaderFields(*summary.header), "Date");
    if (!date)
        return std::nullopt;
    const auto seconds = message::ParseMessageDate(*date);
    if (!seconds)
        return std::nullopt;
    return DayOf(*seconds);
}

} // namespace

std::optional<long long> ParseSearchDate(std::string_view text) {
    const auto first = text.find('-');
    const auto second = first == std::string_view::npos ? first : text.find('-', first + 1);
    if (second == std::string_view::npos)
        return std::nullopt;
    const auto dayText = text.substr(0, first);
    const auto month = message::MonthNumber(text.substr(first + 1, second - first - 1));
    const auto yearText = text.substr(second + 1);
    if (!IsNumber(dayText, 2) || yearText.size() != 4 || !IsNumber(yearText, 4) || !month)
        return std::nullopt;
    const auto day = std::stoi(std::string(dayText));
    if (day < 1 || day > 31)
        return std::nullopt;
    return message::DaysSinceEpoch(std::stoi(std::string(yearText)), *month, day);
}

SearchRequest ParseSearch(const std::vector<Argument>& arguments, std::size_t first) {
    SearchRequest request;
    SearchReader reader(arguments, first);
    try {
        if (!reader.AtEnd() && reader.Peek().IsAtom() &&
            AsciiUpper(reader.Peek().text) == "CHARSET") {
            reader.Skip();
            if (reader.AtEnd() || !reader.Peek().IsAString())
                throw std::runtime_error("CHARSET needs a name");
            const auto charset = AsciiUpper(reader.Peek().text);
            if (charset != "UTF-8" && charset != "US-ASCII") {
                request.badCharset = true;
                request.error = "only UTF-8 and US-ASCII are supported";
                return request;
            }
            reader.Skip();
        }
        request.key = reader.All(0);
        request.modseq = UsesModseq(request.key);
    } catch (const std::runtime_error& error) {
        request.error = error.what();
    }
    return request;
}

bool Matches(const SearchKey& key, const SearchSubject& subject) {
    using Kind = SearchKey::Kind;
    const auto& summary = *subject.summary;
    switch (key.kind) {
    case Kind::All:
        return true;
    case Kind::And:
        return std::all_of(key.children.begin(), key.children.end(),
                           [&](const SearchKey& child) { return Matches(child, subject); });
    case Kind::Or:
        return Matches(key.children[0], subject) || Matches(key.children[1], subject);
    case Kind::Not:
        return !Matches(key.children[0], subject);
    case Kind::Numbers:
        return key.set->Contains(subject.number, subject.largestNumber);
    case Kind::Uids:
        return key.set->Contains(summary.uid, subject.largestUid);
    case Kind::Flag:
        return ((summary.flags & key.flag) != 0) != key.negated;
    case Kind::Keyword: {
        const bool present =
            std::any_of(summary.keywords.begin(), summary.keywords.end(), [&](const auto& kw) {
                return platform::text::EqualsIgnoreCase(kw, key.text);
            });
        return present != key.negated;
    }
    case Kind::Header:
        return HeaderHolds(summary, key.field, key.text);
    case Kind::Body: {
        const auto& whole = subject.message();
        return ContainsFolded(std::string(message::SplitEntity(whole).body), key.text);
    }
    case Kind::Text:
        return ContainsFolded(subject.message(), key.text);
    case Kind::Since:
        return DayOf(summary.internalDate) >= key.number;
    case Kind::Before:
        return DayOf(summary.internalDate) < key.number;
    case Kind::On:
        return DayOf(summary.internalDate) == key.number;
    case Kind::SentSince:
    case Kind::SentBefore:
    case Kind::SentOn: {
        const auto day = SentDay(summary);
        if (!day)
            return false;
        return key.kind == Kind::SentSince    ? *day >= key.number
               : key.kind == Kind::SentBefore ? *day < key.number
                                              : *day == key.number;
    }
    case Kind::Larger:
        return summary.size > static_cast<std::uint64_t>(key.number);
    case Kind::Smaller:
        return summary.size < static_cast<std::uint64_t>(key.number);
    case Kind::Recent:
        return subject.recent != key.negated;
    case Kind::Modseq:
        return summary.modseq >= key.modseq;
    }
    return false;
}

} // namespace server::imap
