#include <array>
#include <cstddef>
#include <string_view>

#include "telemetry/layouts.hpp"

namespace kestrelis {

namespace {

// A leading field with its offset in the aligned record (version 5) and in
// the packed records (versions 6 to 9).
struct CommonField {
  std::string_view name;
  FieldType type;
  int32_t count;
  size_t aligned;
  size_t packed;
};

// Version 5 pads bytes 43, 101, 106-107, 125 and 138-139.
constexpr std::array<CommonField, 36> common_fields = {{
    {"tlm_id", FieldType::u16, 1, 0, 0},
    {"unix_only_ms", FieldType::u16, 1, 2, 2},
    {"unix_s", FieldType::u32, 1, 4, 4},
    {"proctime", FieldType::u16, 1, 8, 8},
    {"eps_vboost", FieldType::u16, 3, 10, 10},
    {"eps_cboost", FieldType::u16, 3, 16, 16},
    {"eps_bootcause", FieldType::u8, 1, 22, 22},
    {"eps_battmode", FieldType::u8, 1, 23, 23},
    {"eps_temp", FieldType::i16, 6, 24, 24},
    {"eps_cursun", FieldType::u16, 1, 36, 36},
    {"eps_cursys", FieldType::u16, 1, 38, 38},
    {"eps_vbatt", FieldType::u16, 1, 40, 40},
    {"eps_gpscur", FieldType::u8, 1, 42, 42},
    {"eps_bootcounter", FieldType::u16, 1, 44, 43},
    {"radio_temp_pa", FieldType::i16, 1, 46, 45},
    {"radio_tx_count", FieldType::u32, 1, 48, 47},
    {"radio_rx_count", FieldType::u32, 1, 52, 51},
    {"radio_last_rssi", FieldType::i16, 1, 56, 55},
    {"radio_bootcounter", FieldType::u16, 1, 58, 57},
    {"obc_temp_0", FieldType::i16, 1, 60, 59},
    {"obc_temp_1", FieldType::i16, 1, 62, 61},
    {"obc_gyro", FieldType::i16, 3, 64, 63},
    {"obc_mag", FieldType::i16, 3, 70, 69},
    {"pan_spt", FieldType::i16, 6, 76, 75},
    {"pan_css", FieldType::u16, 6, 88, 87},
    {"eps_output", FieldType::u8, 1, 100, 99},
    {"obc_bootcounter", FieldType::u16, 1, 102, 100},
    {"led_status", FieldType::u8, 1, 104, 102},
    {"gps_status_flag", FieldType::u8, 1, 105, 103},
    {"gps_fix_time", FieldType::u32, 1, 108, 104},
    {"gps_lat", FieldType::i32, 1, 112, 108},
    {"gps_lon", FieldType::i32, 1, 116, 112},
    {"gps_alt", FieldType::i32, 1, 120, 116},
    {"software_status", FieldType::u8, 1, 124, 120},
    {"ext_gyro", FieldType::i16, 3, 126, 121},
    {"ext_mag", FieldType::i16, 3, 132, 127},
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

constexpr FieldDescriptor acs_state{133, "acs_state", 1, FieldType::u8};
constexpr FieldDescriptor acs_param{134, "acs_param", 1, FieldType::u8};

constexpr auto v5 = place_common(Placement::aligned);
constexpr auto v6 = join_fields(place_common(Placement::packed), std::array{acs_state, acs_param});
constexpr auto v7 =
    join_fields(v6, std::array{FieldDescriptor{135, "heater_status", 1, FieldType::u8},
                               FieldDescriptor{136, "rtc_time_delta", 1, FieldType::i16}});
constexpr auto v9 =
    join_fields(v6, std::array{FieldDescriptor{135, "digi_param", 1, FieldType::u8}});

}  // namespace

constinit const std::span<const FieldDescriptor> sat1_v5_layout{v5};
constinit const std::span<const FieldDescriptor> sat1_v6_layout{v6};
constinit const std::span<const FieldDescriptor> sat1_v7_layout{v7};
// Version 8 carries the fields of version 6 in a longer record.
constinit const std::span<const FieldDescriptor> sat1_v8_layout{v6};
constinit const std::span<const FieldDescriptor> sat1_v9_layout{v9};

}  // namespace kestrelis
