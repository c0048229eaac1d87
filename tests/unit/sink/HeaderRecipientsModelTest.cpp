// The one-pass recipient scanner against a plain model of the same rules: split the block into
// lines, collect the To and Cc text, then clean it entry by entry. Random blocks built from the
// bytes and words that matter (separators, cuts, colons, CR and LF, header names) must give the
// same list from both.

#include "sink/LorvantaModule.h"

#include "sink/PlainRecipients.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using recipientmodel::PlainCleanAddressList;
using recipientmodel::PlainHeaderRecipients;

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

// Blocks of every short length, then long ones that cross the scanner's block boundaries and keep
// addresses that span folded lines.
TEST(HeaderRecipientsModel, RandomBlocksGiveWhatThePlainRulesGive) {
    BlockMaker shortBlocks(20261206), longBlocks(99);
    for (int round = 0; round < 20200; ++round) {
        const auto block = round < 20000 ? shortBlocks.Make(static_cast<std::size_t>(round % 120))
                                         : "To: " + longBlocks.Make(2000);
        ASSERT_EQ(lorvanta::GetHeaderRecipients(block), PlainHeaderRecipients(block).recipients)
            << "block: " << testing::PrintToString(block);
    }
}

TEST(HeaderRecipientsModel, RandomListsCleanAsThePlainRulesClean) {
    BlockMaker maker(7);
    for (int round = 0; round < 20000; ++round) {
        const auto list = maker.Make(static_cast<std::size_t>(round % 60));
        ASSERT_EQ(lorvanta::CleanAddressList(list), PlainCleanAddressList(list))
            << "list: " << testing::PrintToString(list);
    }
}

} // namespace
