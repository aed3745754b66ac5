#include "base/json_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace quillwave {
namespace {

TEST(JsonWriterTest, CommasStandBetweenMembersAndElementsAtEveryDepth) {
  JsonWriter json;
  json.BeginObject().Integer("a", 1).BeginArray("b").EndArray().BeginArray("c");
  json.BeginObject().EndObject().BeginArray().Boolean(true).Raw("null").EndArray().String("x").Integer(-2);
  json.EndArray().BeginObject("d").Boolean("e", false).EndObject().Raw("f", "1.50").EndObject();
  EXPECT_EQ(json.text(), R"({"a":1,"b":[],"c":[{},[true,null],"x",-2],"d":{"e":false},"f":1.50})");
}

TEST(JsonWriterTest, KeysAndValuesAreEscapedAlikeAndRawIsNot) {
  JsonWriter json;
  json.BeginObject().String("k\"\n", "v\\\x01\xC3").Raw("\x7f", "[\"\n\"]").EndObject();
  EXPECT_EQ(json.Take(), "{\"k\\\"\\n\":\"v\\\\\\u0001\\ufffd\",\"\x7f\":[\"\n\"]}");
}

TEST(JsonWriterTest, KeepsInvalidBytesWhenAskedAndWritesIntegersWhole) {
  JsonWriter json(InvalidUtf8::kKeep);
  json.BeginArray().String("\xFF\xE2\x82\xAC").Integer(std::numeric_limits<std::int64_t>::min());
  json.Integer(std::numeric_limits<std::int64_t>::max()).Integer(0).EndArray();
  EXPECT_EQ(json.text(), "[\"\xFF\xE2\x82\xAC\",-9223372036854775808,9223372036854775807,0]");
}

}  // namespace
}  // namespace quillwave
