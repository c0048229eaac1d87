#pragma once

// The bytes that steer recipient extraction, and their positions in 64-byte blocks of a text.

#include <array>
#include <cstddef>
#include <cstdint>

namespace lorvanta {

// What a byte means to the scan. A blank, a double quote and an apostrophe cut an address on
// either side; "<" only on its left and ">" only on its right.
enum ByteClass : std::uint8_t {
    kComma = 1 << 0,    // ends an entry
    kTab = 1 << 1,      // ends an entry on a folded line
    kAt = 1 << 2,       // the first one in an entry anchors its address
    kLeftCut = 1 << 3,  // an address before "@" begins after the last of these
    kRightCut = 1 << 4, // an address after "@" ends before the first of these
    kColon = 1 << 5,    // a folded line holding one is a new header instead
    kReturn = 1 << 6,   // with a line feed after it, ends the line
};

constexpr std::array<std::uint8_t, 256> MakeByteClasses() {
    std::array<std::uint8_t, 256> classes{};
    classes[','] = kComma;
    classes['\t'] = kTab;
    classes['@'] = kAt;
    classes[' '] = kLeftCut | kRightCut;
    classes['"'] = kLeftCut | kRightCut;
    classes['\''] = kLeftCut | kRightCut;
    classes['<'] = kLeftCut;
    classes['>'] = kRightCut;
    classes[':'] = kColon;
    classes['\r'] = kReturn;
    return classes;
}

inline constexpr auto kByteClasses = MakeByteClasses();

// Which bytes of a block of up to 64 bytes belong to which class: bit k stands for the byte at
// `base` + k. With a whole block classified at once, a scan goes from stop to stop with bit
// operations instead of a chain of loads and compares per stop.
struct BlockClasses {
    const unsigned char* data = nullptr;
    std::size_t base = 0;
    std::uint64_t comma = 0, tab = 0, at = 0, leftCut = 0, rightCut = 0, colon = 0, cr = 0;

    bool operator==(const BlockClasses&) const = default;
};

// Classifies the blocks that begin at `base`, `base` + 64, ... into `blocks`: `count` of them, or
// fewer where the text ends; returns how many. Uses the widest vector instructions this
// processor has; several blocks per call let it set up its constants once.
std::size_t ClassifyBlocks(const unsigned char* bytes, std::size_t base, std::size_t size,
                           BlockClasses* blocks, std::size_t count);

// The ways ClassifyBlocks may take, for tests that compare them. A way this build or processor
// lacks is null.
using BlockClassifier = std::size_t (*)(const unsigned char*, std::size_t, std::size_t,
                                        BlockClasses*, std::size_t);
struct BlockClassifiers {
    BlockClassifier bytewise;
    BlockClassifier sse2;
    BlockClassifier avx2;
    BlockClassifier avx512;
};
BlockClassifiers AvailableBlockClassifiers();

} // namespace lorvanta
