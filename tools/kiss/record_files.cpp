#include "kiss/record_files.hpp"

#include <algorithm>

#include "platform/files.hpp"
#include "system/kiss_io.hpp"

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

std::string write_csv(RecordFiles& files, const JsonObject& object, const TelemetryWord& word,
                      int64_t received_ms) {
  std::vector<std::string> header = {"_received"};
  std::vector<std::string> row = {format_iso_utc(received_ms)};
  for (const JsonMember& m : object) {
    header.push_back(m.key);
    row.push_back(m.value);
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
    int error = append_to_file(path, (is_new ? header_line : "") + csv_line(row));
    if (error != 0) {
      files.write_failed = true;
      return once(files, "CSV cannot append to " + path + ": " + error_text(error));
    }
    if (n == 0) return {};
    return once(files, "CSV " + first_path + " has other columns; records of " + layout +
                           " with these columns go to " + path);
  }
  files.write_failed = true;
  return once(files, "CSV no file left for records of " + layout + " with these columns");
}

}  // namespace

std::string jsonl_line(const JsonObject& object, int64_t received_ms) {
  RecordInfo info = record_info(object);
  std::vector<JsonMember> own = {{"_received", format_iso_utc(received_ms)},
                                 {"_received_unix", format_unix_seconds(received_ms)}};
  if (info.word) {
    own.push_back({"_satellite", std::to_string(info.word->tlm_sat)});
    own.push_back({"_version", std::to_string(info.word->tlm_version)});
    own.push_back({"_kind", record_kind(*info.word)});
  }
  std::string line = "{";
  for (const JsonMember& m : own) {
    if (find_member(object, m.key) == nullptr) line += "\"" + m.key + "\":\"" + m.value + "\",";
  }
  for (const JsonMember& m : object) line += "\"" + m.key + "\":\"" + m.value + "\",";
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
    int error = append_to_file(files.jsonl_path, jsonl_line(object, received_ms));
    if (error != 0) {
      files.write_failed = true;
      notes += once(files, "JSONL cannot append to " + files.jsonl_path + ": " + error_text(error));
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
