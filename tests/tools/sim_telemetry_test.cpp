// The simulator's records, read by the TNC's own telemetry decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "radio/bytes.hpp"
#include "sim/telemetry_model.hpp"
#include "support/gui_capture.hpp"
#include "telemetry/telemetry.hpp"

namespace {

const SimLayout& layout(std::string_view name) {
  return sim_layouts[parse_layout_list(name)->at(0)];
}

// The decimal value of member `key` in a JSON object of text values.
long long member(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":\"");
  return at == std::string::npos ? -999999 : std::stoll(json.substr(at + key.size() + 4));
}

std::string decoded_json(const std::vector<uint8_t>& record, std::vector<std::string>* gui_lines) {
  OutputCapture capture;
  decode_telemetry(record, split_telemetry_word(load_be16(std::span(record).first<2>())));
  if (gui_lines != nullptr) *gui_lines = capture.gui_messages();
  const auto texts = capture.gui_texts();
  return texts.empty() ? std::string() : texts.back().substr(3);
}

TEST(SimTelemetry, EveryLayoutDecodesWithAllItsMembers) {
  const struct {
    std::string_view name;
    size_t size;
    size_t members;
    uint8_t tlm_type;
    std::string label;
  } cases[] = {
      {"1.5", 140, 64, beacon_tlm_type, "Received: Beacon 14/11 22:13:20.250"},
      {"1.6", 135, 66, telemetry_tlm_type, "Received: Telemetry 14/11 22:13:20.250"},
      {"1.7", 140, 68, beacon_tlm_type, "Received: Beacon 14/11 22:13:20.250"},
      {"1.8", 140, 66, telemetry_tlm_type, "Received: Telemetry 14/11 22:13:20.250"},
      {"1.9", 140, 67, beacon_tlm_type, "Received: Beacon 14/11 22:13:20.250"},
      {"3.1", 95, 53, telemetry_tlm_type, "Received: Telemetry 14/11 22:13:20.250"},
      {"3.2", 97, 55, beacon_tlm_type, "Received: Beacon 14/11 22:13:20.250"},
      {"3.3", 97, 55, telemetry_tlm_type, "Received: Telemetry 14/11 22:13:20.250"},
      {"3.11", 72, 42, beacon_tlm_type, "Received: Alt. Beacon 14/11 22:13:20.250"},
  };
  ASSERT_EQ(sim_layouts.size(), std::size(cases));
  Housekeeping hk;
  hk.start_unix_ms = 1'699'990'000'000;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> record =
        make_record(layout(c.name), c.tlm_type, hk, 1'700'000'000'250);
    EXPECT_EQ(record.size(), c.size);
    std::vector<std::string> lines;
    const std::string json = decoded_json(record, &lines);
    ASSERT_GE(json.size(), 2u);
    EXPECT_EQ(json.front(), '{');
    EXPECT_EQ(static_cast<size_t>(std::count(json.begin(), json.end(), ':')), c.members) << json;
    EXPECT_EQ(member(json, "unix_s"), 1'700'000'000);
    EXPECT_NE(json.find("\"UNIX\":\"1700000000.250000\"}"), std::string::npos) << json;
    ASSERT_EQ(lines.size(), 2u);  // the text message, then the data message
    EXPECT_EQ(lines.front(), c.label);
  }
}

TEST(SimTelemetry, ValuesMoveWithTheOrbitAndCountersGrow) {
  Housekeeping hk;
  hk.start_unix_ms = 1'700'000'000'000;
  std::vector<long long> vbatt, lat, tx_count;
  for (int minute = 0; minute <= 93; minute += 3) {
    const std::string json = decoded_json(
        make_record(layout("1.9"), telemetry_tlm_type, hk, hk.start_unix_ms + minute * 60'000),
        nullptr);
    vbatt.push_back(member(json, "eps_vbatt"));
    lat.push_back(member(json, "gps_lat"));
    tx_count.push_back(member(json, "radio_tx_count"));
    ++hk.records_sent;
  }
  const auto [vmin, vmax] = std::minmax_element(vbatt.begin(), vbatt.end());
  EXPECT_GE(*vmin, 6800);
  EXPECT_LE(*vmax, 8400);
  EXPECT_GT(*vmax - *vmin, 200);
  const auto [lmin, lmax] = std::minmax_element(lat.begin(), lat.end());
  EXPECT_LT(*lmin, -700'000'000);  // a polar orbit reaches beyond 70 degrees either way
  EXPECT_GT(*lmax, 700'000'000);
  EXPECT_TRUE(std::is_sorted(tx_count.begin(), tx_count.end()));
  EXPECT_EQ(tx_count.back() - tx_count.front(), static_cast<long long>(tx_count.size() - 1));
}

}  // namespace
