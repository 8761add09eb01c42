#include <array>
#include <cstddef>
#include <string_view>

#include "telemetry/layouts.hpp"

namespace {

// A leading field with its offset in the aligned record (version 5) and in
// the packed records (versions 6 to 9).
struct CommonField {
  std::string_view name;
  std::string_view type;
  int32_t count;
  size_t aligned;
  size_t packed;
};

// Version 5 pads bytes 43, 101, 106-107, 125 and 138-139.
constexpr std::array<CommonField, 36> common_fields = {{
    {"tlm_id", "uint16_t", 1, 0, 0},
    {"unix_only_ms", "uint16_t", 1, 2, 2},
    {"unix_s", "uint32_t", 1, 4, 4},
    {"proctime", "uint16_t", 1, 8, 8},
    {"eps_vboost", "uint16_t", 3, 10, 10},
    {"eps_cboost", "uint16_t", 3, 16, 16},
    {"eps_bootcause", "uint8_t", 1, 22, 22},
    {"eps_battmode", "uint8_t", 1, 23, 23},
    {"eps_temp", "int16_t", 6, 24, 24},
    {"eps_cursun", "uint16_t", 1, 36, 36},
    {"eps_cursys", "uint16_t", 1, 38, 38},
    {"eps_vbatt", "uint16_t", 1, 40, 40},
    {"eps_gpscur", "uint8_t", 1, 42, 42},
    {"eps_bootcounter", "uint16_t", 1, 44, 43},
    {"radio_temp_pa", "int16_t", 1, 46, 45},
    {"radio_tx_count", "uint32_t", 1, 48, 47},
    {"radio_rx_count", "uint32_t", 1, 52, 51},
    {"radio_last_rssi", "int16_t", 1, 56, 55},
    {"radio_bootcounter", "uint16_t", 1, 58, 57},
    {"obc_temp_0", "int16_t", 1, 60, 59},
    {"obc_temp_1", "int16_t", 1, 62, 61},
    {"obc_gyro", "int16_t", 3, 64, 63},
    {"obc_mag", "int16_t", 3, 70, 69},
    {"pan_spt", "int16_t", 6, 76, 75},
    {"pan_css", "uint16_t", 6, 88, 87},
    {"eps_output", "uint8_t", 1, 100, 99},
    {"obc_bootcounter", "uint16_t", 1, 102, 100},
    {"led_status", "uint8_t", 1, 104, 102},
    {"gps_status_flag", "uint8_t", 1, 105, 103},
    {"gps_fix_time", "uint32_t", 1, 108, 104},
    {"gps_lat", "int32_t", 1, 112, 108},
    {"gps_lon", "int32_t", 1, 116, 112},
    {"gps_alt", "int32_t", 1, 120, 116},
    {"software_status", "uint8_t", 1, 124, 120},
    {"ext_gyro", "int16_t", 3, 126, 121},
    {"ext_mag", "int16_t", 3, 132, 127},
}};

enum class Placement { aligned, packed };

constexpr std::array<FieldDescriptor, 36> place_common(Placement placement) {
  std::array<FieldDescriptor, 36> fields{};
  for (size_t i = 0; i < fields.size(); ++i) {
    const CommonField& f = common_fields[i];
    fields[i] = {placement == Placement::aligned ? f.aligned : f.packed, f.name, f.count, f.type};
  }
  return fields;
}

constexpr FieldDescriptor acs_state{133, "acs_state", 1, "uint8_t"};
constexpr FieldDescriptor acs_param{134, "acs_param", 1, "uint8_t"};

constexpr auto v5 = place_common(Placement::aligned);
constexpr auto v6 = join_fields(place_common(Placement::packed), std::array{acs_state, acs_param});
constexpr auto v7 =
    join_fields(v6, std::array{FieldDescriptor{135, "heater_status", 1, "uint8_t"},
                               FieldDescriptor{136, "rtc_time_delta", 1, "int16_t"}});
constexpr auto v9 = join_fields(v6, std::array{FieldDescriptor{135, "digi_param", 1, "uint8_t"}});

}  // namespace

constinit const std::span<const FieldDescriptor> sat1_v5_layout{v5};
constinit const std::span<const FieldDescriptor> sat1_v6_layout{v6};
constinit const std::span<const FieldDescriptor> sat1_v7_layout{v7};
// Version 8 carries the fields of version 6 in a longer record.
constinit const std::span<const FieldDescriptor> sat1_v8_layout{v6};
constinit const std::span<const FieldDescriptor> sat1_v9_layout{v9};
