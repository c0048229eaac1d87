// How exhost's JSON output writes values and member names (texts that are not UTF-8 as base64).

#include "JsonWriter.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

using exhost::JsonValue;
using exhost::JsonWriter;
using platform::Variant;

namespace {

TEST(JsonValue, WritesEachValueAsJson) {
    const std::vector<std::tuple<const char*, Variant, std::string>> cases = {
        // Which bytes of a text are escaped, and how, is JsonTextTest's.
        {"escaped text", Variant("a\"b\\c"), "\"a\\\"b\\\\c\""},
        {"UTF-8 unchanged", Variant("\xC3\xA4\xE2\x82\xAC"), "\"\xC3\xA4\xE2\x82\xAC\""},
        {"true", Variant(true), "true"},
        {"false", Variant(false), "false"},
        {"negative integer", Variant(std::int64_t{-42}), "-42"},
        {"array of texts", Variant(Variant::TextArray{"a", "b\"c"}), "[\"a\",\"b\\\"c\"]"},
        {"empty array", Variant(Variant::TextArray{}), "[]"},
        {"empty", Variant(), "null"},
        {"null", Variant::Null(), "null"},
        // Bytes that are not UTF-8 travel whole in base64.
        {"Latin-1 text", Variant("caf\xE9"), "{\"base64\":\"Y2Fm6Q==\"}"},
        {"truncated sequence", Variant("\xC3"), "{\"base64\":\"ww==\"}"},
        {"encoded surrogate", Variant("\xED\xA0\x80"), "{\"base64\":\"7aCA\"}"},
        {"array entry", Variant(Variant::TextArray{"a", "\xFF"}), "[\"a\",{\"base64\":\"/w==\"}]"},
    };
    for (const auto& [name, value, json] : cases)
        EXPECT_EQ(JsonValue(value), json) << name;
}

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
