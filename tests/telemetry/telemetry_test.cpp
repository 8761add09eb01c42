// Telemetry where the golden transcript, which renders records of every
// layout, does not reach: field types no layout there uses, records cut inside
// an element, times at their edges, and telemetry words at the edges of the
// known ones.

#include "telemetry/telemetry.hpp"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kestrelis {

namespace {

TEST(Telemetry, RendererFloatsAndCutArrays) {
  // Name, field type and element count, record bytes, the members rendered.
  const std::tuple<const char*, FieldType, int32_t, std::vector<uint8_t>, std::string> cases[] = {
      {"float lsb first", FieldType::float_lsb, 1, {0x00, 0x00, 0xC0, 0xBF}, R"("v":"-1.500000")"},
      {"float msb first", FieldType::float_msb, 1, {0xBF, 0xC0, 0x00, 0x00}, R"("v":"-1.500000")"},
      {"signed", FieldType::i16, 1, {0xFF, 0xFE}, R"("v":"-2")"},
      {"signed byte", FieldType::i8, 1, {0x80}, R"("v":"-128")"},
      {"signed 32 bits", FieldType::i32, 1, {0xFF, 0xFF, 0xFF, 0xFD}, R"("v":"-3")"},
      {"double", FieldType::host_double, 1, {0, 0, 0, 0, 0, 0, 4, 0x40}, R"("v":"2.500000")"},
      {"array of two", FieldType::u16, 2, {0x00, 0x01, 0x00, 0x02}, R"("v_0":"1","v_1":"2")"},
      {"array cut", FieldType::u16, 3, {0x00, 0x01, 0x00, 0x02, 0x00}, R"("v_0":"1","v_1":"2")"},
      {"no room for one element", FieldType::u32, 1, {0x01, 0x02}, ""},
  };
  for (const auto& [name, type, count, bytes, members] : cases) {
    const FieldDescriptor field{0, "v", count, type};
    EXPECT_EQ(render_json_members(bytes, std::span(&field, 1)), members) << name;
  }
}

TEST(Telemetry, TimeTextAndUnix) {
  // Name, record time (unix_only_ms, unix_s), time shown, UNIX member.
  const std::tuple<const char*, std::vector<uint8_t>, const char*, const char*> cases[] = {
      {"zero", {0, 0, 0, 0, 0, 0}, "01/01 00:00:00.000", "0.000000"},
      {"1500 ms carry", {0x05, 0xDC, 0, 0, 0, 0}, "01/01 00:00:01.500", "1.500000"},
      {"all 32 bits", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, "07/02 06:28:15.000", "4294967295.000000"},
  };
  for (const auto& [name, time, text, unix_value] : cases) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> record = {0x30, 0x5A};  // satellite 3, version 11, beacon
    record.insert(record.end(), time.begin(), time.end());
    record.resize(72);
    const TelemetryRecord out = decode_telemetry(record, split_telemetry_word(0x305A));
    EXPECT_EQ(out.time, text);
    EXPECT_TRUE(out.members.ends_with(std::string("\"UNIX\":\"") + unix_value + "\""))
        << out.members;
  }
}

// Satellite 0; satellite 1 versions 4 and 10; satellite 3 version 12; and satellite 1
// version 7 with every unused bit set, of type 7: not a beacon.
TEST(Telemetry, TelemetryWordsAtTheEdges) {
  using enum TelemetryStatus;
  const std::tuple<uint16_t, TelemetryStatus, std::string> cases[] = {
      {0x0008, unknown_satellite, ""}, {0x1022, unknown_version, ""},
      {0x1050, unknown_version, ""},   {0x3062, unknown_version, ""},
      {0xDF3F, decoded, "Telemetry"},
  };
  for (const auto& [word, status, label] : cases) {
    const TelemetryRecord r =
        decode_telemetry(std::vector<uint8_t>(140, 0x11), split_telemetry_word(word));
    EXPECT_EQ(std::pair(r.status, r.label), std::pair(status, label)) << word;
  }
}

}  // namespace

}  // namespace kestrelis
