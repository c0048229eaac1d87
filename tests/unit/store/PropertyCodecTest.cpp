// Property values of every kind surviving the trip into the database and back, and the store's
// case folding of names.

#include "platform/store/PropertyCodec.h"
#include "platform/core/Error.h"
#include "platform/store/FoldedName.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace platform::store;

namespace {

class ValuesSurvive : public ::testing::TestWithParam<Variant> {};

TEST_P(ValuesSurvive, EncodingAndDecoding) {
    const auto encoded = EncodeValue(GetParam());
    EXPECT_EQ(DecodeValue(encoded.kind, encoded.bytes), GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ValuesSurvive,
                         ::testing::Values(Variant(""), Variant("text"), Variant(true),
                                           Variant(false), Variant(0),
                                           Variant(static_cast<std::int64_t>(-9007199254740993)),
                                           Variant::Null(), Variant(Variant::TextArray{}),
                                           Variant(Variant::TextArray{""}),
                                           Variant(Variant::TextArray{"a,b", "12:x", "", "ünï"})));

TEST(PropertyCodec, RefusesAnEmptyValue) {
    EXPECT_THROW(EncodeValue(Variant()), Error);
}

TEST(FoldedName, FoldsAsciiAndOtherLetters) {
    EXPECT_EQ(FoldedName("Inbox"), FoldedName("INBOX"));
    EXPECT_EQ(FoldedName("ÄRGER"), FoldedName("ärger"));
    EXPECT_NE(FoldedName("Inbox"), FoldedName("Inbox2"));
    EXPECT_EQ(FoldedName("SystemMailbox{AB-12}"), "systemmailbox{ab-12}");
}

} // namespace
