#include <array>

#include "telemetry/layouts.hpp"

namespace kestrelis {

namespace {

// Back to back, without padding.
constexpr std::array<FieldDescriptor, 35> v1 = {{
    {0, "tlm_id", 1, FieldType::u16},           {2, "unix_only_ms", 1, FieldType::u16},
    {4, "unix_s", 1, FieldType::u32},           {8, "proctime", 1, FieldType::u16},
    {10, "eps_vboost", 2, FieldType::u16},      {14, "eps_cboost", 2, FieldType::u16},
    {18, "eps_bootcause", 1, FieldType::u8},    {19, "eps_temp", 6, FieldType::i8},
    {25, "eps_cursun", 1, FieldType::u16},      {27, "eps_cursys", 1, FieldType::u16},
    {29, "eps_vbatt", 1, FieldType::u16},       {31, "eps_output", 1, FieldType::u8},
    {32, "radio_temp_pa", 1, FieldType::i8},    {33, "radio_tx_count", 1, FieldType::u16},
    {35, "radio_rx_count", 1, FieldType::u16},  {37, "radio_last_rssi", 1, FieldType::i16},
    {39, "obc_bootcounter", 1, FieldType::u16}, {41, "radio_bootcounter", 1, FieldType::u16},
    {43, "eps_bootcounter", 1, FieldType::u16}, {45, "vessel_rx_count", 1, FieldType::u8},
    {46, "vessel_tx_count", 1, FieldType::u8},  {47, "software_status", 1, FieldType::u8},
    {48, "heater_status", 1, FieldType::u8},    {49, "obc_temp_0", 1, FieldType::i8},
    {50, "obc_gyro", 3, FieldType::i16},        {56, "obc_mag", 3, FieldType::i16},
    {62, "pan_spt", 4, FieldType::i8},          {66, "pan_css", 4, FieldType::u16},
    {74, "gps_status_flag", 1, FieldType::u8},  {75, "gps_fix_time", 1, FieldType::u32},
    {79, "gps_lat", 1, FieldType::i32},         {83, "gps_lon", 1, FieldType::i32},
    {87, "gps_alt", 1, FieldType::i32},         {91, "kv7310_tx_cnt", 1, FieldType::u16},
    {93, "pyl7310_status", 1, FieldType::u16},
}};

constexpr auto v2 = join_fields(v1, std::array{FieldDescriptor{95, "acs_state", 1, FieldType::u8},
                                               FieldDescriptor{96, "acs_param", 1, FieldType::u8}});

constexpr std::array<FieldDescriptor, 36> v11 = {{
    {0, "tlm_id", 1, FieldType::u16},
    {2, "unix_only_ms", 1, FieldType::u16},
    {4, "unix_s", 1, FieldType::u32},
    {8, "proctime", 1, FieldType::u16},
    {10, "current_node", 1, FieldType::u8},
    {11, "software_status", 1, FieldType::u8},
    {12, "sband_uptime", 1, FieldType::u32},
    {16, "sband_tx_freq", 1, FieldType::u32},
    {20, "sband_tx_gain", 1, FieldType::i16},
    {22, "sband_tx_baud", 1, FieldType::u32},
    {26, "pyl7310_ext_temp", 1, FieldType::i16},
    {28, "kv7310_core_temp", 1, FieldType::i16},
    {30, "kv7310_boot_count", 1, FieldType::u16},
    {32, "tlm_interval", 1, FieldType::u8},
    {33, "heat_pwm_day", 1, FieldType::u8},
    {34, "heat_pwm_night", 1, FieldType::u8},
    {35, "led_pwm", 1, FieldType::u8},
    {36, "pic_interval", 1, FieldType::u16},
    {38, "h2o_dose", 1, FieldType::u8},
    {39, "pic_resolution", 1, FieldType::u8},
    {40, "day_start", 1, FieldType::u8},
    {41, "day_end", 1, FieldType::u8},
    {42, "ir_interval", 1, FieldType::u16},
    {44, "h2o_interval", 1, FieldType::u16},
    {46, "pay_status", 1, FieldType::u8},
    {47, "hk_fcount", 1, FieldType::u8},
    {48, "cam_fcount", 1, FieldType::u16},
    {50, "pay_fcount", 1, FieldType::u8},
    {51, "ir_fcount", 1, FieldType::u8},
    {52, "altcam_fcount", 1, FieldType::u8},
    {53, "ads_fcount", 1, FieldType::u8},
    {54, "movali_fcount", 1, FieldType::u8},
    {55, "kv7310_transfers", 1, FieldType::u8},
    {56, "kv7310_ul_count", 1, FieldType::u16},
    {58, "kv7310_dl_count", 1, FieldType::u16},
    {60, "eps_curout", 6, FieldType::u16},
}};

}  // namespace

constinit const std::span<const FieldDescriptor> sat3_v1_layout{v1};
// Versions 2 and 3 share this layout.
constinit const std::span<const FieldDescriptor> sat3_v2_layout{v2};
constinit const std::span<const FieldDescriptor> sat3_v11_layout{v11};

}  // namespace kestrelis
