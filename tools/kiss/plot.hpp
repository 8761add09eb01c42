#pragma once
// `kestrelis-kiss plot FILE FIELD... [-o OUT.png]`: chosen fields of the
// records in a JSON Lines or CSV file of the client, over record time, drawn
// to a PNG by gnuplot.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// One record's time and the value of each chosen field (none where the
// record lacks the field or its value is not a number).
struct PlotRow {
  int64_t time_ms = 0;
  std::vector<std::optional<double>> values;
};

struct PlotInput {
  std::vector<PlotRow> rows;  // in time order; records with none of the fields left out
  std::string error;          // why nothing can be plotted; empty when rows are usable
  size_t skipped = 0;         // lines that are no record, or records without a time
};

// Reads the records of a JSON Lines file (first character '{') or a CSV file
// with a header row. A record's time is its UNIX member, else unix_s and
// unix_only_ms, else _received_unix. `error` names a field that no record
// has, or that never holds a number.
[[nodiscard]] PlotInput read_plot_input(std::string_view file_text,
                                        std::span<const std::string> fields);

// The gnuplot script that draws `rows` to `png_path`: terminal, axes, the
// data inline as a data block ("NaN" for missing values), one line per field.
[[nodiscard]] std::string gnuplot_script(std::span<const PlotRow> rows,
                                         std::span<const std::string> fields,
                                         const std::string& title, const std::string& png_path);

// The plot command with its arguments (after "plot"). Prints what it wrote,
// or the error on standard error. Returns the exit status: 0 done, 1 failed,
// 2 wrong arguments.
[[nodiscard]] int plot_command(std::span<const std::string_view> args);

}  // namespace kestrelis
