#include "ToJSON.h"

#include <gtest/gtest.h>
#include <json/value.h>

#include <string>
#include <vector>

namespace {

using Tarn::ToJSON;
using Tarn::ToJSONString;

TEST(ToJson, AcceptsAnyJsonValueWithBlanksAround) {
    Json::Value json;
    ASSERT_TRUE(ToJSON(" \r\n\t{\"a\": [1, 2.5, \"x\", true, null, {}]}\n ", json));
    ASSERT_TRUE(json.isObject());
    EXPECT_EQ(json["a"].size(), 6u);
    EXPECT_EQ(json["a"][1].asDouble(), 2.5);
    EXPECT_EQ(json["a"][2].asString(), "x");

    // Valid JSON that is no object is still JSON; whether it is an answer is decided later.
    ASSERT_TRUE(ToJSON("[1,2]", json));
    EXPECT_TRUE(json.isArray());
    ASSERT_TRUE(ToJSON("42", json));
    EXPECT_EQ(json.asInt(), 42);
    ASSERT_TRUE(ToJSON("\"text\"", json));
    EXPECT_EQ(json.asString(), "text");
    ASSERT_TRUE(ToJSON("null", json));
    EXPECT_TRUE(json.isNull());

    // Escapes, including a surrogate pair, become UTF-8.
    ASSERT_TRUE(ToJSON("{\"s\":\"caf\\u00e9 \\ud83d\\ude00 \\\"q\\\" \\n\"}", json));
    EXPECT_EQ(json["s"].asString(), "caf\xc3\xa9 \xf0\x9f\x98\x80 \"q\" \n");
    ASSERT_TRUE(ToJSON("{\"s\":\"raw caf\xc3\xa9\"}", json));
    EXPECT_EQ(json["s"].asString(), "raw caf\xc3\xa9");
}

TEST(ToJson, RefusesWhatIsNotOneJsonValueAndKeepsTheTarget) {
    const std::vector<std::string> texts = {
        "",
        "   \r\n",
        "{} x",
        "{}{}",
        "[1] [2]",
        "{\"a\":1} // note",
        "/* c */ {}",
        "{\"a\":1,}",
        "[1,2,]",
        "{'a':1}",
        "{a:1}",
        "{\"a\":1,\"a\":2}",
        "NaN",
        "[Infinity]",
        "{\"a\":}",
        "{\"a\" 1}",
        "[1,,2]",
        "\"unterminated",
        "{\"a\":\"x\"",
        "\xef\xbb\xbf{}",
        std::string("{}\0garbage", 10),
        std::string("{\"a\":\"x\0y\"}", 11),
        "{\"a\":\"line\nbreak\"}",
        "{\"a\":\"tab\there\"}",
        "tru",
        "01x",
        "[\"\\ud800\"]",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        Json::Value json(Json::objectValue);
        json["kept"] = "yes";
        EXPECT_FALSE(ToJSON(text, json));
        EXPECT_EQ(json["kept"].asString(), "yes");
        EXPECT_EQ(json.size(), 1u);
    }
}

TEST(ToJson, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    Json::Value json;
    const std::string shallow = std::string(100, '[') + std::string(100, ']');
    EXPECT_TRUE(ToJSON(shallow, json));
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_FALSE(ToJSON(deep, json));
    std::string deepObjects;
    for (int i = 0; i < 100000; ++i)
        deepObjects += "{\"a\":";
    deepObjects += "1" + std::string(100000, '}');
    EXPECT_FALSE(ToJSON(deepObjects, json));
    // The reader that gave up half-way through reads the next document from its start.
    ASSERT_TRUE(ToJSON(R"({"after": [1, 2]})", json));
    EXPECT_EQ(json["after"][1].asInt(), 2);
    EXPECT_FALSE(ToJSON(R"({"cut": [1, )", json));
    ASSERT_TRUE(ToJSON("[3]", json));
    EXPECT_EQ(json[0].asInt(), 3);
}

TEST(ToJsonString, CompactRawUtf8AndFifteenDigits) {
    Json::Value json(Json::objectValue);
    json["text"] = "caf\xc3\xa9 \xe2\x82\xac";
    json["tenth"] = 0.1;
    json["third"] = 1.0 / 3.0;
    json["whole"] = 20.0;
    json["count"] = 42;
    json["big"] = Json::Int64(9007199254740993LL);
    json["list"] = Json::Value(Json::arrayValue);
    json["list"].append(true);
    json["list"].append(Json::Value());
    json["quote"] = "a\"b\\c\n\x01";
    EXPECT_EQ(ToJSONString(json), "{\"big\":9007199254740993,\"count\":42,\"list\":[true,null],"
                                  "\"quote\":\"a\\\"b\\\\c\\n\\u0001\",\"tenth\":0.1,"
                                  "\"text\":\"caf\xc3\xa9 \xe2\x82\xac\",\"third\":0.333333333333333,"
                                  "\"whole\":20.0}");
    EXPECT_EQ(ToJSONString(Json::Value(Json::objectValue)), "{}");
    EXPECT_EQ(ToJSONString(Json::Value(Json::arrayValue)), "[]");
}

TEST(ToJsonString, ReadsBackToTheSameValue) {
    Json::Value json;
    ASSERT_TRUE(
        ToJSON("{\"header\":{\"eventCounter\":42,\"timestamp\":\"2026-12-08T15:39:14.123+01:00\"},"
               "\"session\":{\"lines\":[{\"priceIncl\":2.35,\"text\":\"K\xc3\xa4se\"}],\"totalAmount\":4.7}}",
               json));
    Json::Value again;
    ASSERT_TRUE(ToJSON(ToJSONString(json), again));
    EXPECT_EQ(again, json);
    EXPECT_EQ(ToJSONString(again), ToJSONString(json));
}

} // namespace
