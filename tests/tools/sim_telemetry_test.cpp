// The simulator's records, read by the TNC's own telemetry decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "radio/bytes.hpp"
#include "sim/telemetry_model.hpp"
#include "support/gui_capture.hpp"
#include "telemetry/telemetry.hpp"

namespace {

// The decimal value of member `key` in the decoder's JSON object of text values.
long long member(const std::string& json, const std::string& key) {
  const size_t at = json.find("\"" + key + "\":\"");
  return at == std::string::npos ? -999999 : std::stoll(json.substr(at + key.size() + 4));
}

TEST(SimTelemetry, ValuesMoveWithTheOrbitAndCountersGrow) {
  const SimLayout& layout = sim_layouts[parse_layout_list("1.9")->at(0)];
  Housekeeping hk;
  hk.start_unix_ms = 1'700'000'000'000;
  std::vector<long long> vbatt, lat, tx_count;
  for (int minute = 0; minute <= 93; minute += 3) {
    OutputCapture capture;
    const std::vector<uint8_t> record =
        make_record(layout, telemetry_tlm_type, hk, hk.start_unix_ms + minute * 60'000);
    decode_telemetry(record, split_telemetry_word(load_be16(std::span(record).first<2>())));
    const auto texts = capture.gui_texts();
    ASSERT_FALSE(texts.empty());
    const std::string& json = texts.back();
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
