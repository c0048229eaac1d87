// The one-pass recipient scanner against a plain model of the same rules: split the block into
// lines, collect the To and Cc text, then clean it entry by entry. Random blocks built from the
// bytes and words that matter (separators, cuts, colons, CR and LF, header names) must give the
// same list from both.

#include "sink/LorvantaModule.h"

#include "platform/core/Text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

namespace text = platform::text;

std::vector<std::string> SplitAt(std::string_view value, std::string_view separator) {
    std::vector<std::string> parts;
    for (;;) {
        const auto end = value.find(separator);
        parts.emplace_back(value.substr(0, end));
        if (end == std::string_view::npos)
            return parts;
        value.remove_prefix(end + separator.size());
    }
}

bool IsCut(char c, char angle) {
    return c == ' ' || c == '"' || c == '\'' || c == angle;
}

std::string ModelCleanAddressList(const std::string& list) {
    std::string result;
    if (list.empty())
        return result;
    for (const auto& entry : SplitAt(list, ",")) {
        std::string address(text::TrimBlanks(entry));
        auto at = address.find('@');
        if (at == std::string::npos)
            continue;
        for (auto i = at; i-- > 0;) {
            if (IsCut(address[i], '<')) {
                address.erase(0, i + 1);
                break;
            }
        }
        at = address.find('@');
        for (auto i = at + 1; i < address.size(); ++i) {
            if (IsCut(address[i], '>')) {
                address.erase(i);
                break;
            }
        }
        if (!result.empty())
            result += ',';
        result += address;
    }
    return result;
}

std::string ModelGetHeaderRecipients(const std::string& block) {
    if (block.empty())
        return {};
    std::string collected;
    std::string recipientList;
    bool inAddressHeader = false;
    for (const auto& line : SplitAt(block, "\r\n")) {
        if (text::TrimBlanks(line).empty())
            continue;
        if (text::MatchPrefixIgnoreCase(line, "X-RecipientList:")) {
            recipientList = text::TrimBlanks(std::string_view(line).substr(16));
            if (!recipientList.empty())
                break;
        }
        if (inAddressHeader) {
            if (line.find(':') == std::string::npos) {
                collected += text::ReplaceAll(line, '\t', ",");
                continue;
            }
            inAddressHeader = false;
        }
        const auto name = text::ToUpper(line.substr(0, 3));
        if (name == "TO:" || name == "CC:") {
            inAddressHeader = true;
            if (!collected.empty())
                collected += ',';
            collected += line.substr(3);
        }
    }
    if (!recipientList.empty())
        return text::ReplaceAll(recipientList, ';', ",");
    return ModelCleanAddressList(collected);
}

// Random header blocks from the pieces that steer the scan.
class BlockMaker {
public:
    explicit BlockMaker(unsigned seed) : random_(seed) {}

    std::string Make(std::size_t pieces) {
        static const std::vector<std::string> kPieces = {"\r\n",
                                                         "\r\n",
                                                         "\r\n",
                                                         "\r\nTo:",
                                                         "\r\nCc:",
                                                         "\r\ncc:",
                                                         "\r\n\t",
                                                         "\r\n ",
                                                         "To:",
                                                         "X-RecipientList:",
                                                         "x-recipientlist: ",
                                                         "\r\nX-RecipientList:",
                                                         "\r\nSubject: ",
                                                         " ",
                                                         " ",
                                                         "\t",
                                                         ",",
                                                         ",",
                                                         "@",
                                                         "@",
                                                         "\"",
                                                         "'",
                                                         "<",
                                                         ">",
                                                         ":",
                                                         ";",
                                                         "\r",
                                                         "\n",
                                                         "a",
                                                         "bob",
                                                         "example.com",
                                                         "\xC3\xA9",
                                                         "\xC5\xBF",
                                                         "(",
                                                         ")",
                                                         "  "};
        std::string block;
        std::uniform_int_distribution<std::size_t> pick(0, kPieces.size() - 1);
        for (std::size_t i = 0; i < pieces; ++i)
            block += kPieces[pick(random_)];
        return block;
    }

private:
    std::mt19937 random_;
};

TEST(HeaderRecipientsModel, RandomBlocksGiveWhatThePlainRulesGive) {
    BlockMaker maker(20261206);
    for (int round = 0; round < 20000; ++round) {
        const auto block = maker.Make(static_cast<std::size_t>(round % 120));
        ASSERT_EQ(lorvanta::GetHeaderRecipients(block), ModelGetHeaderRecipients(block))
            << "block: " << testing::PrintToString(block);
    }
}

TEST(HeaderRecipientsModel, RandomListsCleanAsThePlainRulesClean) {
    BlockMaker maker(7);
    for (int round = 0; round < 20000; ++round) {
        const auto list = maker.Make(static_cast<std::size_t>(round % 60));
        ASSERT_EQ(lorvanta::CleanAddressList(list), ModelCleanAddressList(list))
            << "list: " << testing::PrintToString(list);
    }
}

// Long runs cross the scanner's block boundaries and keep addresses that span folded lines.
TEST(HeaderRecipientsModel, LongFoldedHeadersGiveWhatThePlainRulesGive) {
    BlockMaker maker(99);
    for (int round = 0; round < 200; ++round) {
        const auto block = "To: " + maker.Make(2000);
        ASSERT_EQ(lorvanta::GetHeaderRecipients(block), ModelGetHeaderRecipients(block))
            << "round " << round;
    }
}

} // namespace
