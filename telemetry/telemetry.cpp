#include "telemetry/telemetry.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "telemetry/layouts.hpp"
#include "text/calendar.hpp"
#include "text/format.hpp"
#include "wire/bytes.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

std::string element_text(FieldType type, std::span<const uint8_t> b) {
  switch (type) {
    case FieldType::u16:
      return format_text("%u", unsigned{load_be16(b.first<2>())});
    case FieldType::i16:
      return format_text("%hd", static_cast<short>(load_be16(b.first<2>())));
    case FieldType::u32:
      return format_text("%u", load_be32(b.first<4>()));
    case FieldType::i32:
      return format_text("%d", static_cast<int32_t>(load_be32(b.first<4>())));
    case FieldType::u8:
      return format_text("%u", unsigned{b[0]});
    case FieldType::i8:
      return format_text("%d", int{static_cast<int8_t>(b[0])});
    case FieldType::host_double: {
      double value = 0;
      std::memcpy(&value, b.data(), sizeof value);
      return format_text("%f", value);
    }
    case FieldType::float_lsb: {
      uint32_t bits =
          uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
      return format_text("%f", double{std::bit_cast<float>(bits)});
    }
    case FieldType::float_msb:
      return format_text("%f", double{std::bit_cast<float>(load_be32(b.first<4>()))});
  }
  return {};
}

void append_json_member(std::string& json, std::string_view value, const FieldDescriptor& field,
                        int32_t element) {
  json += '"';
  json += telemetry_member_key(field, element);
  json += "\":\"";
  json += value;
  json += "\",";
}

}  // namespace

std::string telemetry_member_key(const FieldDescriptor& field, int32_t element) {
  std::string key(field.name);
  if (field.count >= 2) key += format_text("_%d", element);
  return key;
}

uint64_t record_time_ms(std::span<const uint8_t, 8> head) {
  return uint64_t{load_be32(head.subspan<4, 4>())} * 1000 + load_be16(head.subspan<2, 2>());
}

std::string format_utc_time_ms(uint64_t ms) {
  CalendarFields t = utc_fields(static_cast<int64_t>(ms / 1000));
  return format_text("%02d/%02d %02d:%02d:%02d.%03d", t.day, t.month, t.hour, t.minute, t.second,
                     static_cast<int>(ms % 1000));
}

std::string render_json_members(std::span<const uint8_t> record,
                                std::span<const FieldDescriptor> fields) {
  std::string json;
  for (const FieldDescriptor& f : fields) {
    const size_t width = field_width(f.type);
    for (int32_t i = 0; i < f.count; ++i) {
      size_t offset = static_cast<size_t>(i) * width;
      if (f.data > record.size() || record.size() - f.data < offset + width) break;
      append_json_member(json, element_text(f.type, record.subspan(f.data + offset, width)), f, i);
    }
  }
  if (!json.empty()) json.pop_back();
  return json;
}

std::vector<uint8_t> telemetry_message(std::string_view members) {
  std::vector<uint8_t> message(gui_telemetry_prefix.size() + members.size() + 2);
  auto at = std::copy(gui_telemetry_prefix.begin(), gui_telemetry_prefix.end(), message.begin());
  *at++ = '{';
  at = std::copy(members.begin(), members.end(), at);
  *at = '}';
  return message;
}

TelemetryRecord decode_telemetry(std::span<const uint8_t> payload, const TelemetryWord& word) {
  TelemetryRecord r;
  r.tlm_sat = word.tlm_sat;
  r.payload_size = payload.size();
  if (word.tlm_sat != 1 && word.tlm_sat != 3) return r;
  const TelemetryLayout* layout = find_layout(word.tlm_sat, word.tlm_version);
  if (layout == nullptr) {
    r.status = TelemetryStatus::unknown_version;
    return r;
  }
  r.status = TelemetryStatus::decoded;

  // The record copy, zero-filled where the payload falls short, then the
  // derived UNIX value in host order. Bytes beyond the copy size are ignored.
  const size_t copy_size = layout->record_size;
  std::vector<uint8_t> record(copy_size + sizeof(double));
  std::copy_n(payload.begin(), std::min(payload.size(), copy_size), record.begin());
  std::span<const uint8_t, 8> head = std::span<const uint8_t>(record).first<8>();

  r.time = format_utc_time_ms(record_time_ms(head));
  r.label = word.tlm_type == beacon_tlm_type ? layout->beacon_label : layout->telemetry_label;
  r.needed_size = fields_end(layout->fields);

  double unix_time = load_be32(head.subspan<4, 4>()) + load_be16(head.subspan<2, 2>()) / 1000.0;
  std::memcpy(record.data() + copy_size, &unix_time, sizeof unix_time);

  std::vector<FieldDescriptor> table(layout->fields.begin(), layout->fields.end());
  table.push_back({copy_size, "UNIX", 1, FieldType::host_double});
  r.members = render_json_members(record, table);
  return r;
}

}  // namespace kestrelis
