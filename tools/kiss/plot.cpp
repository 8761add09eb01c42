#include "kiss/plot.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/console_log.hpp"
#include "kiss/record.hpp"
#include "kiss/record_files.hpp"
#include "platform/files.hpp"
#include "system/child_process.hpp"
#include "system/kiss_io.hpp"

namespace kestrelis {

namespace {

const Console console;

constexpr const char* plot_usage = "usage: kestrelis-kiss plot FILE FIELD... [-o OUT.png]\n";

std::optional<double> parse_number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<int64_t> record_time(const JsonObject& record) {
  if (const std::string* unix_time = find_member(record, "UNIX")) {
    if (auto ms = parse_unix_seconds(*unix_time)) return ms;
  }
  if (auto ms = record_info(record).time_ms) return ms;
  if (const std::string* received = find_member(record, "_received_unix")) {
    return parse_unix_seconds(*received);
  }
  return std::nullopt;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// The records of the file as objects, JSON Lines or CSV; none for lines that
// are no record.
std::vector<std::optional<JsonObject>> read_records(std::string_view file_text) {
  std::vector<std::string_view> lines = split_lines(file_text);
  std::vector<std::optional<JsonObject>> records;
  if (!file_text.empty() && file_text.front() == '{') {
    for (std::string_view line : lines) {
      if (!line.empty()) records.push_back(parse_json_object(line));
    }
    return records;
  }
  if (lines.empty()) return records;
  auto header = csv_cells(lines[0]);
  for (size_t i = 1; i < lines.size(); ++i) {
    if (lines[i].empty()) continue;
    auto cells = csv_cells(lines[i]);
    if (!header || !cells || cells->size() != header->size()) {
      records.emplace_back();
      continue;
    }
    JsonObject record;
    for (size_t c = 0; c < cells->size(); ++c) record.push_back({(*header)[c], (*cells)[c]});
    records.emplace_back(std::move(record));
  }
  return records;
}

bool has_line_end(std::string_view text) { return text.find_first_of("\r\n") != text.npos; }

// A text inside single quotes for gnuplot, which doubles a quote inside. A
// line end would end the command and start one of the text's own, so it
// becomes a blank.
std::string gnuplot_quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "''";
    } else {
      quoted += c == '\n' || c == '\r' ? ' ' : c;
    }
  }
  return quoted + "'";
}

std::string default_png_path(std::string_view file) {
  size_t slash = file.rfind('/');
  size_t dot = file.rfind('.');
  if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash + 1)) {
    file = file.substr(0, dot);
  }
  return std::string(file) + ".png";
}

}  // namespace

PlotInput read_plot_input(std::string_view file_text, std::span<const std::string> fields) {
  PlotInput input;
  std::vector<bool> present(fields.size(), false);
  std::vector<bool> numeric(fields.size(), false);
  for (const auto& record : read_records(file_text)) {
    auto time_ms = record ? record_time(*record) : std::nullopt;
    if (!time_ms) {
      ++input.skipped;
      continue;
    }
    PlotRow row{*time_ms, {}};
    bool any_value = false;
    for (size_t f = 0; f < fields.size(); ++f) {
      const std::string* value = find_member(*record, fields[f]);
      row.values.push_back(value ? parse_number(*value) : std::nullopt);
      present[f] = present[f] || value != nullptr;
      numeric[f] = numeric[f] || row.values.back().has_value();
      any_value = any_value || row.values.back().has_value();
    }
    // A record without any of the fields would only stretch the time axis.
    if (any_value) input.rows.push_back(std::move(row));
  }
  for (size_t f = 0; f < fields.size() && input.error.empty(); ++f) {
    if (!present[f]) {
      input.error = "no record has the field \"" + fields[f] + "\"";
    } else if (!numeric[f]) {
      input.error = "the field \"" + fields[f] + "\" never holds a number";
    }
  }
  if (input.error.empty() && input.rows.empty()) input.error = "no records with a time";
  std::stable_sort(input.rows.begin(), input.rows.end(),
                   [](const PlotRow& a, const PlotRow& b) { return a.time_ms < b.time_ms; });
  return input;
}

std::string gnuplot_script(std::span<const PlotRow> rows, std::span<const std::string> fields,
                           const std::string& title, const std::string& png_path) {
  std::string script = "set terminal pngcairo size 1200,700 noenhanced\n";
  script += "set output " + gnuplot_quoted(png_path) + "\n";
  script += "set title " + gnuplot_quoted(title) + "\n";
  script +=
      "set xdata time\n"
      "set format x \"%d/%m\\n%H:%M:%S\"\n"
      "set xlabel 'record time (UTC)'\n"
      "set grid\n"
      "set key outside right top\n"
      "$records << EOD\n";
  for (const PlotRow& row : rows) {
    script += format_unix_seconds(row.time_ms);
    for (const auto& value : row.values) {
      std::array<char, 40> text{};
      if (value) std::snprintf(text.data(), text.size(), " %.10g", *value);
      script += value ? text.data() : " NaN";
    }
    script += "\n";
  }
  script += "EOD\nplot ";
  for (size_t f = 0; f < fields.size(); ++f) {
    if (f > 0) script += ", \\\n     ";
    script += "$records using ($1):($" + std::to_string(f + 2) + ") with linespoints title " +
              gnuplot_quoted(fields[f]);
  }
  return script + "\n";
}

int plot_command(std::span<const std::string_view> args) {
  std::string file;
  std::string png_path;
  std::vector<std::string> fields;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-o" || args[i] == "--output") {
      if (++i >= args.size()) {
        error_write(plot_usage);
        return 2;
      }
      png_path = args[i];
    } else if (args[i] == "--help" || args[i] == "-h") {
      console_text(console, plot_usage);
      return 0;
    } else if (file.empty()) {
      file = args[i];
    } else {
      fields.emplace_back(args[i]);
    }
  }
  if (file.empty() || fields.empty()) {
    error_write(plot_usage);
    return 2;
  }
  if (png_path.empty()) png_path = default_png_path(file);
  if (has_line_end(png_path)) {
    error_write("plot: the output path cannot hold a line end\n");
    return 2;
  }

  auto text = read_whole_file(file);
  if (!text) {
    error_write("plot: cannot read " + file + ": " + error_text(errno) + "\n");
    return 1;
  }
  PlotInput input = read_plot_input(*text, fields);
  if (!input.error.empty()) {
    error_write("plot: " + file + ": " + input.error + "\n");
    return 1;
  }
  // gnuplot that cannot open its output keeps drawing to standard output, so
  // a path it cannot write is refused here, with the system's one reason.
  const bool png_existed = path_exists(png_path);
  if (const int error = append_to_file(png_path, ""); error != 0) {
    error_write("plot: cannot write " + png_path + ": " + error_text(error) + "\n");
    return 1;
  }
  ProgramRun run = run_program({"gnuplot"}, gnuplot_script(input.rows, fields, file, png_path));
  if (!png_existed && !file_has_content(png_path)) remove_tree(png_path);
  if (!run.started) {
    error_write(run.error == ENOENT
                    ? std::string("plot: gnuplot is not installed (Debian package gnuplot-nox)\n")
                    : "plot: cannot run gnuplot: " + error_text(run.error) + "\n");
    return 1;
  }
  if (run.exit_status != 0 || !file_has_content(png_path)) {
    error_write("plot: gnuplot did not write " + png_path + "\n");
    return 1;
  }
  console_print(console, "PLOT %s: %zu records", png_path.c_str(), input.rows.size());
  if (input.skipped > 0)
    console_print(console, ", %zu lines without a record or time skipped", input.skipped);
  console_text(console, "\n");
  return 0;
}

}  // namespace kestrelis
