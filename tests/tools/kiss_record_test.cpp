#include <gtest/gtest.h>

#include <vector>

#include "kiss/record.hpp"

namespace kestrelis {

namespace {

TEST(KissJsonObject, AcceptsFlatObjectsOfStringsOnly) {
  struct Case {
    const char* name;
    const char* text;
    bool accepted;
    size_t members;
  };
  const Case cases[] = {
      {"tnc form", R"({"tlm_id":"4138","UNIX":"1700000000.250000"})", true, 2},
      {"empty", "{}", true, 0},
      {"white space", " {\n \"a\" : \"1\" ,\t\"b\":\"\" }\r\n", true, 2},
      {"escapes", R"({"a":"x\"y\\z\u00e9\n"})", true, 1},
      {"number value", R"({"a":1})", false, 0},
      {"nested", R"({"a":{"b":"1"}})", false, 0},
      {"array", R"({"a":["1"]})", false, 0},
      {"trailing comma", R"({"a":"1",})", false, 0},
      {"missing colon", R"({"a" "1"})", false, 0},
      {"unclosed string", R"({"a":"1})", false, 0},
      {"unclosed object", R"({"a":"1")", false, 0},
      {"bad escape", R"({"a":"\q"})", false, 0},
      {"short unicode escape", R"({"a":"\u12"})", false, 0},
      {"raw control character", "{\"a\":\"1\t2\"}", false, 0},
      {"duplicate key", R"({"a":"1","a":"2"})", false, 0},
      {"text after the object", R"({"a":"1"}x)", false, 0},
      {"empty text", "", false, 0},
      {"not an object", R"("a")", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto object = parse_json_object(c.text);
    ASSERT_EQ(object.has_value(), c.accepted);
    if (object) {
      EXPECT_EQ(object->size(), c.members);
    }
  }
  auto object = parse_json_object(R"({"a":"x\"y"})");
  ASSERT_TRUE(object);
  EXPECT_EQ((*object)[0].value, R"(x\"y)");  // kept as it stands between the quotes
}

// The client's own files hold numbers and null as well; the TNC's records
// never do, so the strict form stays the default.
TEST(KissJsonObject, NumbersAndNullOnlyWhereAllowed) {
  const struct {
    const char* text;
    bool accepted;
  } cases[] = {
      {R"({"a":0,"b":-12,"c":0.5,"d":1e3,"e":-2.5E-7,"f":null,"g":"x"})", true},
      {R"({ "a" : 1 , "b":null })", true},
      {R"({"a":01})", false},
      {R"({"a":+1})", false},
      {R"({"a":.5})", false},
      {R"({"a":1.})", false},
      {R"({"a":1e})", false},
      {R"({"a":nan})", false},
      {R"({"a":true})", false},
      {R"({"a":1 2})", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parse_json_object(c.text, JsonValues::scalars).has_value(), c.accepted);
    EXPECT_FALSE(parse_json_object(c.text, JsonValues::strings));
  }
}

// The ordinary record is shown by KissDisplay and StationLoopback; here the
// edges of its telemetry word and time.
TEST(KissRecordInfo, TelemetryWordAndRecordTime) {
  const struct {
    const char* name;
    const char* json;
    bool word;
    const char* time;  // "" : none
  } cases[] = {
      {"milliseconds carry", R"({"tlm_id":"12313","unix_only_ms":"1500","unix_s":"0"})", true,
       "1970-01-01 00:00:01.500"},
      {"largest unix_s", R"({"unix_only_ms":"0","unix_s":"4294967295"})", false,
       "2106-02-07 06:28:15.000"},
      {"UNIX alone", R"({"UNIX":"1700000000.250000"})", false, "2023-11-14 22:13:20.250"},
      {"tlm_id too large", R"({"tlm_id":"65536"})", false, ""},
      {"tlm_id not a number", R"({"tlm_id":"-1"})", false, ""},
      {"bad UNIX", R"({"UNIX":"12.x"})", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecordInfo info = record_info(parse_json_object(c.json).value());
    EXPECT_EQ(info.word.has_value(), c.word);
    EXPECT_EQ(info.time_ms ? format_utc(*info.time_ms) : "", c.time);
  }
}

}  // namespace

}  // namespace kestrelis
