#include "kiss/plot.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "archive/packet_log.hpp"
#include "console/console_log.hpp"
#include "kiss/record.hpp"
#include "platform/files.hpp"
#include "system/child_process.hpp"
#include "system/kiss_io.hpp"
#include "text/command_line.hpp"

namespace kestrelis {

namespace {

const Console console;

constexpr const char* plot_usage =
    "usage: kestrelis-kiss plot FILE FIELD... [-o OUT.png] [SELECTION]\n"
    "       kestrelis-kiss plot FILE --list [SELECTION]\n"
    "FILE: the TNC's packet log (Kestrelis/packets/YYYY-MM-DD.jsonl). SELECTION:\n"
    "  --sat N                  records of satellite N (0 ... 3)\n"
    "  --kind beacon|telemetry  records of that kind\n"
    "  --from TIME, --to TIME   records from, or up to, a UTC time such as\n"
    "                           2026-12-05T14:03Z or 2026-12-05T14:03:30Z\n"
    "  --pass N                 the Nth pass, from 1 (passes are split at gaps\n"
    "                           of more than 10 minutes; --list shows them)\n";

// Units by field name. The satellites report voltages in mV, currents in mA
// and temperatures in whole degrees Celsius.
constexpr FieldUnit field_units[] = {
    {"*temp*", "temperature", "°C"}, {"eps_v*", "voltage", "mV"}, {"eps_c*", "current", "mA"},
    {"eps_gpscur", "current", "mA"}, {"*rssi*", "signal", "dBm"},
};

constexpr int panel_height_px = 300;
// Records of one pass come seconds apart; a gap this long lies between two
// passes, and a line across it would show a course nobody received.
constexpr int64_t pass_gap_ms = 10 * 60 * 1000;
constexpr int max_time_ticks = 7;

bool glob_match(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern.front() == '*') {
    for (size_t skip = 0; skip <= name.size(); ++skip) {
      if (glob_match(pattern.substr(1), name.substr(skip))) return true;
    }
    return false;
  }
  return !name.empty() && pattern.front() == name.front() &&
         glob_match(pattern.substr(1), name.substr(1));
}

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
  if (const std::string* received = find_member(record, "_received")) {
    return parse_iso_utc(*received);
  }
  return std::nullopt;
}

bool passes(const JsonObject& record, const PlotFilter& filter) {
  if (!filter.sat && !filter.kind) return true;
  const auto word = record_info(record).word;
  return word && (!filter.sat || *filter.sat == word->tlm_sat) &&
         (!filter.kind || *filter.kind == record_kind(*word));
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

// The telemetry object of a line of the TNC's packet log, with the time the
// TNC received it first, as _received.
std::optional<JsonObject> logged_record(const LoggedPacket& packet) {
  std::optional<JsonObject> record = parse_json_object(packet.telemetry);
  if (record && find_member(*record, "_received") == nullptr) {
    record->insert(record->begin(), {"_received", packet.received});
  }
  return record;
}

struct FileRecords {
  std::vector<std::optional<JsonObject>> records;  // none for a line that is no record
  bool damaged_last_line = false;
};

// The telemetry records of the packet log; a packet with no telemetry (a
// digipeater packet) is no record. A last line that is no log line is what
// a power cut leaves of the line being written: it is taken out and reported
// apart from the other lines that are no record.
FileRecords read_records(std::string_view file_text) {
  FileRecords file;
  for (std::string_view line : split_lines(file_text)) {
    if (line.empty()) continue;
    const std::optional<LoggedPacket> packet = parse_packet_log_line(line);
    if (!packet) {
      file.records.emplace_back();
    } else if (!packet->telemetry.empty()) {
      file.records.push_back(logged_record(*packet));
    }
  }
  if (!file.records.empty() && !file.records.back()) {
    file.records.pop_back();
    file.damaged_last_line = true;
  }
  return file;
}

// Seconds since 1970 with milliseconds, as gnuplot reads times.
std::string unix_seconds(int64_t ms) { return format_text("%.3f", static_cast<double>(ms) / 1000); }

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

// The spacing of the time ticks, in seconds: the first of a few round
// intervals that gives at most max_time_ticks ticks, so that the labels
// never run into each other.
int64_t time_tick_s(int64_t span_ms) {
  constexpr int64_t steps[] = {1,     2,     5,      10,     15,      30,      60,    120,
                               300,   600,   900,    1800,   3600,    7200,    10800, 21600,
                               43200, 86400, 172800, 604800, 2592000, 31536000};
  for (int64_t step : steps) {
    if (span_ms / 1000 / step < max_time_ticks) return step;
  }
  return span_ms / 1000 / max_time_ticks + 1;
}

// "sat 1 beacon", or "all" for records of any satellite and kind.
std::string describe_filter(const PlotFilter& filter) {
  std::string text;
  if (filter.sat) text += "sat " + std::to_string(*filter.sat);
  if (filter.kind) text += (text.empty() ? "" : " ") + *filter.kind;
  return text.empty() ? "all" : text;
}

// " from 2026-12-05 14:03:00 to 2026-12-05 15:00:00 UTC", or "" without a window.
std::string describe_window(const PlotFilter& filter) {
  std::string text;
  if (filter.from_ms) text += " from " + format_utc(*filter.from_ms).substr(0, 19);
  if (filter.to_ms) text += " to " + format_utc(*filter.to_ms).substr(0, 19);
  return text.empty() ? text : text + " UTC";
}

struct TimedRecord {
  int64_t time_ms = 0;
  const JsonObject* record = nullptr;
};

// Where each pass begins in `records` (in time order): the first record, and
// every record more than pass_gap_ms after the one before it.
std::vector<size_t> pass_starts(std::span<const TimedRecord> records) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || records[i].time_ms - records[i - 1].time_ms > pass_gap_ms) starts.push_back(i);
  }
  return starts;
}

struct Selection {
  std::vector<TimedRecord> window;    // records of the filter in the time window, in time order
  std::vector<size_t> pass_starts;    // of `window`
  std::span<const TimedRecord> kept;  // the window, or the one pass asked for
  size_t of_filter = 0;               // records of the satellite and kind, with a time
  size_t skipped = 0;                 // lines that are no record, or records without a time
};

// The records of `file` that pass `filter`. Holds pointers into `file`.
Selection select_records(const FileRecords& file, const PlotFilter& filter) {
  Selection s;
  for (const auto& record : file.records) {
    if (record && !passes(*record, filter)) continue;
    const std::optional<int64_t> time_ms = record ? record_time(*record) : std::nullopt;
    if (!time_ms) {
      ++s.skipped;
      continue;
    }
    ++s.of_filter;
    if ((filter.from_ms && *time_ms < *filter.from_ms) ||
        (filter.to_ms && *time_ms > *filter.to_ms)) {
      continue;
    }
    s.window.push_back({*time_ms, &*record});
  }
  std::stable_sort(
      s.window.begin(), s.window.end(),
      [](const TimedRecord& a, const TimedRecord& b) { return a.time_ms < b.time_ms; });
  s.pass_starts = pass_starts(s.window);
  s.kept = s.window;
  if (filter.pass) {
    const auto n = static_cast<size_t>(*filter.pass);
    if (n < 1 || n > s.pass_starts.size()) {
      s.kept = {};
    } else {
      const size_t end = n < s.pass_starts.size() ? s.pass_starts[n] : s.window.size();
      s.kept = std::span(s.window).subspan(s.pass_starts[n - 1], end - s.pass_starts[n - 1]);
    }
  }
  return s;
}

// Why nothing of the file passes `filter`; "" when something does.
std::string selection_error(const Selection& s, const PlotFilter& filter) {
  const std::string of = filter.sat || filter.kind ? " of " + describe_filter(filter) : "";
  if (s.of_filter == 0 && !of.empty()) return "no record" + of + " with a time";
  if (s.window.empty() && (filter.from_ms || filter.to_ms)) {
    return "no record" + of + " with a time" + describe_window(filter);
  }
  if (filter.pass && s.kept.empty()) {
    const size_t n = s.pass_starts.size();
    return "no pass " + std::to_string(*filter.pass) + ": the records" + of +
           describe_window(filter) + " make " + std::to_string(n) + (n == 1 ? " pass" : " passes");
  }
  return {};
}

// "2026-12-05 14:03 to 14:12", the day given once when both lie on it.
std::string describe_span(int64_t first_ms, int64_t last_ms) {
  const std::string first = format_utc(first_ms).substr(0, 16);
  const std::string last = format_utc(last_ms).substr(0, 16);
  return first + " to " + (first.substr(0, 10) == last.substr(0, 10) ? last.substr(11) : last);
}

// The file's name without its folder.
std::string_view file_name(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "2026-12-05T14:03Z" or "2026-12-05T14:03:07Z", as ms since 1970.
std::optional<int64_t> parse_time_option(std::string_view text) {
  if (text.size() != 17 && text.size() != 20) return std::nullopt;
  return parse_iso_utc(text);
}

// A y range with a margin of a tenth of the values' span on each side (a
// tenth of the value itself, or 1, for a constant), so that no value lies on
// the frame; none when the panel has no value.
std::optional<std::pair<double, double>> y_range(std::span<const PlotRow> rows,
                                                 std::span<const size_t> fields) {
  std::optional<std::pair<double, double>> range;
  for (const PlotRow& row : rows) {
    for (const size_t f : fields) {
      if (!row.values[f]) continue;
      const double v = *row.values[f];
      range = range ? std::pair(std::min(range->first, v), std::max(range->second, v))
                    : std::pair(v, v);
    }
  }
  if (!range) return range;
  const double span = range->second - range->first;
  const double margin = span > 0 ? span / 10 : std::max(std::abs(range->first) / 10, 1.0);
  return std::pair(range->first - margin, range->second + margin);
}

// The one message about a damaged last line, on standard error.
void report_damage(const std::string& file, bool damaged) {
  if (damaged) {
    error_write("plot: " + file +
                ": the last line is incomplete (cut short while it was written); "
                "read up to it\n");
  }
}

}  // namespace

PlotInput read_plot_input(std::string_view file_text, std::span<const std::string> fields,
                          const PlotFilter& filter) {
  PlotInput input;
  std::vector<bool> present(fields.size(), false);
  std::vector<bool> numeric(fields.size(), false);
  const FileRecords file = read_records(file_text);
  input.damaged_last_line = file.damaged_last_line;
  const Selection selection = select_records(file, filter);
  input.skipped = selection.skipped;
  input.passes = selection.pass_starts.size();
  for (const TimedRecord& timed : selection.kept) {
    PlotRow row{timed.time_ms, {}};
    bool any_value = false;
    for (size_t f = 0; f < fields.size(); ++f) {
      const std::string* value = find_member(*timed.record, fields[f]);
      row.values.push_back(value ? parse_number(*value) : std::nullopt);
      present[f] = present[f] || value != nullptr;
      numeric[f] = numeric[f] || row.values.back().has_value();
      any_value = any_value || row.values.back().has_value();
    }
    // A record without any of the fields would only stretch the time axis.
    if (any_value) input.rows.push_back(std::move(row));
  }
  input.error = selection_error(selection, filter);
  for (size_t f = 0; f < fields.size() && input.error.empty(); ++f) {
    if (!present[f]) {
      input.error = "no record has the field \"" + fields[f] + "\"";
    } else if (!numeric[f]) {
      input.error = "the field \"" + fields[f] + "\" never holds a number";
    }
  }
  if (input.error.empty() && input.rows.empty()) input.error = "no records with a time";
  return input;
}

const FieldUnit* field_unit(std::string_view name) {
  for (const FieldUnit& u : field_units) {
    if (glob_match(u.pattern, name)) return &u;
  }
  return nullptr;
}

std::vector<PlotPanel> plot_panels(std::span<const std::string> fields) {
  std::vector<PlotPanel> panels;
  for (size_t f = 0; f < fields.size(); ++f) {
    const FieldUnit* unit = field_unit(fields[f]);
    if (unit == nullptr) {
      panels.push_back({fields[f], {f}});
      continue;
    }
    std::string label = std::string(unit->quantity) + " (" + std::string(unit->unit) + ")";
    auto same = std::find_if(panels.begin(), panels.end(),
                             [&](const PlotPanel& p) { return p.label == label; });
    if (same == panels.end()) {
      panels.push_back({label, {f}});
    } else {
      same->fields.push_back(f);
    }
  }
  return panels;
}

std::string gnuplot_script(std::span<const PlotRow> rows, std::span<const std::string> fields,
                           const std::string& title, const std::string& png_path) {
  const std::vector<PlotPanel> panels = plot_panels(fields);
  const int64_t first_ms = rows.empty() ? 0 : rows.front().time_ms;
  const int64_t last_ms = rows.empty() ? 0 : rows.back().time_ms;
  const int64_t tick_s = time_tick_s(last_ms - first_ms);
  const int height = 60 + panel_height_px * static_cast<int>(std::max<size_t>(panels.size(), 1));
  std::string script = "set terminal pngcairo size 1200," + std::to_string(height) +
                       " noenhanced font 'sans,10'\n"
                       "set encoding utf8\n"
                       "set output " +
                       gnuplot_quoted(png_path) +
                       "\n"
                       "set datafile missing 'NaN'\n"
                       "set xdata time\n"
                       "set timefmt '%s'\n";
  // The date once, in the axis label, when every row lies on one day; on
  // each tick only when the axis spans days.
  const std::string first_day = format_utc(first_ms).substr(0, 10);
  const std::string last_day = format_utc(last_ms).substr(0, 10);
  const bool one_day = first_day == last_day;
  const std::string time_of_day = std::string("%H:%M") + (tick_s < 60 ? ":%S" : "");
  const std::string tick_format = one_day           ? time_of_day
                                  : tick_s >= 86400 ? std::string("%m-%d")
                                                    : "%m-%d " + time_of_day;
  const std::string time_label =
      "time (UTC), " + (one_day ? first_day : first_day + " to " + last_day);
  script += "set format x \"" + tick_format + "\" timedate\n";
  if (last_ms > first_ms) {
    // A fiftieth of the span on each side keeps the first and last records off the frame.
    const int64_t margin_ms = (last_ms - first_ms) / 50;
    script += "set xrange ['" + unix_seconds(first_ms - margin_ms) + "':'" +
              unix_seconds(last_ms + margin_ms) + "']\n";
  }
  script += "set xtics " + std::to_string(tick_s) +
            "\n"
            "set grid\n"
            "set key outside right top\n"
            "set lmargin 12\n"
            "set rmargin 28\n"
            "$records << EOD\n";
  for (size_t r = 0; r < rows.size(); ++r) {
    const PlotRow& row = rows[r];
    if (r > 0 && row.time_ms - rows[r - 1].time_ms > pass_gap_ms) script += "\n";  // breaks lines
    script += unix_seconds(row.time_ms);
    for (const auto& value : row.values) {
      std::array<char, 40> text{};
      if (value) std::snprintf(text.data(), text.size(), " %.10g", *value);
      script += value ? text.data() : " NaN";
    }
    script += "\n";
  }
  script += "EOD\nset multiplot layout " + std::to_string(panels.size()) + ",1 title " +
            gnuplot_quoted(title) + "\n";
  for (size_t p = 0; p < panels.size(); ++p) {
    script += "set ylabel " + gnuplot_quoted(panels[p].label) + "\n";
    if (const auto range = y_range(rows, panels[p].fields)) {
      std::array<char, 80> text{};
      std::snprintf(text.data(), text.size(), "set yrange [%.10g:%.10g]\n", range->first,
                    range->second);
      script += text.data();
    }
    if (p + 1 == panels.size()) script += "set xlabel " + gnuplot_quoted(time_label) + "\n";
    script += "plot ";
    for (size_t i = 0; i < panels[p].fields.size(); ++i) {
      const size_t f = panels[p].fields[i];
      if (i > 0) script += ", \\\n     ";
      script += "$records using 1:" + std::to_string(f + 2) +
                " with linespoints pointtype 7 pointsize 0.5 title " + gnuplot_quoted(fields[f]);
    }
    script += "\n";
  }
  return script + "unset multiplot\n";
}

std::string plot_title(std::string_view file, const PlotFilter& filter, const PlotInput& input) {
  std::string title = std::string(file_name(file)) + ": " + describe_filter(filter) + " records";
  if (filter.pass) {
    title += ", pass " + std::to_string(*filter.pass) + " of " + std::to_string(input.passes);
  }
  if (input.rows.empty()) return title;
  return title + ", " + describe_span(input.rows.front().time_ms, input.rows.back().time_ms) +
         " UTC";
}

std::string list_fields(std::string_view file_text, const PlotFilter& filter) {
  struct Count {
    std::string name;
    size_t records = 0;
    bool number = false;
  };
  std::vector<Count> counts;
  const FileRecords file = read_records(file_text);
  const Selection selection = select_records(file, filter);
  for (const TimedRecord& timed : selection.kept) {
    for (const JsonMember& m : *timed.record) {
      auto it = std::find_if(counts.begin(), counts.end(),
                             [&](const Count& c) { return c.name == m.key; });
      if (it == counts.end()) it = counts.insert(counts.end(), {m.key});
      ++it->records;
      it->number = it->number || parse_number(m.value).has_value();
    }
  }
  std::string text = format_text("%-24s %8s  %s\n", "FIELD", "RECORDS", "UNIT");
  for (const Count& c : counts) {
    const FieldUnit* unit = field_unit(c.name);
    const std::string shown = !c.number ? "text" : unit ? std::string(unit->unit) : "-";
    text += format_text("%-24s %8zu  %s\n", c.name.c_str(), c.records, shown.c_str());
  }
  const std::string selected = describe_filter(filter) + describe_window(filter) +
                               (filter.pass ? ", pass " + std::to_string(*filter.pass) : "");
  text += format_text("%zu records (%s), %zu fields\n", selection.kept.size(), selected.c_str(),
                      counts.size());
  const std::vector<size_t>& starts = selection.pass_starts;
  for (size_t p = 0; p < starts.size(); ++p) {
    const size_t end = p + 1 < starts.size() ? starts[p + 1] : selection.window.size();
    const size_t n = end - starts[p];
    text += format_text(
        "pass %zu: %s UTC, %zu record%s\n", p + 1,
        describe_span(selection.window[starts[p]].time_ms, selection.window[end - 1].time_ms)
            .c_str(),
        n, n == 1 ? "" : "s");
  }
  return text;
}

std::string output_path_problem(const std::string& png_path) {
  if (is_directory(png_path)) return "it is a folder";
  const size_t slash = png_path.rfind('/');
  if (slash == std::string::npos) return {};
  const std::string folder = slash == 0 ? "/" : png_path.substr(0, slash);
  if (!is_directory(folder)) return "the folder " + folder + " does not exist";
  return {};
}

PlotArgs parse_plot_args(std::span<const std::string_view> args) {
  PlotArgs parsed;
  CommandLine line = command_line(args);
  while (parsed.error.empty()) {
    const std::optional<std::string_view> word = next_word(line);
    if (!word) break;
    const std::string_view a = *word;
    const bool takes_value = a == "-o" || a == "--output" || a == "--sat" || a == "--kind" ||
                             a == "--from" || a == "--to" || a == "--pass";
    const std::optional<std::string_view> given = takes_value ? option_value(line) : std::nullopt;
    if (takes_value && !given) {
      parsed.error = std::string(a) + " needs a value";
      break;
    }
    const std::string value(given.value_or(""));
    if (a == "-o" || a == "--output") {
      parsed.png_path = value;
    } else if (a == "--sat") {
      if (value.size() != 1 || value[0] < '0' || value[0] > '3') {
        parsed.error = "--sat takes a satellite number from 0 to 3, not \"" + value + "\"";
      }
      parsed.filter.sat = value.empty() ? 0 : value[0] - '0';
    } else if (a == "--kind") {
      if (value != "beacon" && value != "telemetry") {
        parsed.error = "--kind takes beacon or telemetry, not \"" + value + "\"";
      }
      parsed.filter.kind = value;
    } else if (a == "--from" || a == "--to") {
      const std::optional<int64_t> ms = parse_time_option(value);
      if (!ms) {
        parsed.error = std::string(a) +
                       " takes a UTC time as 2026-12-05T14:03Z or 2026-12-05T14:03:30Z, not \"" +
                       value + "\"";
      }
      (a == "--from" ? parsed.filter.from_ms : parsed.filter.to_ms) = ms;
    } else if (a == "--pass") {
      parsed.filter.pass = number_in(value, 1, 999999);
      if (!parsed.filter.pass) {
        parsed.error = "--pass takes a pass number from 1, not \"" + value + "\"";
      }
    } else if (a == "--list") {
      parsed.list = true;
    } else if (a == "--help" || a == "-h") {
      parsed.help = true;
    } else if (a.starts_with("-") && a.size() > 1) {
      parsed.error = "unknown option \"" + std::string(a) + "\"";
    } else if (parsed.file.empty()) {
      parsed.file = a;
    } else {
      parsed.fields.emplace_back(a);
    }
  }
  if (parsed.error.empty() && !parsed.help) {
    if (parsed.file.empty()) {
      parsed.error = "no FILE given";
    } else if (parsed.list && !parsed.fields.empty()) {
      parsed.error = "--list takes no FIELD";
    } else if (!parsed.list && parsed.fields.empty()) {
      parsed.error = "no FIELD given (--list shows the fields of FILE)";
    } else if (has_line_end(parsed.png_path)) {
      parsed.error = "the output path cannot hold a line end";
    } else if (parsed.filter.from_ms && parsed.filter.to_ms &&
               *parsed.filter.from_ms > *parsed.filter.to_ms) {
      parsed.error = "--from is later than --to";
    }
  }
  return parsed;
}

int plot_command(std::span<const std::string_view> args) {
  PlotArgs parsed = parse_plot_args(args);
  if (!parsed.error.empty()) {
    error_write("plot: " + parsed.error + "\n" + plot_usage);
    return 2;
  }
  if (parsed.help) {
    console_text(console, plot_usage);
    return 0;
  }
  const std::string& file = parsed.file;
  std::string png_path = parsed.png_path.empty() ? default_png_path(file) : parsed.png_path;
  if (!parsed.list) {
    if (std::string problem = output_path_problem(png_path); !problem.empty()) {
      error_write("plot: cannot write " + png_path + ": " + problem + "\n");
      return 1;
    }
  }
  auto text = read_whole_file(file);
  if (!text) {
    error_write("plot: cannot read " + file + ": " + error_text(errno) + "\n");
    return 1;
  }
  if (parsed.list) {
    console_text(console, list_fields(*text, parsed.filter));
    report_damage(file, read_records(*text).damaged_last_line);
    return 0;
  }
  PlotInput input = read_plot_input(*text, parsed.fields, parsed.filter);
  report_damage(file, input.damaged_last_line);
  if (!input.error.empty()) {
    error_write("plot: " + file + ": " + input.error + "\n");
    return 1;
  }
  // gnuplot that cannot open its output keeps drawing to standard output, so
  // a path it cannot write is refused here, with the system's one reason.
  const bool png_existed = path_exists(png_path);
  if (const SysResult opened = append_to_file(png_path, ""); !opened.ok()) {
    error_write("plot: cannot write " + png_path + ": " + error_text(opened) + "\n");
    return 1;
  }
  const std::string title = plot_title(file, parsed.filter, input);
  ProgramRun run =
      run_program({"gnuplot"}, gnuplot_script(input.rows, parsed.fields, title, png_path));
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
