// The one-pass recipient scanner against a plain model of the same rules: split the block into
// lines, collect the To and Cc text, then clean it entry by entry. Random blocks built from the
// bytes and words that matter (separators, cuts, colons, CR and LF, header names) must give the
// same list from both. And the byte classes the scan works from: every vector way gives exactly
// the masks of the bytewise reading, which the comparison with the model holds to the rules.

#include "sink/LorvantaModule.h"

#include "sink/AddressBytes.h"
#include "sink/PlainRecipients.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using lorvanta::AvailableBlockClassifiers;
using lorvanta::BlockClasses;
using lorvanta::BlockClassifier;
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

std::vector<BlockClasses> Classify(BlockClassifier classify, const std::string& text,
                                   std::size_t base) {
    std::vector<BlockClasses> blocks(4);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    blocks.resize(classify(bytes, base, text.size(), blocks.data(), blocks.size()));
    return blocks;
}

// The vector ways must agree with the plain one on every byte, the short last block included.
TEST(AddressBytes, VectorWaysAgreeWithBytewise) {
    const auto ways = AvailableBlockClassifiers();
    const std::string alphabet = "ab@,\t <>\"':\r\n\x80\xff";
    std::mt19937 random(42);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    for (const std::size_t size : {1u, 63u, 64u, 65u, 200u, 256u, 300u, 1000u}) {
        std::string text;
        for (std::size_t i = 0; i < size; ++i)
            text += alphabet[pick(random)];
        for (std::size_t base = 0; base < size; base += 64) {
            const auto expected = Classify(ways.bytewise, text, base);
            ASSERT_EQ(expected.size(), std::min<std::size_t>(4, (size - base + 63) / 64));
            for (const auto way : {ways.sse2, ways.avx2, ways.avx512}) {
                if (way) {
                    EXPECT_EQ(Classify(way, text, base), expected)
                        << "size " << size << ", base " << base;
                }
            }
        }
    }
}

} // namespace
