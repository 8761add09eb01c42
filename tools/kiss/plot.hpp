#pragma once
// `kestrelis-kiss plot FILE FIELD... [-o OUT.png] [--sat N] [--kind KIND]
// [--from TIME] [--to TIME] [--pass N]`: chosen fields of the telemetry
// records in the TNC's packet log over record time, drawn to a PNG by gnuplot, one panel per unit; and
// `kestrelis-kiss plot FILE --list`: the fields the file holds, and its passes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// The records that take part: those of satellite `sat` and of kind `kind`
// ("beacon" or "telemetry"), both read from tlm_id, whose time lies from
// `from_ms` to `to_ms` (ms since 1970 UTC, both included). Of these, `pass`
// keeps one pass: records in time order are split into passes, numbered from
// 1, wherever two records lie more than 10 minutes apart. Unset: any.
struct PlotFilter {
  std::optional<int> sat;
  std::optional<std::string> kind;
  std::optional<int64_t> from_ms;
  std::optional<int64_t> to_ms;
  std::optional<int> pass;
};

// One record's time and the value of each chosen field (none where the
// record lacks the field or its value is not a number).
struct PlotRow {
  int64_t time_ms = 0;
  std::vector<std::optional<double>> values;
};

struct PlotInput {
  std::vector<PlotRow> rows;       // in time order; records with none of the fields left out
  std::string error;               // why nothing can be plotted; empty when rows are usable
  size_t skipped = 0;              // lines that are no record, or records without a time
  bool damaged_last_line = false;  // the last line is no record (cut short): left out
  size_t passes = 0;               // passes of the records in the time window
};

// Reads the records of the TNC's packet log (through its own reader; each
// decoded telemetry object is a record, with the time the TNC received it as
// _received), keeping those that pass `filter`. A record's time is its UNIX
// member, else unix_s and unix_only_ms, else _received. `error`
// names a field that no record has, or that never holds a number, or says
// that no record passes the filter, or that the pass asked for is not there.
[[nodiscard]] PlotInput read_plot_input(std::string_view file_text,
                                        std::span<const std::string> fields,
                                        const PlotFilter& filter = {});

// What fields measure, known from their names: `pattern` is a name with `*`
// for any run of characters.
struct FieldUnit {
  std::string_view pattern;
  std::string_view quantity;  // "voltage"
  std::string_view unit;      // "mV"
};

// The unit of the field `name` (the first pattern it matches); null when unknown.
[[nodiscard]] const FieldUnit* field_unit(std::string_view name);

// One panel of the plot: its y axis label and the indexes of its fields.
struct PlotPanel {
  std::string label;
  std::vector<size_t> fields;
};

// Fields of one unit share a panel labelled "quantity (unit)"; a field of no
// known unit gets a panel of its own labelled with its name. Panels come in
// the order of their first field.
[[nodiscard]] std::vector<PlotPanel> plot_panels(std::span<const std::string> fields);

// The gnuplot script that draws `rows` to `png_path`: terminal, one panel per
// plot_panels entry over one UTC time axis (the date once, in the axis label,
// when all rows lie on one day), each y axis with a margin around its values,
// the data inline as a data block ("NaN" for missing values, lines drawn
// across them, broken between passes).
[[nodiscard]] std::string gnuplot_script(std::span<const PlotRow> rows,
                                         std::span<const std::string> fields,
                                         const std::string& title, const std::string& png_path);

// The plot's title: the file's name without its folder, the records chosen
// and the time they span, as "2026-12-05.jsonl: sat 1 records, pass 2 of 3,
// 2026-12-05 15:38 to 15:48 UTC". `input` holds rows.
[[nodiscard]] std::string plot_title(std::string_view file, const PlotFilter& filter,
                                     const PlotInput& input);

// The --list text: one line per field, in the order of first appearance,
// with the number of records that hold it and its unit ("text" when it never
// holds a number, "-" when its unit is unknown), a summary, then one line per
// pass with its time span and records.
[[nodiscard]] std::string list_fields(std::string_view file_text, const PlotFilter& filter);

// Why a PNG cannot be written to `png_path`, as far as can be told without
// writing it: "" when nothing is against it, else "it is a folder" or "the
// folder DIR does not exist".
[[nodiscard]] std::string output_path_problem(const std::string& png_path);

struct PlotArgs {
  std::string file;
  std::vector<std::string> fields;
  std::string png_path;  // empty: FILE with .png for its extension
  PlotFilter filter;
  bool list = false;
  bool help = false;
  std::string error;  // what is wrong with the arguments; empty when nothing
};

// Reads the arguments after "plot".
[[nodiscard]] PlotArgs parse_plot_args(std::span<const std::string_view> args);

// The plot command with its arguments (after "plot"). Prints what it wrote
// (or the list), or the error on standard error; a damaged last line is
// reported there once. Returns the exit status: 0 done, 1 failed (file,
// output path, gnuplot), 2 wrong arguments.
[[nodiscard]] int plot_command(std::span<const std::string_view> args);

}  // namespace kestrelis
