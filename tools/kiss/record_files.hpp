#pragma once
// Telemetry records kept on disk: every record as one line of a JSON Lines
// file, and every record in the CSV file of its layout (sat1_v5.csv, ...).
//
// JSON line: the client's own members, named with a leading underscore so
// that they cannot meet a record's keys, then the record's members in their
// order; numbers as numbers, texts as strings:
//   {"_received":"2026-12-05T14:03:07.412Z","_received_unix":1796479387.412,
//    "_sat":1,"_version":5,"_kind":"beacon","tlm_id":4138,...,"UNIX":1796479386.250000}
// (_sat, _version and _kind only when the record has a tlm_id.) A member is a
// number when the record's layout gives it a number type (all its fields and
// UNIX), or, for a record of no known layout, when its text is a JSON number.
// A number field whose text is no finite number (a float's nan or inf) is
// null; a member the layout does not know stays a string.
//
// CSV: a header row when the file is new, then one row per record, with the
// same columns as the JSON line, in its order (null is an empty cell). A
// record whose columns differ from the header of its layout's file goes to
// the first of sat1_v5_alt1.csv, sat1_v5_alt2.csv, ... that is new or has
// exactly its columns, so that no file ever mixes two headers.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kiss/record.hpp"

namespace kestrelis {

enum class CellKind { string, number, null };

// One member of a record as the files hold it: `text` is the string's text
// (escapes kept) or the number's; empty for null.
struct RecordCell {
  std::string key;
  std::string text;
  CellKind kind = CellKind::string;
};

// The client's own members and then the record's, typed as above.
[[nodiscard]] std::vector<RecordCell> record_cells(const JsonObject& object, int64_t received_ms);

// The JSON line of `object` received at `received_ms` (ms since 1970 UTC),
// ending in "\n".
[[nodiscard]] std::string jsonl_line(const JsonObject& object, int64_t received_ms);

// One CSV row of `cells` ending in "\r\n"; a cell holding a comma, a double
// quote or a line end is quoted, its quotes doubled.
[[nodiscard]] std::string csv_line(std::span<const std::string> cells);

// The cells of one CSV row, quotes removed; none when a quoted cell is not
// closed. Takes a line without its line end.
[[nodiscard]] std::optional<std::vector<std::string>> csv_cells(std::string_view line);

// "sat1_v5": the CSV file name of a record's layout without ".csv".
[[nodiscard]] std::string csv_layout_name(const TelemetryWord& word);

// Where records are written; an empty path or folder writes nothing there.
struct RecordFiles {
  std::string jsonl_path;
  std::string csv_dir;
  std::vector<std::string> reported;  // notes already printed, each printed once
  bool write_failed = false;          // a record could not be written to a file
};

// Appends `object` to the JSON Lines file and to its CSV file. Returns the
// console lines to print about it (failures, a record sent to another CSV
// file because of its columns), each distinct line only the first time.
// A record without tlm_id has no layout and goes to the JSON Lines file only.
[[nodiscard]] std::string write_record(RecordFiles& files, const JsonObject& object,
                                       int64_t received_ms);

}  // namespace kestrelis
