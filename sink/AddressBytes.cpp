// Classifies a text's bytes for the recipient scan into bit masks per 64-byte block, with the
// widest vector instructions the processor has (AVX-512, AVX2 or SSE2); each way must give the
// masks of the bytewise reading, which states the rule.

#include "sink/AddressBytes.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define LORVANTA_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace lorvanta {

namespace {

BlockClasses ClassifyBytewise(const unsigned char* bytes, std::size_t base, std::size_t size) {
    BlockClasses block;
    block.data = bytes;
    block.base = base;
    const auto end = std::min(size, base + 64);
    for (auto i = base; i < end; ++i) {
        const auto cls = kByteClasses[bytes[i]];
        const auto bit = std::uint64_t{1} << (i - base);
        block.comma |= (cls & kComma) ? bit : 0;
        block.tab |= (cls & kTab) ? bit : 0;
        block.at |= (cls & kAt) ? bit : 0;
        block.leftCut |= (cls & kLeftCut) ? bit : 0;
        block.rightCut |= (cls & kRightCut) ? bit : 0;
        block.colon |= (cls & kColon) ? bit : 0;
        block.cr |= (cls & kReturn) ? bit : 0;
    }
    return block;
}

// Classifies whole blocks with `classify` and the last, short one byte by byte.
template <typename Classify>
std::size_t ClassifyEach(const unsigned char* bytes, std::size_t base, std::size_t size,
                         BlockClasses* blocks, std::size_t count, Classify classify) {
    std::size_t done = 0;
    for (; done < count && base < size; ++done, base += 64) {
        blocks[done] = size - base >= 64 ? classify(base) : ClassifyBytewise(bytes, base, size);
    }
    return done;
}

std::size_t ClassifyBlocksBytewise(const unsigned char* bytes, std::size_t base, std::size_t size,
                                   BlockClasses* blocks, std::size_t count) {
    return ClassifyEach(bytes, base, size, blocks, count,
                        [&](std::size_t at) { return ClassifyBytewise(bytes, at, size); });
}

#ifdef LORVANTA_X86_VECTORS

// Sixteen bytes at a time; every x86-64 processor has SSE2.
std::size_t ClassifyBlocksSse2(const unsigned char* bytes, std::size_t base, std::size_t size,
                               BlockClasses* blocks, std::size_t count) {
    const auto equal = [](__m128i chunk, char c) {
        return _mm_cmpeq_epi8(chunk, _mm_set1_epi8(c));
    };
    const auto bits = [](__m128i hits, int shift) {
        return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << shift;
    };
    return ClassifyEach(bytes, base, size, blocks, count, [&](std::size_t at) {
        BlockClasses block;
        block.data = bytes;
        block.base = at;
        for (int shift = 0; shift < 64; shift += 16) {
            const auto chunk =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at + shift));
            const auto eitherCut = _mm_or_si128(
                equal(chunk, ' '), _mm_or_si128(equal(chunk, '"'), equal(chunk, '\'')));
            block.comma |= bits(equal(chunk, ','), shift);
            block.tab |= bits(equal(chunk, '\t'), shift);
            block.at |= bits(equal(chunk, '@'), shift);
            block.leftCut |= bits(_mm_or_si128(eitherCut, equal(chunk, '<')), shift);
            block.rightCut |= bits(_mm_or_si128(eitherCut, equal(chunk, '>')), shift);
            block.colon |= bits(equal(chunk, ':'), shift);
            block.cr |= bits(equal(chunk, '\r'), shift);
        }
        return block;
    });
}

// Thirty-two bytes at a time, for processors without AVX-512.
__attribute__((target("avx2"))) std::size_t ClassifyBlocksAvx2(const unsigned char* bytes,
                                                               std::size_t base, std::size_t size,
                                                               BlockClasses* blocks,
                                                               std::size_t count) {
    const auto blank = _mm256_set1_epi8(' '), quote = _mm256_set1_epi8('"'),
               apostrophe = _mm256_set1_epi8('\''), comma = _mm256_set1_epi8(','),
               tab = _mm256_set1_epi8('\t'), at = _mm256_set1_epi8('@'),
               less = _mm256_set1_epi8('<'), greater = _mm256_set1_epi8('>'),
               colon = _mm256_set1_epi8(':'), cr = _mm256_set1_epi8('\r');
    std::size_t done = 0;
    for (; done < count && size - base >= 64; ++done, base += 64) {
        auto& block = blocks[done];
        block = BlockClasses{};
        block.data = bytes;
        block.base = base;
        for (int shift = 0; shift < 64; shift += 32) {
            const auto chunk =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + base + shift));
            const auto bits = [ chunk, shift ](__m256i c) __attribute__((target("avx2"))) {
                return static_cast<std::uint64_t>(static_cast<std::uint32_t>(
                           _mm256_movemask_epi8(_mm256_cmpeq_epi8(chunk, c))))
                       << shift;
            };
            const auto eitherCut = bits(blank) | bits(quote) | bits(apostrophe);
            block.comma |= bits(comma);
            block.tab |= bits(tab);
            block.at |= bits(at);
            block.leftCut |= eitherCut | bits(less);
            block.rightCut |= eitherCut | bits(greater);
            block.colon |= bits(colon);
            block.cr |= bits(cr);
        }
    }
    if (done < count && base < size)
        blocks[done++] = ClassifyBytewise(bytes, base, size);
    return done;
}

// A whole block in one register: each compare gives its 64-bit mask directly.
__attribute__((target("avx512f,avx512bw"))) std::size_t
ClassifyBlocksAvx512(const unsigned char* bytes, std::size_t base, std::size_t size,
                     BlockClasses* blocks, std::size_t count) {
    const auto blank = _mm512_set1_epi8(' '), quote = _mm512_set1_epi8('"'),
               apostrophe = _mm512_set1_epi8('\''), comma = _mm512_set1_epi8(','),
               tab = _mm512_set1_epi8('\t'), at = _mm512_set1_epi8('@'),
               less = _mm512_set1_epi8('<'), greater = _mm512_set1_epi8('>'),
               colon = _mm512_set1_epi8(':'), cr = _mm512_set1_epi8('\r');
    std::size_t done = 0;
    for (; done < count && size - base >= 64; ++done, base += 64) {
        const auto chunk = _mm512_loadu_si512(bytes + base);
        const auto equal = [chunk](__m512i c) __attribute__((target("avx512f,avx512bw"))) {
            return static_cast<std::uint64_t>(_mm512_cmpeq_epi8_mask(chunk, c));
        };
        auto& block = blocks[done];
        const auto eitherCut = equal(blank) | equal(quote) | equal(apostrophe);
        block.data = bytes;
        block.base = base;
        block.comma = equal(comma);
        block.tab = equal(tab);
        block.at = equal(at);
        block.leftCut = eitherCut | equal(less);
        block.rightCut = eitherCut | equal(greater);
        block.colon = equal(colon);
        block.cr = equal(cr);
    }
    if (done < count && base < size)
        blocks[done++] = ClassifyBytewise(bytes, base, size);
    return done;
}

bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw");
}

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

BlockClassifier ChooseClassifier() {
#ifdef LORVANTA_X86_VECTORS
    return HasAvx512() ? ClassifyBlocksAvx512 : HasAvx2() ? ClassifyBlocksAvx2 : ClassifyBlocksSse2;
#else
    return ClassifyBlocksBytewise;
#endif
}

const BlockClassifier kClassifier = ChooseClassifier();

} // namespace

std::size_t ClassifyBlocks(const unsigned char* bytes, std::size_t base, std::size_t size,
                           BlockClasses* blocks, std::size_t count) {
    return kClassifier(bytes, base, size, blocks, count);
}

BlockClassifiers AvailableBlockClassifiers() {
#ifdef LORVANTA_X86_VECTORS
    return {ClassifyBlocksBytewise, ClassifyBlocksSse2, HasAvx2() ? ClassifyBlocksAvx2 : nullptr,
            HasAvx512() ? ClassifyBlocksAvx512 : nullptr};
#else
    return {ClassifyBlocksBytewise, nullptr, nullptr, nullptr};
#endif
}

} // namespace lorvanta
