#include "telemetry/layouts.hpp"

#include <algorithm>
#include <array>

namespace kestrelis {

namespace {

// Records are copied up to these lengths; version 8 is longer than its fields.
const std::array<TelemetryLayout, 9> layouts = {{
    {1, 5, sat1_v5_layout, 140, "Beacon", "Telemetry"},
    {1, 6, sat1_v6_layout, 135, "Beacon", "Telemetry"},
    {1, 7, sat1_v7_layout, 140, "Beacon", "Telemetry"},
    {1, 8, sat1_v8_layout, 140, "Beacon", "Telemetry"},
    {1, 9, sat1_v9_layout, 140, "Beacon", "Telemetry"},
    {3, 1, sat3_v1_layout, 95, "Beacon", "Telemetry"},
    {3, 2, sat3_v2_layout, 97, "Beacon", "Telemetry"},
    {3, 3, sat3_v2_layout, 97, "Beacon", "Telemetry"},
    {3, 11, sat3_v11_layout, 72, "Alt. Beacon", "Alt. Telemetry"},
}};

}  // namespace

const std::span<const TelemetryLayout> telemetry_layouts{layouts};

const TelemetryLayout* find_layout(uint8_t tlm_sat, uint8_t tlm_version) {
  for (const TelemetryLayout& layout : layouts) {
    if (layout.tlm_sat == tlm_sat && layout.tlm_version == tlm_version) return &layout;
  }
  return nullptr;
}

size_t fields_end(std::span<const FieldDescriptor> fields) {
  size_t end = 0;
  for (const FieldDescriptor& f : fields) {
    if (f.count > 0)
      end = std::max(end, f.data + field_width(f.type) * static_cast<size_t>(f.count));
  }
  return end;
}

}  // namespace kestrelis
