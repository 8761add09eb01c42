#include "sim/telemetry_model.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <string>

#include "sim/bit_stream.hpp"

namespace kestrelis {

namespace {

constexpr double pi = std::numbers::pi;
constexpr double orbit_s = 5580;  // 93 minutes at about 520 km
constexpr double spin_s = 120;    // the satellite turns slowly about one axis
constexpr double sidereal_day_s = 86164;
constexpr double inclination = 97.4 * pi / 180;  // sun-synchronous

// The state of the orbit and the record at one moment.
struct Moment {
  const Housekeeping* hk = nullptr;
  int64_t unix_ms = 0;
  uint16_t tlm_id = 0;
  double t = 0;      // seconds since the reference moment
  double angle = 0;  // orbit angle, 0 at the ascending node
  double sun = 0;    // 1 in sunlight, 0 in eclipse
};

int64_t rounded(double x) { return static_cast<int64_t>(std::llround(x)); }

// Light on side panel `i` (0-3 around the spin axis, 4 and 5 on the ends).
double panel_light(const Moment& m, int i) {
  if (i >= 4) return m.sun * (i == 4 ? 0.35 : 0.05);
  return m.sun * std::max(0.0, std::cos(2 * pi * m.t / spin_s - i * pi / 2));
}

// A small variation in -spread ... spread, fixed for one record, field and element.
int64_t jitter(const Moment& m, std::string_view name, int element, int spread) {
  SimRandom r{m.hk->seed ^ (uint64_t{m.hk->records_sent} << 32) ^
              std::hash<std::string_view>{}(name) ^ static_cast<uint64_t>(element) << 20};
  return static_cast<int64_t>(random_below(r, static_cast<uint32_t>(2 * spread + 1))) - spread;
}

// A temperature in degrees Celsius that follows the sunlight with a lag.
int64_t temperature(const Moment& m, double mean, double swing) {
  return rounded(mean + swing * std::sin(m.angle - 1.0));
}

int64_t vbatt(const Moment& m) {
  return rounded(7450 + 280 * std::sin(m.angle - 0.6) + 25 * std::sin(m.t / 1800));
}

int64_t seconds(const Moment& m) { return static_cast<int64_t>(m.t); }

using ValueOf = int64_t (*)(const Moment& m, int element);

struct FieldRule {
  std::string_view name;
  ValueOf value;
};

// Every field name of every layout, with the value it reports.
const FieldRule field_rules[] = {
    {"tlm_id", [](const Moment& m, int) -> int64_t { return m.tlm_id; }},
    {"unix_only_ms", [](const Moment& m, int) -> int64_t { return m.unix_ms % 1000; }},
    {"unix_s", [](const Moment& m, int) -> int64_t { return m.unix_ms / 1000; }},
    {"proctime", [](const Moment& m, int) { return 38 + jitter(m, "proctime", 0, 9); }},
    {"eps_vboost",
     [](const Moment& m, int i) {
       return rounded(panel_light(m, i) > 0.02 ? 4300 + 700 * panel_light(m, i) : 40) +
              jitter(m, "eps_vboost", i, 6);
     }},
    {"eps_cboost", [](const Moment& m, int i) { return rounded(260 * panel_light(m, i)); }},
    {"eps_bootcause", [](const Moment&, int) -> int64_t { return 1; }},
    {"eps_battmode", [](const Moment& m, int) -> int64_t { return vbatt(m) < 7000 ? 2 : 3; }},
    {"eps_temp", [](const Moment& m,
                    int i) { return temperature(m, 14 + i, 7) + jitter(m, "eps_temp", i, 1); }},
    {"eps_cursun",
     [](const Moment& m, int) {
       return rounded(260 * (panel_light(m, 0) + panel_light(m, 1) + panel_light(m, 2)));
     }},
    {"eps_cursys",
     [](const Moment& m, int) -> int64_t { return 310 + jitter(m, "eps_cursys", 0, 25); }},
    {"eps_vbatt", [](const Moment& m, int) { return vbatt(m) + jitter(m, "eps_vbatt", 0, 4); }},
    {"eps_gpscur", [](const Moment& m, int) -> int64_t { return 42 + jitter(m, "gps", 0, 3); }},
    {"eps_bootcounter", [](const Moment&, int) -> int64_t { return 17; }},
    {"radio_temp_pa", [](const Moment& m, int) { return temperature(m, 27, 5); }},
    {"radio_tx_count",
     [](const Moment& m, int) -> int64_t { return 18230 + int64_t{m.hk->records_sent}; }},
    {"radio_rx_count",
     [](const Moment& m, int) -> int64_t { return 3114 + int64_t{m.hk->uplink_frames}; }},
    {"radio_last_rssi",
     [](const Moment& m, int) -> int64_t { return -104 + jitter(m, "rssi", 0, 5); }},
    {"radio_bootcounter", [](const Moment&, int) -> int64_t { return 23; }},
    {"obc_temp_0", [](const Moment& m, int) { return temperature(m, 19, 4); }},
    {"obc_temp_1", [](const Moment& m, int) { return temperature(m, 21, 4); }},
    {"obc_gyro",
     [](const Moment& m, int i) {
       return rounded(i == 2 ? 3000 : 40 * std::sin(m.t / 50 + i)) + jitter(m, "gyro", i, 3);
     }},
    {"obc_mag",
     [](const Moment& m, int i) { return rounded(420 * std::sin(2 * m.angle + 2.1 * i)); }},
    {"pan_spt", [](const Moment& m, int i) { return rounded(-15 + 55 * panel_light(m, i)); }},
    {"pan_css", [](const Moment& m, int i) { return rounded(950 * panel_light(m, i)); }},
    {"eps_output", [](const Moment&, int) -> int64_t { return 0x3B; }},
    {"obc_bootcounter", [](const Moment&, int) -> int64_t { return 41; }},
    {"led_status", [](const Moment& m, int) -> int64_t { return m.hk->records_sent % 2; }},
    {"gps_status_flag", [](const Moment&, int) -> int64_t { return 1; }},
    {"gps_fix_time", [](const Moment& m, int) -> int64_t { return m.unix_ms / 1000 - 2; }},
    {"gps_lat",
     [](const Moment& m, int) {
       return rounded(std::asin(std::sin(inclination) * std::sin(m.angle)) * 180 / pi * 1e7);
     }},
    {"gps_lon",
     [](const Moment& m, int) {
       const double along =
           std::atan2(std::cos(inclination) * std::sin(m.angle), std::cos(m.angle));
       double lon = -30 + along * 180 / pi - 360 * m.t / sidereal_day_s;
       lon = std::fmod(std::fmod(lon + 180, 360) + 360, 360) - 180;
       return rounded(lon * 1e7);
     }},
    {"gps_alt",
     [](const Moment& m, int) { return rounded(521000 + 6000 * std::sin(m.angle + 0.4)); }},
    {"software_status", [](const Moment&, int) -> int64_t { return 0x01; }},
    {"ext_gyro",
     [](const Moment& m, int i) {
       return rounded(i == 2 ? 2950 : 35 * std::sin(m.t / 50 + i)) + jitter(m, "xgyro", i, 4);
     }},
    {"ext_mag",
     [](const Moment& m, int i) { return rounded(400 * std::sin(2 * m.angle + 2.1 * i + 0.2)); }},
    {"acs_state", [](const Moment&, int) -> int64_t { return 2; }},
    {"acs_param", [](const Moment&, int) -> int64_t { return 5; }},
    {"heater_status", [](const Moment& m, int) -> int64_t { return temperature(m, 14, 7) < 9; }},
    {"rtc_time_delta", [](const Moment& m, int) { return jitter(m, "rtc", 0, 2); }},
    {"digi_param", [](const Moment& m, int) -> int64_t { return m.hk->stored_messages; }},
    {"vessel_rx_count", [](const Moment& m, int) -> int64_t { return m.hk->uplink_frames; }},
    {"vessel_tx_count", [](const Moment& m, int) -> int64_t { return m.hk->records_sent; }},
    {"kv7310_tx_cnt", [](const Moment& m, int) -> int64_t { return 410 + m.hk->records_sent / 3; }},
    {"pyl7310_status", [](const Moment&, int) -> int64_t { return 0x0011; }},
    {"current_node", [](const Moment&, int) -> int64_t { return 1; }},
    {"sband_uptime", [](const Moment& m, int) { return 86400 + seconds(m); }},
    {"sband_tx_freq", [](const Moment&, int) -> int64_t { return 2401500000; }},
    {"sband_tx_gain", [](const Moment&, int) -> int64_t { return -6; }},
    {"sband_tx_baud", [](const Moment&, int) -> int64_t { return 115200; }},
    {"pyl7310_ext_temp", [](const Moment& m, int) { return temperature(m, 12, 9); }},
    {"kv7310_core_temp", [](const Moment& m, int) { return temperature(m, 33, 3); }},
    {"kv7310_boot_count", [](const Moment&, int) -> int64_t { return 5; }},
    {"tlm_interval", [](const Moment& m, int) -> int64_t { return m.hk->record_interval_s; }},
    {"heat_pwm_day", [](const Moment&, int) -> int64_t { return 20; }},
    {"heat_pwm_night", [](const Moment&, int) -> int64_t { return 60; }},
    {"led_pwm", [](const Moment&, int) -> int64_t { return 40; }},
    {"pic_interval", [](const Moment&, int) -> int64_t { return 600; }},
    {"h2o_dose", [](const Moment&, int) -> int64_t { return 4; }},
    {"pic_resolution", [](const Moment&, int) -> int64_t { return 2; }},
    {"day_start", [](const Moment&, int) -> int64_t { return 6; }},
    {"day_end", [](const Moment&, int) -> int64_t { return 18; }},
    {"ir_interval", [](const Moment&, int) -> int64_t { return 300; }},
    {"h2o_interval", [](const Moment&, int) -> int64_t { return 3600; }},
    {"pay_status", [](const Moment&, int) -> int64_t { return 1; }},
    {"hk_fcount", [](const Moment& m, int) -> int64_t { return m.hk->records_sent; }},
    {"cam_fcount", [](const Moment& m, int) { return 12 + seconds(m) / 600; }},
    {"pay_fcount", [](const Moment& m, int) { return 40 + seconds(m) / 120; }},
    {"ir_fcount", [](const Moment& m, int) { return 7 + seconds(m) / 300; }},
    {"altcam_fcount", [](const Moment& m, int) { return 3 + seconds(m) / 900; }},
    {"ads_fcount", [](const Moment& m, int) { return 90 + seconds(m) / 60; }},
    {"movali_fcount", [](const Moment& m, int) { return 1 + seconds(m) / 1800; }},
    {"kv7310_transfers", [](const Moment& m, int) -> int64_t { return m.hk->records_sent / 10; }},
    {"kv7310_ul_count", [](const Moment& m, int) -> int64_t { return m.hk->uplink_frames; }},
    {"kv7310_dl_count", [](const Moment& m, int) -> int64_t { return m.hk->records_sent; }},
    {"eps_curout",
     [](const Moment& m, int i) {
       constexpr std::array<int64_t, 6> base = {120, 45, 80, 0, 210, 30};
       return base[static_cast<size_t>(i % 6)] + (i == 3 ? 0 : jitter(m, "curout", i, 5));
     }},
};

int64_t value_of(const Moment& m, std::string_view name, int element) {
  for (const FieldRule& rule : field_rules) {
    if (rule.name == name) return rule.value(m, element);
  }
  return 0;
}

// Stores the low bytes of `value` big-endian, `width` bytes at `at`.
void store_element(std::span<uint8_t> at, size_t width, int64_t value) {
  const auto bits = static_cast<uint64_t>(value);
  for (size_t i = 0; i < width; ++i) at[i] = static_cast<uint8_t>(bits >> (8 * (width - 1 - i)));
}

bool integer_field(FieldType type) {
  return type != FieldType::host_double && type != FieldType::float_lsb &&
         type != FieldType::float_msb;
}

}  // namespace

std::optional<std::vector<size_t>> parse_layout_list(std::string_view text) {
  std::vector<size_t> chosen;
  if (text == "all") {
    for (size_t i = 0; i < telemetry_layouts.size(); ++i) chosen.push_back(i);
    return chosen;
  }
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
    size_t i = 0;
    while (i < telemetry_layouts.size() &&
           item != std::to_string(telemetry_layouts[i].tlm_sat) + "." +
                       std::to_string(telemetry_layouts[i].tlm_version)) {
      ++i;
    }
    if (i == telemetry_layouts.size()) return std::nullopt;
    chosen.push_back(i);
  }
  if (chosen.empty()) return std::nullopt;
  return chosen;
}

uint16_t sim_tlm_id(uint8_t sat, uint8_t version, uint8_t tlm_type) {
  constexpr unsigned flight = 1;
  constexpr unsigned software_version = 2;
  return static_cast<uint16_t>(flight << 15 | (sat & 0x3u) << 12 | software_version << 8 |
                               (version & 0x1Fu) << 3 | (tlm_type & 0x7u));
}

std::vector<uint8_t> make_record(const TelemetryLayout& layout, uint8_t tlm_type,
                                 const Housekeeping& hk, int64_t unix_ms) {
  Moment m;
  m.hk = &hk;
  m.unix_ms = unix_ms;
  m.tlm_id = sim_tlm_id(layout.tlm_sat, layout.tlm_version, tlm_type);
  m.t = static_cast<double>(unix_ms - hk.start_unix_ms) / 1000.0;
  m.angle = 2 * pi * m.t / orbit_s;
  m.sun = std::clamp(3 * (std::sin(m.angle) + 0.45), 0.0, 1.0);

  std::vector<uint8_t> record(layout.record_size);
  for (const FieldDescriptor& f : layout.fields) {
    if (!integer_field(f.type)) continue;  // floating-point fields stay zero
    const size_t width = field_width(f.type);
    for (int32_t i = 0; i < f.count; ++i) {
      const size_t at = f.data + static_cast<size_t>(i) * width;
      if (at + width > record.size()) continue;
      store_element(std::span(record).subspan(at, width), width, value_of(m, f.name, i));
    }
  }
  return record;
}

}  // namespace kestrelis
