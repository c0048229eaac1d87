// Property values of every kind surviving the trip into the database and back, and the store's
// case folding of names.

#include "platform/store/PropertyCodec.h"
#include "platform/core/Error.h"
#include "platform/store/FoldedName.h"
#include "platform/store/StoreErrors.h"
#include "testsupport/FailureOf.h"

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

// Bytes the encoder cannot have written fail as a damaged store, whatever they claim; none may
// wrap a length around or ask for more memory than the bytes hold.
TEST(PropertyCodec, DamagedBytesFailAsTheStoresError) {
    struct Case {
        const char* name;
        PropertyKind kind;
        std::string bytes;
    };
    const std::vector<Case> cases{
        {"length that wraps around", PropertyKind::TextArray, "18446744073709551595:abc"},
        {"length past the end", PropertyKind::TextArray, "1:a4:abc"},
        {"length beyond 64 bits", PropertyKind::TextArray, "99999999999999999999:a"},
        {"length not a number", PropertyKind::TextArray, "x:abc"},
        {"empty length", PropertyKind::TextArray, ":abc"},
        {"negative length", PropertyKind::TextArray, "-1:abc"},
        {"length with a sign", PropertyKind::TextArray, "+1:a"},
        {"length with blanks", PropertyKind::TextArray, " 1:a"},
        {"no colon", PropertyKind::TextArray, "1:a12"},
        {"integer not a number", PropertyKind::Integer, "twelve"},
        {"integer with trailing bytes", PropertyKind::Integer, "12x"},
        {"integer out of range", PropertyKind::Integer, "9223372036854775808"},
        {"empty integer", PropertyKind::Integer, ""},
        {"unknown kind", static_cast<PropertyKind>(77), "x"},
    };
    for (const auto& c : cases) {
        const auto failure = testsupport::FailureOf([&] { DecodeValue(c.kind, c.bytes); });
        EXPECT_EQ(failure.number, store::hr::STORE_E_DATABASE) << c.name;
        EXPECT_NE(failure.description.find("damaged"), std::string::npos) << c.name;
    }
}

TEST(FoldedName, FoldsAsciiAndOtherLetters) {
    EXPECT_EQ(FoldedName("Inbox"), FoldedName("INBOX"));
    EXPECT_EQ(FoldedName("ÄRGER"), FoldedName("ärger"));
    EXPECT_NE(FoldedName("Inbox"), FoldedName("Inbox2"));
    EXPECT_EQ(FoldedName("SystemMailbox{AB-12}"), "systemmailbox{ab-12}");
}

} // namespace
