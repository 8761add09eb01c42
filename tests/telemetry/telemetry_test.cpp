#include "telemetry/telemetry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kestrelis {

namespace {

// The record layouts written out again, independently of the decoder's
// tables: "name type [count]" per field. Satellite 1 version 5 places each
// field at a multiple of its element width; every other layout packs them.
const char* const sat1_common =
    "tlm_id u16, unix_only_ms u16, unix_s u32, proctime u16, eps_vboost u16 3, eps_cboost u16 3,"
    "eps_bootcause u8, eps_battmode u8, eps_temp i16 6, eps_cursun u16, eps_cursys u16,"
    "eps_vbatt u16, eps_gpscur u8, eps_bootcounter u16, radio_temp_pa i16, radio_tx_count u32,"
    "radio_rx_count u32, radio_last_rssi i16, radio_bootcounter u16, obc_temp_0 i16,"
    "obc_temp_1 i16, obc_gyro i16 3, obc_mag i16 3, pan_spt i16 6, pan_css u16 6, eps_output u8,"
    "obc_bootcounter u16, led_status u8, gps_status_flag u8, gps_fix_time u32, gps_lat i32,"
    "gps_lon i32, gps_alt i32, software_status u8, ext_gyro i16 3, ext_mag i16 3";
const char* const sat3_v1 =
    "tlm_id u16, unix_only_ms u16, unix_s u32, proctime u16, eps_vboost u16 2, eps_cboost u16 2,"
    "eps_bootcause u8, eps_temp i8 6, eps_cursun u16, eps_cursys u16, eps_vbatt u16, eps_output u8,"
    "radio_temp_pa i8, radio_tx_count u16, radio_rx_count u16, radio_last_rssi i16,"
    "obc_bootcounter u16, radio_bootcounter u16, eps_bootcounter u16, vessel_rx_count u8,"
    "vessel_tx_count u8, software_status u8, heater_status u8, obc_temp_0 i8, obc_gyro i16 3,"
    "obc_mag i16 3, pan_spt i8 4, pan_css u16 4, gps_status_flag u8, gps_fix_time u32, gps_lat i32,"
    "gps_lon i32, gps_alt i32, kv7310_tx_cnt u16, pyl7310_status u16";
const char* const sat3_v11 =
    "tlm_id u16, unix_only_ms u16, unix_s u32, proctime u16, current_node u8, software_status u8,"
    "sband_uptime u32, sband_tx_freq u32, sband_tx_gain i16, sband_tx_baud u32,"
    "pyl7310_ext_temp i16, kv7310_core_temp i16, kv7310_boot_count u16, tlm_interval u8,"
    "heat_pwm_day u8, heat_pwm_night u8, led_pwm u8, pic_interval u16, h2o_dose u8,"
    "pic_resolution u8, day_start u8, day_end u8, ir_interval u16, h2o_interval u16, pay_status u8,"
    "hk_fcount u8, cam_fcount u16, pay_fcount u8, ir_fcount u8, altcam_fcount u8, ads_fcount u8,"
    "movali_fcount u8, kv7310_transfers u8, kv7310_ul_count u16, kv7310_dl_count u16,"
    "eps_curout u16 6";

struct Field {
  std::string name;
  char sign = 'u';
  size_t width = 1;  // bytes per element
  size_t count = 1;
  size_t offset = 0;
};

std::vector<Field> fields_of(const std::string& text, bool aligned = false) {
  std::vector<Field> fields;
  std::istringstream entries(text);
  size_t end = 0;
  for (std::string entry; std::getline(entries, entry, ',');) {
    std::istringstream in(entry);
    Field f;
    std::string type;
    in >> f.name >> type;
    if (!(in >> f.count)) f.count = 1;
    f.sign = type[0];
    f.width = std::stoul(type.substr(1)) / 8;
    f.offset = aligned ? (end + f.width - 1) / f.width * f.width : end;
    end = f.offset + f.count * f.width;
    fields.push_back(f);
  }
  return fields;
}

// The element of `width` bytes at `at`: big-endian, signed for 'i'.
std::string value_at(const std::vector<uint8_t>& r, size_t at, size_t width, char sign = 'u') {
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | r[at + i];
  const bool negative = sign == 'i' && (v >> (8 * width - 1)) != 0;
  return std::to_string(negative ? static_cast<int64_t>(v) - (int64_t{1} << (8 * width))
                                 : static_cast<int64_t>(v));
}

// The JSON members of `r` and their number; UNIX is formed from the head
// directly (milliseconds below 1000 here).
std::pair<std::string, int> expected_members(const std::vector<Field>& fields,
                                             const std::vector<uint8_t>& r) {
  std::string json;
  int members = 1;
  for (const Field& f : fields) {
    for (size_t i = 0; i < f.count; ++i, ++members) {
      json += "\"" + (f.count > 1 ? f.name + "_" + std::to_string(i) : f.name) + "\":\"" +
              value_at(r, f.offset + i * f.width, f.width, f.sign) + "\",";
    }
  }
  const std::string ms = std::to_string(1000 + r[2] * 256u + r[3]).substr(1);
  return {json + "\"UNIX\":\"" + value_at(r, 4, 4) + "." + ms + "000\"", members};
}

TelemetryRecord decode(const std::vector<uint8_t>& payload, uint16_t word) {
  return decode_telemetry(payload, split_telemetry_word(word));
}

TEST(Telemetry, EveryLayoutRendersEveryField) {
  struct Case {
    const char* name;
    uint16_t word;
    std::string fields;
    bool aligned;
    size_t copy_size;
    int members;
    const char* label;
  };
  const std::string v6_tail = ",acs_state u8, acs_param u8";
  const std::string sat3_v2 = std::string(sat3_v1) + ",acs_state u8, acs_param u8";
  const Case cases[] = {
      {"sat 1 v5 beacon", 0x102A, sat1_common, true, 140, 64, "Beacon"},
      {"sat 1 v6", 0x1030, sat1_common + v6_tail, false, 135, 66, "Telemetry"},
      {"sat 1 v7, unused bits set", 0xDF3F,
       sat1_common + v6_tail + ",heater_status u8, rtc_time_delta i16", false, 140, 68,
       "Telemetry"},
      {"sat 1 v8", 0x1041, sat1_common + v6_tail, false, 140, 66, "Telemetry"},
      {"sat 1 v9 beacon", 0x104A, sat1_common + v6_tail + ",digi_param u8", false, 140, 67,
       "Beacon"},
      {"sat 3 v1", 0x3008, sat3_v1, false, 95, 53, "Telemetry"},
      {"sat 3 v2 beacon", 0x3012, sat3_v2, false, 97, 55, "Beacon"},
      {"sat 3 v3", 0x301B, sat3_v2, false, 97, 55, "Telemetry"},
      {"sat 3 v11 beacon", 0x305A, sat3_v11, false, 72, 42, "Alt. Beacon"},
      {"sat 3 v11", 0x305D, sat3_v11, false, 72, 42, "Alt. Telemetry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<Field> fields = fields_of(c.fields, c.aligned);
    // Every byte distinct, so every element value is; unix_s 84281096, 772 ms.
    std::vector<uint8_t> record(c.copy_size);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i + 1);
    record[0] = static_cast<uint8_t>(c.word >> 8);
    record[1] = static_cast<uint8_t>(c.word);
    const auto [json, members] = expected_members(fields, record);
    EXPECT_EQ(members, c.members);
    std::vector<uint8_t> longer = record;  // bytes past the record change nothing
    longer.resize(215, 0xA5);
    const TelemetryRecord out = decode(longer, c.word);
    EXPECT_EQ(out.status, TelemetryStatus::decoded);
    EXPECT_EQ(out.tlm_sat, c.word >> 12 & 3);
    EXPECT_EQ(out.label, c.label);
    EXPECT_EQ(out.time, "02/09 11:24:56.772");
    EXPECT_EQ(out.members, json);

    // A short record reads as if zero-filled, and says how much it lacks.
    const Field& last = fields.back();
    const size_t fields_end = last.offset + last.count * last.width;
    for (size_t length : {size_t{0}, size_t{9}, fields_end - 1, fields_end}) {
      SCOPED_TRACE(length);
      std::vector<uint8_t> padded = record;
      std::fill(padded.begin() + static_cast<ptrdiff_t>(length), padded.end(), 0);
      const TelemetryRecord short_out =
          decode(std::vector<uint8_t>(record.begin(), record.begin() + length), c.word);
      EXPECT_EQ(short_out.members, expected_members(fields, padded).first);
      EXPECT_EQ(short_out.payload_size, length);
      EXPECT_EQ(short_out.needed_size, fields_end);
      EXPECT_EQ(short_out.short_record(), length < fields_end);
    }
  }
}

TEST(Telemetry, RendererByteOrderSignAndArrays) {
  struct Case {
    const char* name;
    FieldType type;
    int32_t count;
    std::vector<uint8_t> bytes;
    std::string members;
  };
  const Case cases[] = {
      {"i16", FieldType::i16, 1, {0xFF, 0xFF}, R"("v":"-1")"},
      {"u16", FieldType::u16, 1, {0xFF, 0xFE}, R"("v":"65534")"},
      {"i8", FieldType::i8, 1, {0x80}, R"("v":"-128")"},
      {"u8", FieldType::u8, 1, {0x80}, R"("v":"128")"},
      {"u32", FieldType::u32, 1, {0xFF, 0xFF, 0xFF, 0xFE}, R"("v":"4294967294")"},
      {"i32", FieldType::i32, 1, {0x80, 0x00, 0x00, 0x00}, R"("v":"-2147483648")"},
      {"float lsb first", FieldType::float_lsb, 1, {0x00, 0x00, 0xC0, 0xBF}, R"("v":"-1.500000")"},
      {"float msb first", FieldType::float_msb, 1, {0xBF, 0xC0, 0x00, 0x00}, R"("v":"-1.500000")"},
      {"double, little-endian host",
       FieldType::host_double,
       1,
       {0, 0, 0, 0, 0, 0, 0x04, 0x40},
       R"("v":"2.500000")"},
      {"array", FieldType::u16, 2, {0x00, 0x01, 0x00, 0x02}, R"("v_0":"1","v_1":"2")"},
      {"array cut by the record end",
       FieldType::u16,
       3,
       {0x00, 0x01, 0x00, 0x02, 0x00},
       R"("v_0":"1","v_1":"2")"},
      {"no room for one element", FieldType::u32, 1, {0x01, 0x02}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FieldDescriptor field{0, "v", c.count, c.type};
    EXPECT_EQ(render_json_members(c.bytes, std::span(&field, 1)), c.members);
  }
  const std::vector<uint8_t> message = telemetry_message(R"("a":"1")");
  EXPECT_EQ(std::string(message.begin(), message.end()), "d\xC4\x03{\"a\":\"1\"}");
}

TEST(Telemetry, TimeTextAndUnix) {
  struct Case {
    const char* name;
    std::vector<uint8_t> time;  // unix_only_ms, unix_s
    const char* text;
    const char* unix_value;
  };
  const Case cases[] = {
      {"zero", {0, 0, 0, 0, 0, 0}, "01/01 00:00:00.000", "0.000000"},
      {"1500 ms carry", {0x05, 0xDC, 0, 0, 0, 0}, "01/01 00:00:01.500", "1.500000"},
      {"all 32 bits", {0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, "07/02 06:28:15.000", "4294967295.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> record = {0x30, 0x5A};  // satellite 3, version 11, beacon
    record.insert(record.end(), c.time.begin(), c.time.end());
    EXPECT_EQ(format_utc_time_ms(record_time_ms(std::span(record).first<8>())), c.text);
    record.resize(72);
    const TelemetryRecord out = decode(record, 0x305A);
    EXPECT_EQ(out.time, c.text);
    EXPECT_TRUE(out.members.ends_with(std::string("\"UNIX\":\"") + c.unix_value + "\""))
        << out.members;
  }
}

TEST(Telemetry, UnknownSatelliteAndVersion) {
  // Satellites 2 and 0; satellite 1 versions 4 and 10, satellite 3 version 12.
  const uint16_t words[] = {0x2028, 0x0008, 0x1022, 0x1050, 0x3062};
  for (uint16_t word : words) {
    SCOPED_TRACE(word);
    const TelemetryRecord out = decode(std::vector<uint8_t>(140, 0x11), word);
    const bool known_satellite = (word >> 12) == 1 || (word >> 12) == 3;
    EXPECT_EQ(out.status, known_satellite ? TelemetryStatus::unknown_version
                                          : TelemetryStatus::unknown_satellite);
    EXPECT_EQ(out.tlm_sat, word >> 12);
    EXPECT_EQ(out.members, "");
  }
}

}  // namespace

}  // namespace kestrelis
