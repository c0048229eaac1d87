// The batch switch read from the command line, and the half-to-even rounding of window layouts.

#include "setup/BatchSwitch.h"
#include "setup/Twips.h"

#include <gtest/gtest.h>

using lorvanta::setup::ArgumentText;
using lorvanta::setup::IsBatchSwitch;
using lorvanta::setup::RoundHalfEven;

TEST(BatchSwitch, RecognisesTheSwitchInAnyCase) {
    struct Case {
        std::vector<std::string> arguments;
        bool batch;
    } cases[] = {
        {{"-b"}, true},     {{"-B"}, true},       {{"/b"}, true},   {{"/B"}, true},
        {{"/batch"}, true}, {{"-bx", "y"}, true}, {{"b"}, false},   {{"-"}, false},
        {{"/x"}, false},    {{}, false},          {{"--b"}, false}, {{"x", "-b"}, false},
        {{"  -b"}, true}, // leading blanks are not part of the switch
    };
    for (const auto& c : cases) {
        const auto text = ArgumentText(c.arguments);
        EXPECT_EQ(IsBatchSwitch(text), c.batch) << "[" << text << "]";
    }
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    struct Case {
        double value;
        long long rounded;
    } cases[] = {{12.5, 12},  {37.5, 38}, {0.5, 0},   {1.5, 2},   {2.4999, 2},
                 {2.5001, 3}, {-0.5, 0},  {-1.5, -2}, {-2.5, -2}, {100, 100}};
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfEven(c.value), c.rounded) << c.value;
}
