#include "telemetry/telemetry.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/console_log.hpp"
#include "gui/gui_link.hpp"
#include "platform/clock.hpp"
#include "radio/bytes.hpp"
#include "telemetry/layouts.hpp"

namespace {

enum class Element { u16, i16, u32, i32, u8, i8, host_double, float_lsb, float_msb };

struct ElementType {
  std::string_view name;
  size_t width;
  Element element;
};

// In the order in which a descriptor's type is compared.
constexpr std::array<ElementType, 9> element_types = {{
    {"uint16_t", 2, Element::u16},
    {"int16_t", 2, Element::i16},
    {"uint32_t", 4, Element::u32},
    {"int32_t", 4, Element::i32},
    {"uint8_t", 1, Element::u8},
    {"int8_t", 1, Element::i8},
    {"double", 8, Element::host_double},
    {"float", 4, Element::float_lsb},
    {"float_msb", 4, Element::float_msb},
}};

const ElementType* find_element_type(std::string_view name) {
  for (const ElementType& t : element_types) {
    if (t.name == name) return &t;
  }
  return nullptr;
}

// printf-style into a string of whatever length the text needs.
[[gnu::format(printf, 1, 2)]] std::string format_text(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

std::string element_text(Element element, std::span<const uint8_t> b) {
  switch (element) {
    case Element::u16:
      return format_text("%u", unsigned{load_be16(b.first<2>())});
    case Element::i16:
      return format_text("%hd", static_cast<short>(load_be16(b.first<2>())));
    case Element::u32:
      return format_text("%u", load_be32(b.first<4>()));
    case Element::i32:
      return format_text("%d", static_cast<int32_t>(load_be32(b.first<4>())));
    case Element::u8:
      return format_text("%u", unsigned{b[0]});
    case Element::i8:
      return format_text("%d", int{static_cast<int8_t>(b[0])});
    case Element::host_double: {
      double value = 0;
      std::memcpy(&value, b.data(), sizeof value);
      return format_text("%f", value);
    }
    case Element::float_lsb: {
      uint32_t bits =
          uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
      return format_text("%f", double{std::bit_cast<float>(bits)});
    }
    case Element::float_msb:
      return format_text("%f", double{std::bit_cast<float>(load_be32(b.first<4>()))});
  }
  return {};
}

// One past the last byte that `fields` read.
size_t fields_end(std::span<const FieldDescriptor> fields) {
  size_t end = 0;
  for (const FieldDescriptor& f : fields) {
    const ElementType* t = find_element_type(f.type);
    if (t != nullptr && f.count > 0) {
      end = std::max(end, f.data + t->width * static_cast<size_t>(f.count));
    }
  }
  return end;
}

struct LayoutRow {
  uint8_t tlm_sat;
  uint8_t tlm_version;
  std::span<const FieldDescriptor> fields;
  size_t copy_size;
  const char* beacon_label;
  const char* telemetry_label;
};

const LayoutRow layout_rows[] = {
    {1, 5, sat1_v5_layout, 140, "Beacon", "Telemetry"},
    {1, 6, sat1_v6_layout, 135, "Beacon", "Telemetry"},
    {1, 7, sat1_v7_layout, 140, "Beacon", "Telemetry"},
    {1, 8, sat1_v8_layout, 140, "Beacon", "Telemetry"},
    {1, 9, sat1_v9_layout, 140, "Beacon", "Telemetry"},
    {3, 1, sat3_v1_layout, 95, "Beacon", "Telemetry"},
    {3, 2, sat3_v2_layout, 97, "Beacon", "Telemetry"},
    {3, 3, sat3_v2_layout, 97, "Beacon", "Telemetry"},
    {3, 11, sat3_v11_layout, 72, "Alt. Beacon", "Alt. Telemetry"},
};

const LayoutRow* find_layout(const TelemetryWord& word) {
  for (const LayoutRow& row : layout_rows) {
    if (row.tlm_sat == word.tlm_sat && row.tlm_version == word.tlm_version) return &row;
  }
  return nullptr;
}

constexpr uint8_t beacon_type = 2;

}  // namespace

uint64_t record_time_ms(std::span<const uint8_t, 8> head) {
  return uint64_t{load_be32(head.subspan<4, 4>())} * 1000 + load_be16(head.subspan<2, 2>());
}

std::string format_utc_time_ms(uint64_t ms) {
  CalendarFields t = utc_fields(static_cast<int64_t>(ms / 1000));
  return format_text("%02d/%02d %02d:%02d:%02d.%03d", t.day, t.month, t.hour, t.minute, t.second,
                     static_cast<int>(ms % 1000));
}

void append_json_member(std::string& json, std::string_view value, const FieldDescriptor& field,
                        int32_t element) {
  json += '"';
  json += field.name;
  if (field.count >= 2) json += format_text("_%d", element);
  json += "\":\"";
  json += value;
  json += "\",";
}

std::string render_json_members(std::span<const uint8_t> record,
                                std::span<const FieldDescriptor> fields) {
  std::string json;
  for (const FieldDescriptor& f : fields) {
    const ElementType* t = find_element_type(f.type);
    if (t == nullptr) continue;
    for (int32_t i = 0; i < f.count; ++i) {
      size_t offset = static_cast<size_t>(i) * t->width;
      if (f.data > record.size() || record.size() - f.data < offset + t->width) break;
      append_json_member(json, element_text(t->element, record.subspan(f.data + offset, t->width)),
                         f, i);
    }
  }
  if (!json.empty()) json.pop_back();
  return json;
}

void send_telemetry_json(std::string_view members) {
  std::vector<uint8_t> message = {0x64, 0xC4, 0x03, '{'};
  message.insert(message.end(), members.begin(), members.end());
  message.push_back('}');
  send_to_gui(message);
}

void decode_telemetry(std::span<const uint8_t> payload, const TelemetryWord& word) {
  console_print("%d\n", word.tlm_sat);
  if (word.tlm_sat != 1 && word.tlm_sat != 3) {
    console_print("UNKNOWN SATELLITE! CANNOT UPLOAD TLM\n");
    return;
  }
  const LayoutRow* row = find_layout(word);
  if (row == nullptr) {
    if (word.tlm_sat == 3) console_log("Unknown TLM version\n");
    send_telemetry_json("");
    return;
  }

  // The record copy, zero-filled where the payload falls short, then the
  // derived UNIX value in host order. Bytes beyond the copy size are ignored.
  std::vector<uint8_t> record(row->copy_size + sizeof(double));
  std::copy_n(payload.begin(), std::min(payload.size(), row->copy_size), record.begin());
  std::span<const uint8_t, 8> head = std::span<const uint8_t>(record).first<8>();

  std::string time = format_utc_time_ms(record_time_ms(head));
  const char* label = word.tlm_type == beacon_type ? row->beacon_label : row->telemetry_label;
  console_log("%s %s\r\n", label, time.c_str());
  gui_message("Received: %s %s", label, time.c_str());
  size_t needed = fields_end(row->fields);
  if (payload.size() < needed) {
    console_log("Short telemetry record: %zu of %zu bytes, missing values shown as 0\r\n",
                payload.size(), needed);
  }

  double unix_time = load_be32(head.subspan<4, 4>()) + load_be16(head.subspan<2, 2>()) / 1000.0;
  std::memcpy(record.data() + row->copy_size, &unix_time, sizeof unix_time);

  std::vector<FieldDescriptor> table(row->fields.begin(), row->fields.end());
  table.push_back({row->copy_size, "UNIX", 1, "double"});
  send_telemetry_json(render_json_members(record, table));
}
