#include "platform/directory/FilterEscape.h"

#include <gtest/gtest.h>

using platform::directory::EscapeFilterValue;

TEST(FilterEscape, EscapesTheFilterCharactersOfRfc4515) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"alice", "alice"},
        {"*", "\\2A"},
        {"a*b", "a\\2Ab"},
        {"(x)", "\\28x\\29"},
        {"back\\slash", "back\\5Cslash"},
        {std::string("nul\0z", 5), "nul\\00z"},
        {"o'brien.smith-jones_2", "o'brien.smith-jones_2"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeFilterValue(c.in), c.out) << c.in;
}

TEST(FilterEscape, NonAsciiStaysAValidAssertionValue) {
    // Bytes outside ASCII may be left or escaped (both are valid); they must not be lost.
    const auto escaped = EscapeFilterValue("j\xC3\xB6rg");
    EXPECT_TRUE(escaped == "j\xC3\xB6rg" || escaped == "j\\C3\\B6rg") << escaped;
}
