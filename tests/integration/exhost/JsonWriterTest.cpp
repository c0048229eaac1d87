// How exhost's JSON output writes values and member names (texts that are not UTF-8 as base64).

#include "JsonWriter.h"

#include <gtest/gtest.h>

using exhost::JsonValue;
using exhost::JsonWriter;
using platform::Variant;

namespace {

struct ValueCase {
    const char* name;
    Variant value;
    std::string json;
};

class JsonValueCases : public ::testing::TestWithParam<ValueCase> {};

TEST_P(JsonValueCases, WritesTheValueAsJson) {
    EXPECT_EQ(JsonValue(GetParam().value), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Values, JsonValueCases,
    ::testing::Values(
        // Which bytes of a text are escaped, and how, is JsonTextTest's.
        ValueCase{"EscapedText", Variant("a\"b\\c"), "\"a\\\"b\\\\c\""},
        ValueCase{"Utf8PassesUnchanged", Variant("\xC3\xA4\xE2\x82\xAC"),
                  "\"\xC3\xA4\xE2\x82\xAC\""},
        ValueCase{"True", Variant(true), "true"}, ValueCase{"False", Variant(false), "false"},
        ValueCase{"NegativeInteger", Variant(std::int64_t{-42}), "-42"},
        ValueCase{"ArrayOfTexts", Variant(Variant::TextArray{"a", "b\"c"}), "[\"a\",\"b\\\"c\"]"},
        ValueCase{"EmptyArray", Variant(Variant::TextArray{}), "[]"},
        ValueCase{"Empty", Variant(), "null"}, ValueCase{"Null", Variant::Null(), "null"},
        // Bytes that are not UTF-8 travel whole in base64.
        ValueCase{"Latin1Text", Variant("caf\xE9"), "{\"base64\":\"Y2Fm6Q==\"}"},
        ValueCase{"TruncatedSequence", Variant("\xC3"), "{\"base64\":\"ww==\"}"},
        ValueCase{"EncodedSurrogate", Variant("\xED\xA0\x80"), "{\"base64\":\"7aCA\"}"},
        ValueCase{"ArrayEntry", Variant(Variant::TextArray{"a", "\xFF"}),
                  "[\"a\",{\"base64\":\"/w==\"}]"}),
    [](const auto& info) { return std::string(info.param.name); });

// How members are separated and nested is read back by a JSON parser in ExhostIntegrationTest.
TEST(JsonWriter, NamesThatAreNotUtf8OrLookEncodedAreBase64) {
    JsonWriter json;
    json.BeginObject();
    json.Key("\xFF");
    json.Value(Variant(1));
    json.Key("base64:x");
    json.Value(Variant(2));
    json.EndObject();
    EXPECT_EQ(json.Text(), "{\"base64:/w==\":1,\"base64:YmFzZTY0Ong=\":2}");
}

} // namespace
