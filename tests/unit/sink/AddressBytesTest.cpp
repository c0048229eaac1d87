// The byte classes the recipient scan works from: the bytewise reading marks each class, and every
// vector way gives exactly its masks.

#include "sink/AddressBytes.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using lorvanta::AvailableBlockClassifiers;
using lorvanta::BlockClasses;
using lorvanta::BlockClassifier;

std::vector<BlockClasses> Classify(BlockClassifier classify, const std::string& text,
                                   std::size_t base) {
    std::vector<BlockClasses> blocks(4);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    blocks.resize(classify(bytes, base, text.size(), blocks.data(), blocks.size()));
    return blocks;
}

TEST(AddressBytes, BytewiseMarksEachClass) {
    const std::string text = "a@b, <c>\t:\r'\"";
    const auto blocks = Classify(AvailableBlockClassifiers().bytewise, text, 0);
    ASSERT_EQ(blocks.size(), 1u);
    const auto& block = blocks[0];
    EXPECT_EQ(block.at, 1u << 1);
    EXPECT_EQ(block.comma, 1u << 3);
    EXPECT_EQ(block.leftCut, (1u << 4) | (1u << 5) | (1u << 11) | (1u << 12));
    EXPECT_EQ(block.rightCut, (1u << 4) | (1u << 7) | (1u << 11) | (1u << 12));
    EXPECT_EQ(block.tab, 1u << 8);
    EXPECT_EQ(block.colon, 1u << 9);
    EXPECT_EQ(block.cr, 1u << 10);
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
