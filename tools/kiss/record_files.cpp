#include "kiss/record_files.hpp"

#include <algorithm>

#include "platform/files.hpp"
#include "system/kiss_io.hpp"
#include "telemetry/layouts.hpp"

namespace kestrelis {

namespace {

constexpr int max_alternative_files = 99;

// The note once: returns it with its line end the first time, "" afterwards.
std::string once(RecordFiles& files, const std::string& note) {
  if (std::find(files.reported.begin(), files.reported.end(), note) != files.reported.end()) {
    return {};
  }
  files.reported.push_back(note);
  return note + "\n";
}

std::string csv_cell(const std::string& cell) {
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

// True when `key` names a field of `layout` ("eps_vbatt", or "eps_temp_3"
// for element 3 of an array field), or the UNIX member the TNC adds.
bool layout_has_number(const TelemetryLayout& layout, std::string_view key) {
  if (key == "UNIX") return true;
  for (const FieldDescriptor& f : layout.fields) {
    for (int32_t i = 0; i < f.count; ++i) {
      if (key == telemetry_member_key(f, i)) return true;
    }
  }
  return false;
}

std::string write_csv(RecordFiles& files, const JsonObject& object, const TelemetryWord& word,
                      int64_t received_ms) {
  std::vector<std::string> header;
  std::vector<std::string> row;
  for (RecordCell& cell : record_cells(object, received_ms)) {
    header.push_back(std::move(cell.key));
    row.push_back(std::move(cell.text));
  }
  std::string header_line = csv_line(header);
  std::string header_text = header_line.substr(0, header_line.size() - 2);
  std::string layout = csv_layout_name(word);
  std::string first_path = files.csv_dir + "/" + layout + ".csv";
  for (int n = 0; n <= max_alternative_files; ++n) {
    std::string path =
        n == 0 ? first_path : files.csv_dir + "/" + layout + "_alt" + std::to_string(n) + ".csv";
    bool is_new = !file_has_content(path);
    if (!is_new && read_first_line(path) != header_text) continue;
    // Whole lines only: a row cut by a crash stays a row of its own.
    int error =
        append_whole(path, (is_new ? header_line : "") + csv_line(row), AppendKind::log_line);
    if (error != 0) {
      files.write_failed = true;
      return once(files, "CSV cannot append to " + path + ": " + append_error_text(error));
    }
    if (n == 0) return {};
    return once(files, "CSV " + first_path + " has other columns; records of " + layout +
                           " with these columns go to " + path);
  }
  files.write_failed = true;
  return once(files, "CSV no file left for records of " + layout + " with these columns");
}

}  // namespace

std::vector<RecordCell> record_cells(const JsonObject& object, int64_t received_ms) {
  const RecordInfo info = record_info(object);
  std::vector<RecordCell> own = {
      {"_received", format_iso_utc(received_ms), CellKind::string},
      {"_received_unix", format_unix_seconds(received_ms), CellKind::number}};
  const TelemetryLayout* layout = nullptr;
  if (info.word) {
    own.push_back({"_sat", std::to_string(info.word->tlm_sat), CellKind::number});
    own.push_back({"_version", std::to_string(info.word->tlm_version), CellKind::number});
    own.push_back({"_kind", record_kind(*info.word), CellKind::string});
    layout = find_layout(info.word->tlm_sat, info.word->tlm_version);
  }
  std::vector<RecordCell> cells;
  for (RecordCell& cell : own) {
    if (find_member(object, cell.key) == nullptr) cells.push_back(std::move(cell));
  }
  for (const JsonMember& m : object) {
    const bool number = is_json_number(m.value);
    if (layout == nullptr) {
      cells.push_back({m.key, m.value, number ? CellKind::number : CellKind::string});
    } else if (!layout_has_number(*layout, m.key)) {
      cells.push_back({m.key, m.value, CellKind::string});
    } else {
      cells.push_back({m.key, number ? m.value : "", number ? CellKind::number : CellKind::null});
    }
  }
  return cells;
}

std::string jsonl_line(const JsonObject& object, int64_t received_ms) {
  std::string line = "{";
  for (const RecordCell& cell : record_cells(object, received_ms)) {
    line += "\"" + cell.key + "\":";
    switch (cell.kind) {
      case CellKind::string:
        line += "\"" + cell.text + "\",";
        break;
      case CellKind::number:
        line += cell.text + ",";
        break;
      case CellKind::null:
        line += "null,";
        break;
    }
  }
  line.back() = '}';
  return line + "\n";
}

std::string csv_line(std::span<const std::string> cells) {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += ',';
    line += csv_cell(cells[i]);
  }
  return line + "\r\n";
}

std::optional<std::vector<std::string>> csv_cells(std::string_view line) {
  std::vector<std::string> cells(1);
  size_t at = 0;
  while (at < line.size()) {
    char c = line[at++];
    if (c == ',') {
      cells.emplace_back();
    } else if (c == '"' && cells.back().empty()) {
      for (;;) {
        if (at >= line.size()) return std::nullopt;
        char q = line[at++];
        if (q == '"') {
          if (at >= line.size() || line[at] != '"') break;
          ++at;
        }
        cells.back() += q;
      }
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

std::string csv_layout_name(const TelemetryWord& word) {
  return "sat" + std::to_string(word.tlm_sat) + "_v" + std::to_string(word.tlm_version);
}

std::string write_record(RecordFiles& files, const JsonObject& object, int64_t received_ms) {
  std::string notes;
  if (!files.jsonl_path.empty()) {
    int error =
        append_whole(files.jsonl_path, jsonl_line(object, received_ms), AppendKind::log_line);
    if (error != 0) {
      files.write_failed = true;
      notes += once(files,
                    "JSONL cannot append to " + files.jsonl_path + ": " + append_error_text(error));
    }
  }
  if (!files.csv_dir.empty()) {
    RecordInfo info = record_info(object);
    if (info.word) {
      notes += write_csv(files, object, *info.word, received_ms);
    } else {
      notes += once(files, "CSV records without tlm_id have no layout and are not written");
    }
  }
  return notes;
}

}  // namespace kestrelis
