#include "telemetry/telemetry.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "support/gui_capture.hpp"

namespace {

// The record layouts written out again, independently of the decoder's
// tables: "name type count offset" per field. Satellite 1 lists the offset of
// version 5 and then that of versions 6 to 9.
const char* const sat1_common =
    "tlm_id u16 1 0 0, unix_only_ms u16 1 2 2, unix_s u32 1 4 4, proctime u16 1 8 8,"
    "eps_vboost u16 3 10 10, eps_cboost u16 3 16 16, eps_bootcause u8 1 22 22,"
    "eps_battmode u8 1 23 23, eps_temp i16 6 24 24, eps_cursun u16 1 36 36,"
    "eps_cursys u16 1 38 38, eps_vbatt u16 1 40 40, eps_gpscur u8 1 42 42,"
    "eps_bootcounter u16 1 44 43, radio_temp_pa i16 1 46 45, radio_tx_count u32 1 48 47,"
    "radio_rx_count u32 1 52 51, radio_last_rssi i16 1 56 55, radio_bootcounter u16 1 58 57,"
    "obc_temp_0 i16 1 60 59, obc_temp_1 i16 1 62 61, obc_gyro i16 3 64 63, obc_mag i16 3 70 69,"
    "pan_spt i16 6 76 75, pan_css u16 6 88 87, eps_output u8 1 100 99,"
    "obc_bootcounter u16 1 102 100, led_status u8 1 104 102, gps_status_flag u8 1 105 103,"
    "gps_fix_time u32 1 108 104, gps_lat i32 1 112 108, gps_lon i32 1 116 112,"
    "gps_alt i32 1 120 116, software_status u8 1 124 120, ext_gyro i16 3 126 121,"
    "ext_mag i16 3 132 127";
const char* const sat3_v1 =
    "tlm_id u16 1 0, unix_only_ms u16 1 2, unix_s u32 1 4, proctime u16 1 8, eps_vboost u16 2 10,"
    "eps_cboost u16 2 14, eps_bootcause u8 1 18, eps_temp i8 6 19, eps_cursun u16 1 25,"
    "eps_cursys u16 1 27, eps_vbatt u16 1 29, eps_output u8 1 31, radio_temp_pa i8 1 32,"
    "radio_tx_count u16 1 33, radio_rx_count u16 1 35, radio_last_rssi i16 1 37,"
    "obc_bootcounter u16 1 39, radio_bootcounter u16 1 41, eps_bootcounter u16 1 43,"
    "vessel_rx_count u8 1 45, vessel_tx_count u8 1 46, software_status u8 1 47,"
    "heater_status u8 1 48, obc_temp_0 i8 1 49, obc_gyro i16 3 50, obc_mag i16 3 56,"
    "pan_spt i8 4 62, pan_css u16 4 66, gps_status_flag u8 1 74, gps_fix_time u32 1 75,"
    "gps_lat i32 1 79, gps_lon i32 1 83, gps_alt i32 1 87, kv7310_tx_cnt u16 1 91,"
    "pyl7310_status u16 1 93";
const char* const sat3_v11 =
    "tlm_id u16 1 0, unix_only_ms u16 1 2, unix_s u32 1 4, proctime u16 1 8,"
    "current_node u8 1 10, software_status u8 1 11, sband_uptime u32 1 12,"
    "sband_tx_freq u32 1 16, sband_tx_gain i16 1 20, sband_tx_baud u32 1 22,"
    "pyl7310_ext_temp i16 1 26, kv7310_core_temp i16 1 28, kv7310_boot_count u16 1 30,"
    "tlm_interval u8 1 32, heat_pwm_day u8 1 33, heat_pwm_night u8 1 34, led_pwm u8 1 35,"
    "pic_interval u16 1 36, h2o_dose u8 1 38, pic_resolution u8 1 39, day_start u8 1 40,"
    "day_end u8 1 41, ir_interval u16 1 42, h2o_interval u16 1 44, pay_status u8 1 46,"
    "hk_fcount u8 1 47, cam_fcount u16 1 48, pay_fcount u8 1 50, ir_fcount u8 1 51,"
    "altcam_fcount u8 1 52, ads_fcount u8 1 53, movali_fcount u8 1 54,"
    "kv7310_transfers u8 1 55, kv7310_ul_count u16 1 56, kv7310_dl_count u16 1 58,"
    "eps_curout u16 6 60";

struct Field {
  std::string name;
  std::string type;
  int count = 1;
  size_t offset = 0;
};

// Parses the fields; with `column` 1, an entry's second offset where it has one.
std::vector<Field> fields_of(const std::string& text, int column = 0) {
  std::vector<Field> fields;
  std::istringstream entries(text);
  std::string entry;
  while (std::getline(entries, entry, ',')) {
    std::istringstream in(entry);
    Field f;
    size_t packed = 0;
    in >> f.name >> f.type >> f.count >> f.offset;
    if (column == 1 && in >> packed) f.offset = packed;
    fields.push_back(f);
  }
  return fields;
}

size_t width_of(const std::string& type) { return std::stoul(type.substr(1)) / 8; }

// The element at `at` as the type code says: big-endian, signed for "i".
std::string value_at(const std::vector<uint8_t>& r, size_t at, const std::string& type) {
  size_t width = width_of(type);
  uint64_t v = 0;
  for (size_t i = 0; i < width; ++i) v = (v << 8) | r[at + i];
  if (type[0] == 'i' && (v >> (8 * width - 1)) != 0) {
    return std::to_string(static_cast<int64_t>(v) - (int64_t{1} << (8 * width)));
  }
  return std::to_string(v);
}

// The JSON members and their number; UNIX is formed from the head directly.
std::pair<std::string, int> expected_json(const std::vector<Field>& fields,
                                          const std::vector<uint8_t>& r) {
  std::string json;
  int members = 1;
  for (const Field& f : fields) {
    for (int i = 0; i < f.count; ++i, ++members) {
      std::string key = f.count > 1 ? f.name + "_" + std::to_string(i) : f.name;
      json += "\"" + key + "\":\"" + value_at(r, f.offset + i * width_of(f.type), f.type) + "\",";
    }
  }
  unsigned ms = r[2] * 256u + r[3];
  char unix_text[64];
  std::snprintf(unix_text, sizeof unix_text, "%s.%03u000", value_at(r, 4, "u32").c_str(),
                ms);  // ms below 1000 here
  return {json + "\"UNIX\":\"" + unix_text + "\"", members};
}

std::string data_message(const std::string& json) { return "d\xC4\x03{" + json + "}"; }

struct Decoded {
  std::vector<std::string> console;
  std::vector<std::string> gui;
};

Decoded decode(const std::vector<uint8_t>& payload, uint16_t word) {
  OutputCapture capture;
  decode_telemetry(payload, split_telemetry_word(word));
  return {capture.console_messages(), capture.gui_messages()};
}

TEST(TelemetryDecoder, EveryLayoutRendersEveryField) {
  struct Case {
    const char* name;
    uint16_t word;
    std::string fields;
    int column;
    size_t copy_size;
    int members;
    const char* label;
  };
  const std::string v6_tail = ",acs_state u8 1 133, acs_param u8 1 134";
  const Case cases[] = {
      {"sat 1 v5 beacon", 0x102A, sat1_common, 0, 140, 64, "Beacon"},
      {"sat 1 v6", 0x1030, sat1_common + v6_tail, 1, 135, 66, "Telemetry"},
      {"sat 1 v7, unused bits set", 0xDF3F,
       sat1_common + v6_tail + ",heater_status u8 1 135, rtc_time_delta i16 1 136", 1, 140, 68,
       "Telemetry"},
      {"sat 1 v8", 0x1041, sat1_common + v6_tail, 1, 140, 66, "Telemetry"},
      {"sat 1 v9 beacon", 0x104A, sat1_common + v6_tail + ",digi_param u8 1 135", 1, 140, 67,
       "Beacon"},
      {"sat 3 v1", 0x3008, sat3_v1, 0, 95, 53, "Telemetry"},
      {"sat 3 v2 beacon", 0x3012, std::string(sat3_v1) + ",acs_state u8 1 95, acs_param u8 1 96", 0,
       97, 55, "Beacon"},
      {"sat 3 v3", 0x301B, std::string(sat3_v1) + ",acs_state u8 1 95, acs_param u8 1 96", 0, 97,
       55, "Telemetry"},
      {"sat 3 v11 beacon", 0x305A, sat3_v11, 0, 72, 42, "Alt. Beacon"},
      {"sat 3 v11", 0x305D, sat3_v11, 0, 72, 42, "Alt. Telemetry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Field> fields = fields_of(c.fields, c.column);
    // Every byte distinct, so every element value is; unix_s 84281096, 772 ms.
    std::vector<uint8_t> record(c.copy_size);
    for (size_t i = 0; i < record.size(); ++i) record[i] = static_cast<uint8_t>(i + 1);
    record[0] = static_cast<uint8_t>(c.word >> 8);
    record[1] = static_cast<uint8_t>(c.word);
    auto [json, members] = expected_json(fields, record);
    EXPECT_EQ(members, c.members);

    Decoded out = decode(record, c.word);
    std::string time = " 02/09 11:24:56.772";
    std::vector<std::string> console = {std::to_string(c.word >> 12 & 3) + "\n",
                                        c.label + time + "\r\n"};
    EXPECT_EQ(out.console, console);
    EXPECT_EQ(out.gui,
              (std::vector<std::string>{"Received: " + (c.label + time), data_message(json)}));

    // Bytes that no field covers change nothing; neither do bytes past the copy.
    std::vector<bool> covered(c.copy_size);
    size_t fields_end = 0;
    for (const Field& f : fields) {
      fields_end = std::max(fields_end, f.offset + f.count * width_of(f.type));
      for (size_t i = f.offset; i < f.offset + f.count * width_of(f.type); ++i) covered[i] = true;
    }
    std::vector<uint8_t> changed = record;
    for (size_t i = 0; i < changed.size(); ++i) {
      if (!covered[i]) changed[i] = static_cast<uint8_t>(~changed[i]);
    }
    changed.resize(215, 0xA5);
    EXPECT_EQ(decode(changed, c.word).gui.back(), data_message(json));

    // A short record reads as if zero-filled, with a word when fields fall short.
    for (size_t length : {size_t{0}, size_t{9}, fields_end - 1, fields_end}) {
      SCOPED_TRACE(length);
      std::vector<uint8_t> padded = record;
      std::fill(padded.begin() + static_cast<ptrdiff_t>(length), padded.end(), 0);
      Decoded short_out =
          decode(std::vector<uint8_t>(record.begin(), record.begin() + length), c.word);
      EXPECT_EQ(short_out.gui.back(), data_message(expected_json(fields, padded).first));
      std::string warning = "Short telemetry record: " + std::to_string(length) + " of " +
                            std::to_string(fields_end) + " bytes, missing values shown as 0\r\n";
      EXPECT_EQ(short_out.console.back(), length < fields_end ? warning : console.back());
    }
  }
}

TEST(TelemetryRenderer, ByteOrderAndSign) {
  struct Case {
    const char* type;
    std::vector<uint8_t> bytes;
    const char* value;
  };
  const Case cases[] = {
      {"int16_t", {0xFF, 0xFF}, "-1"},
      {"uint16_t", {0xFF, 0xFF}, "65535"},
      {"int8_t", {0x80}, "-128"},
      {"uint8_t", {0x80}, "128"},
      {"uint32_t", {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"int32_t", {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
      {"int32_t", {0x80, 0x00, 0x00, 0x00}, "-2147483648"},
      {"float", {0x00, 0x00, 0xC0, 0xBF}, "-1.500000"},
      {"float_msb", {0xBF, 0xC0, 0x00, 0x00}, "-1.500000"},
      {"double", {0, 0, 0, 0, 0, 0, 0x04, 0x40}, "2.500000"},  // little-endian host
      {"uint64_t", {1, 2, 3, 4, 5, 6, 7, 8}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const FieldDescriptor field{0, "v", 1, c.type};
    std::string expected = c.value ? std::string("\"v\":\"") + c.value + "\"" : "";
    EXPECT_EQ(render_json_members(c.bytes, std::span(&field, 1)), expected);
  }
}

TEST(TelemetryRenderer, ArraysAndRecordEnd) {
  const std::vector<uint8_t> record = {1, 2, 3, 4, 5};
  const FieldDescriptor fields[] = {{0, "a", 3, "uint8_t"},    {1, "b", 1, "uint8_t"},
                                    {0, "none", 0, "uint8_t"}, {2, "c", 3, "uint16_t"},
                                    {4, "d", 1, "uint32_t"},   {size_t(-1), "e", 1, "uint8_t"}};
  EXPECT_EQ(render_json_members(record, fields),
            R"("a_0":"1","a_1":"2","a_2":"3","b":"2","c_0":"772")");
  EXPECT_EQ(render_json_members(record, {}), "");
}

TEST(TelemetryDecoder, TimeTextAndUnix) {
  struct Case {
    const char* name;
    std::vector<uint8_t> head;  // tlm_id 0x305A, unix_only_ms, unix_s
    const char* time;
    const char* unix_value;
  };
  const Case cases[] = {
      {"zero", {0x30, 0x5A, 0, 0, 0, 0, 0, 0}, "01/01 00:00:00.000", "0.000000"},
      {"1500 ms carry", {0x30, 0x5A, 0x05, 0xDC, 0, 0, 0, 0}, "01/01 00:00:01.500", "1.500000"},
      {"all 32 bits",
       {0x30, 0x5A, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
       "07/02 06:28:15.000",
       "4294967295.000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(format_utc_time_ms(record_time_ms(std::span<const uint8_t, 8>(c.head.data(), 8))),
              c.time);
    std::vector<uint8_t> record = c.head;
    record.resize(72);
    Decoded out = decode(record, 0x305A);
    ASSERT_EQ(out.gui.size(), 2u);
    EXPECT_EQ(out.gui[0], std::string("Received: Alt. Beacon ") + c.time);
    std::string tail = std::string("\"UNIX\":\"") + c.unix_value + "\"}";
    EXPECT_TRUE(out.gui[1].ends_with(tail)) << out.gui[1];
  }
}

TEST(TelemetryDecoder, UnknownSatelliteAndVersion) {
  struct Case {
    const char* name;
    uint16_t word;
    std::vector<std::string> console;
    std::vector<std::string> gui;
  };
  const std::string empty_object = data_message("");
  const Case cases[] = {
      {"satellite 2", 0x2028, {"2\n", "UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n"}, {}},
      {"satellite 0", 0x0008, {"0\n", "UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n"}, {}},
      {"satellite 1 version 4", 0x1022, {"1\n"}, {empty_object}},
      {"satellite 3 version 12", 0x3062, {"3\n", "Unknown TLM version\n"}, {empty_object}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded out = decode(std::vector<uint8_t>(140, 0x11), c.word);
    EXPECT_EQ(out.console, c.console);
    EXPECT_EQ(out.gui, c.gui);
  }
}

}  // namespace
