// The byte classes the recipient scan works from: every vector way gives exactly the masks of the
// bytewise reading. That reading, which also takes every short last block, is held to the rules
// by the scan's comparison with the plain model (HeaderRecipientsModelTest).

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
