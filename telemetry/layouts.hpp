#pragma once
// The record layouts of the known satellites: constant lists of fields in
// rendering order, each `data` being the field's byte offset in the record.
// The decoder appends the derived UNIX member itself.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "telemetry/telemetry.hpp"

namespace kestrelis {

// Satellite 1: version 5 aligns every field to its element width; versions
// 6 to 9 pack the same 36 leading fields and add a few at the end.
extern const std::span<const FieldDescriptor> sat1_v5_layout;
extern const std::span<const FieldDescriptor> sat1_v6_layout;
extern const std::span<const FieldDescriptor> sat1_v7_layout;
extern const std::span<const FieldDescriptor> sat1_v8_layout;
extern const std::span<const FieldDescriptor> sat1_v9_layout;

// Satellite 3: version 1, versions 2 and 3 (one layout), and the alternative
// record of version 11.
extern const std::span<const FieldDescriptor> sat3_v1_layout;
extern const std::span<const FieldDescriptor> sat3_v2_layout;
extern const std::span<const FieldDescriptor> sat3_v11_layout;

// One record layout a satellite sends, under its satellite and version
// numbers: the fields, the record's length (bytes beyond it are ignored), and
// how the console names its beacons and telemetry.
struct TelemetryLayout {
  uint8_t tlm_sat = 0;
  uint8_t tlm_version = 0;
  std::span<const FieldDescriptor> fields;
  size_t record_size = 0;
  const char* beacon_label = "";
  const char* telemetry_label = "";
};

// Satellite 1 versions 5 to 9, satellite 3 versions 1, 2, 3 and 11, in this order.
extern const std::span<const TelemetryLayout> telemetry_layouts;

// The layout of satellite `tlm_sat`, version `tlm_version`; null when unknown.
[[nodiscard]] const TelemetryLayout* find_layout(uint8_t tlm_sat, uint8_t tlm_version);

// One past the last byte that `fields` read.
[[nodiscard]] size_t fields_end(std::span<const FieldDescriptor> fields);

// `head` followed by `tail`, for layouts that extend another.
template <size_t N, size_t M>
constexpr std::array<FieldDescriptor, N + M> join_fields(
    const std::array<FieldDescriptor, N>& head, const std::array<FieldDescriptor, M>& tail) {
  std::array<FieldDescriptor, N + M> fields{};
  for (size_t i = 0; i < N; ++i) fields[i] = head[i];
  for (size_t i = 0; i < M; ++i) fields[N + i] = tail[i];
  return fields;
}

}  // namespace kestrelis
