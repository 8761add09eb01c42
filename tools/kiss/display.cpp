#include "kiss/display.hpp"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>

#include "console/console_log.hpp"
#include "wire/kiss.hpp"

namespace kestrelis {

namespace {

constexpr size_t bytes_per_dump_line = 16;
constexpr size_t field_line_width = 78;  // fits an 80-column terminal behind the indent
constexpr size_t dump_limit = 512;       // a frame of unknown kind may be long

std::span<const uint8_t> as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

PRINTF_FORMAT(2, 3) void append_format(std::string& out, const char* format, ...) {
  std::array<char, 160> text{};
  va_list args;
  va_start(args, format);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  out += text.data();
}

}  // namespace

std::string hex_dump(std::span<const uint8_t> bytes, size_t max_bytes) {
  std::string out;
  size_t shown = std::min(bytes.size(), max_bytes);
  for (size_t line = 0; line < shown; line += bytes_per_dump_line) {
    size_t n = std::min(bytes_per_dump_line, shown - line);
    append_format(out, "  %04zx ", line);
    std::string text;
    for (size_t i = 0; i < bytes_per_dump_line; ++i) {
      if (i < n) {
        uint8_t b = bytes[line + i];
        append_format(out, " %02x", b);
        text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
      } else {
        out += "   ";
      }
    }
    out += "  |" + text + "|\n";
  }
  if (shown < bytes.size()) append_format(out, "  ... %zu more bytes\n", bytes.size() - shown);
  return out;
}

std::string describe_record(const JsonObject& object) {
  if (object.empty()) return "TELEMETRY empty record (the TNC knows no layout for it)\n";
  RecordInfo info = record_info(object);
  std::string out = "TELEMETRY ";
  if (info.word) {
    append_format(out, "sat=%u v=%u %s", info.word->tlm_sat, info.word->tlm_version,
                  record_kind(*info.word));
  } else {
    out += "sat=? v=? record";
  }
  out += info.time_ms ? ", " + format_utc(*info.time_ms) + " UTC" : ", time unknown";
  append_format(out, ", %zu field%s\n", object.size(), object.size() == 1 ? "" : "s");

  std::vector<std::string> cells;
  size_t width = 2;  // a cell and the two spaces after it
  for (const JsonMember& m : object) {
    cells.push_back(printable_text(as_bytes(m.key)) + "=" + printable_text(as_bytes(m.value)));
    width = std::max(width, cells.back().size() + 2);
  }
  size_t columns = std::max<size_t>(1, field_line_width / width);
  for (size_t i = 0; i < cells.size(); ++i) {
    bool last_in_line = (i + 1) % columns == 0 || i + 1 == cells.size();
    out += (i % columns == 0) ? "  " : "";
    out += cells[i];
    out += last_in_line ? std::string("\n") : std::string(width - cells[i].size(), ' ');
  }
  return out;
}

std::string describe_frame(std::span<const uint8_t> data) {
  std::string out;
  if (data.size() >= 2 && data[0] == gui_text_kind && data[1] == '[') {
    return "TEXT " + printable_text(data.subspan(1)) + "\n";
  }
  if (!data.empty() && data[0] == gui_text_kind) {
    append_format(out, "PACKET %zu bytes\n", data.size() - 1);
    return out + hex_dump(data.subspan(1), dump_limit);
  }
  if (auto text = telemetry_text(data)) {
    if (auto object = parse_json_object(*text)) return describe_record(*object);
    append_format(out, "TELEMETRY malformed record refused, %zu bytes\n", text->size());
    return out + hex_dump(as_bytes(*text), dump_limit);
  }
  if (data.empty()) return "FRAME 0 bytes\n";
  append_format(out, "FRAME %zu bytes of unknown kind 0x%02x\n", data.size(), data[0]);
  return out + hex_dump(data, dump_limit);
}

}  // namespace kestrelis
