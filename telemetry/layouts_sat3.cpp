#include <array>

#include "telemetry/layouts.hpp"

namespace {

// Back to back, without padding.
constexpr std::array<FieldDescriptor, 35> v1 = {{
    {0, "tlm_id", 1, "uint16_t"},           {2, "unix_only_ms", 1, "uint16_t"},
    {4, "unix_s", 1, "uint32_t"},           {8, "proctime", 1, "uint16_t"},
    {10, "eps_vboost", 2, "uint16_t"},      {14, "eps_cboost", 2, "uint16_t"},
    {18, "eps_bootcause", 1, "uint8_t"},    {19, "eps_temp", 6, "int8_t"},
    {25, "eps_cursun", 1, "uint16_t"},      {27, "eps_cursys", 1, "uint16_t"},
    {29, "eps_vbatt", 1, "uint16_t"},       {31, "eps_output", 1, "uint8_t"},
    {32, "radio_temp_pa", 1, "int8_t"},     {33, "radio_tx_count", 1, "uint16_t"},
    {35, "radio_rx_count", 1, "uint16_t"},  {37, "radio_last_rssi", 1, "int16_t"},
    {39, "obc_bootcounter", 1, "uint16_t"}, {41, "radio_bootcounter", 1, "uint16_t"},
    {43, "eps_bootcounter", 1, "uint16_t"}, {45, "vessel_rx_count", 1, "uint8_t"},
    {46, "vessel_tx_count", 1, "uint8_t"},  {47, "software_status", 1, "uint8_t"},
    {48, "heater_status", 1, "uint8_t"},    {49, "obc_temp_0", 1, "int8_t"},
    {50, "obc_gyro", 3, "int16_t"},         {56, "obc_mag", 3, "int16_t"},
    {62, "pan_spt", 4, "int8_t"},           {66, "pan_css", 4, "uint16_t"},
    {74, "gps_status_flag", 1, "uint8_t"},  {75, "gps_fix_time", 1, "uint32_t"},
    {79, "gps_lat", 1, "int32_t"},          {83, "gps_lon", 1, "int32_t"},
    {87, "gps_alt", 1, "int32_t"},          {91, "kv7310_tx_cnt", 1, "uint16_t"},
    {93, "pyl7310_status", 1, "uint16_t"},
}};

constexpr auto v2 = join_fields(v1, std::array{FieldDescriptor{95, "acs_state", 1, "uint8_t"},
                                               FieldDescriptor{96, "acs_param", 1, "uint8_t"}});

constexpr std::array<FieldDescriptor, 36> v11 = {{
    {0, "tlm_id", 1, "uint16_t"},
    {2, "unix_only_ms", 1, "uint16_t"},
    {4, "unix_s", 1, "uint32_t"},
    {8, "proctime", 1, "uint16_t"},
    {10, "current_node", 1, "uint8_t"},
    {11, "software_status", 1, "uint8_t"},
    {12, "sband_uptime", 1, "uint32_t"},
    {16, "sband_tx_freq", 1, "uint32_t"},
    {20, "sband_tx_gain", 1, "int16_t"},
    {22, "sband_tx_baud", 1, "uint32_t"},
    {26, "pyl7310_ext_temp", 1, "int16_t"},
    {28, "kv7310_core_temp", 1, "int16_t"},
    {30, "kv7310_boot_count", 1, "uint16_t"},
    {32, "tlm_interval", 1, "uint8_t"},
    {33, "heat_pwm_day", 1, "uint8_t"},
    {34, "heat_pwm_night", 1, "uint8_t"},
    {35, "led_pwm", 1, "uint8_t"},
    {36, "pic_interval", 1, "uint16_t"},
    {38, "h2o_dose", 1, "uint8_t"},
    {39, "pic_resolution", 1, "uint8_t"},
    {40, "day_start", 1, "uint8_t"},
    {41, "day_end", 1, "uint8_t"},
    {42, "ir_interval", 1, "uint16_t"},
    {44, "h2o_interval", 1, "uint16_t"},
    {46, "pay_status", 1, "uint8_t"},
    {47, "hk_fcount", 1, "uint8_t"},
    {48, "cam_fcount", 1, "uint16_t"},
    {50, "pay_fcount", 1, "uint8_t"},
    {51, "ir_fcount", 1, "uint8_t"},
    {52, "altcam_fcount", 1, "uint8_t"},
    {53, "ads_fcount", 1, "uint8_t"},
    {54, "movali_fcount", 1, "uint8_t"},
    {55, "kv7310_transfers", 1, "uint8_t"},
    {56, "kv7310_ul_count", 1, "uint16_t"},
    {58, "kv7310_dl_count", 1, "uint16_t"},
    {60, "eps_curout", 6, "uint16_t"},
}};

}  // namespace

constinit const std::span<const FieldDescriptor> sat3_v1_layout{v1};
// Versions 2 and 3 share this layout.
constinit const std::span<const FieldDescriptor> sat3_v2_layout{v2};
constinit const std::span<const FieldDescriptor> sat3_v11_layout{v11};
