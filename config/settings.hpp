#pragma once
// Settings from one list: the machinery that a settings list (config.hpp for
// the TNC, forward_config.hpp for the forwarder) turns into its record, its
// in-code defaults, its INI key handler, its checks, its notes and its dump.
//
// A list is an X-macro, one row per key:
//   X(section, key, type, default, fallback, check)
// The row's key is also the record's member, of the row's type, initialised
// to the default. An X-macro rather than a constexpr table of member
// pointers: a table needs the record declared first, a second copy of every
// name and type; the X-macro declares the members themselves, and each list's
// visit_settings hands the generic code every row with its member, typed.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace kestrelis {

// Longest text a text setting holds: the reader's line limit keeps every
// value well below it.
constexpr size_t config_text_limit = 499;

// Longest line the INI reader takes, in characters without the line end.
constexpr int config_line_limit = 199;

// What a text value must be, beyond its length. Rules that name another key
// read that key's value after the whole file.
enum class TextRule : uint8_t {
  any,
  keying_command,    // at most keying_command_limit characters
  unkeying_command,  // the same, and not empty while PTT_ON_Command is not
  bind_address,      // empty, "localhost" (read as 127.0.0.1) or a dotted IPv4 address
  rigctld_port,      // a number of 1 ... 65535; needed once Address is set
};

// The row's check: the range of a number (bounds included), or a text rule.
struct Check {
  int64_t min = INT32_MIN;
  int64_t max = INT32_MAX;
  TextRule text = TextRule::any;
};
constexpr Check within(int64_t min, int64_t max) { return {min, max, TextRule::any}; }
constexpr Check not_negative = within(0, INT32_MAX);
constexpr Check any_value{};
constexpr Check text_rule(TextRule rule) { return {INT32_MIN, INT32_MAX, rule}; }

// How a row holds values of type T: text as a view of a constant.
template <class T>
using RowValue = std::conditional_t<std::is_same_v<T, std::string>, std::string_view, T>;

// One row of a settings list, for a member of type T. The fallback replaces
// a value that fails the check.
template <class T>
struct SettingRow {
  std::string_view section;
  std::string_view key;
  RowValue<T> initial;
  RowValue<T> fallback;
  Check check;
};

template <class T>
struct is_duration : std::false_type {};
template <class Rep, class Period>
struct is_duration<std::chrono::duration<Rep, Period>> : std::true_type {};

// Settings read as numbers: integers, 0/1 switches and durations.
template <class T>
concept NumberSetting = std::is_integral_v<T> || is_duration<T>::value;

// Settings that name one of a few choices: an enum E with values 0, 1, ...
// whose names come from choice_names(E{}).
template <class T>
concept ChoiceSetting = std::is_enum_v<T>;

// What the reader had to read around, or a value it replaced: a value, made
// into its console line only by config_note_text.
enum class ConfigNoteKind : uint8_t {
  long_line,          // line: longer than config_line_limit, ignored whole
  unknown_section,    // section, key: a section nobody reads
  unknown_key,        // section, key; instead: the nearest known key, or empty
  beyond_number,      // key, value; instead: the number read, cut to fit 32 bits
  not_a_number,       // key, value; instead: the default kept
  text_after_number,  // key, value; instead: the number read
  outside_range,      // key, value (the number read), min, max; instead: the fallback
  not_a_choice,       // key, value, choices; instead: the fallback
  command_too_long,   // key, value, max; instead: the fallback
  command_empty,      // key; instead: the fallback
  not_an_address,     // key, value; instead: the address listened on
  port_missing,       // key; instead: the port used
};

struct ConfigNote {
  ConfigNoteKind kind = ConfigNoteKind::long_line;
  std::string key = {};      // as written
  std::string value = {};    // as written; for numbers, the number read
  std::string instead = {};  // what is used instead, as it would be written
  int line = 0;              // of the file; 0: none
  std::string section = {};
  int64_t min = 0;
  int64_t max = 0;
  std::span<const std::string_view> choices = {};
};

// The console line of a note, with its line end, e.g. "Config: KISS_Port =
// 0 is outside 1 ... 65535; using 53013\n".
[[nodiscard]] std::string config_note_text(const ConfigNote& note);

// One name/value pair as the INI reader hands it over, trimmed.
struct IniPair {
  std::string_view section;
  std::string_view name;
  std::string_view value;
  int line = 0;
};

// Takes one pair; false when it is no pair of the reader's (an error line).
using IniTaker = std::function<bool(const IniPair& pair)>;

// Runs inih over an open file, or over text in memory, one line at a time. A
// line longer than config_line_limit is ignored whole and adds a long_line
// note. Returns the number of the first line with an error (a long line
// counts), or 0.
[[nodiscard]] int parse_ini_file(std::FILE* file, const IniTaker& take,
                                 std::vector<ConfigNote>* notes);
[[nodiscard]] int parse_ini_text(std::string_view text, const IniTaker& take,
                                 std::vector<ConfigNote>* notes);

// A value as it is written in the file.
template <class T>
[[nodiscard]] std::string setting_text(const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    return value ? "1" : "0";
  } else if constexpr (is_duration<T>::value) {
    return std::to_string(value.count());
  } else if constexpr (std::is_integral_v<T>) {
    return std::to_string(value);
  } else if constexpr (ChoiceSetting<T>) {
    return std::string(choice_names(T{})[static_cast<size_t>(value)]);
  } else {
    return std::string(value);
  }
}

// atoi's reading of `pair.value` (an optional sign, then digits up to the
// first other character), saturated to 32 bits. None when there is no digit;
// a not_a_number note then names `initial_text`, the value kept. A number
// cut to fit, or with text after it, adds a note too.
[[nodiscard]] std::optional<int32_t> read_number(const IniPair& pair, std::string_view initial_text,
                                                 std::vector<ConfigNote>& notes);

// Reads one value into `member`: numbers and choices are checked at once and
// a refused one holds the fallback (the note returned, to be reported after
// the whole file, unless a later line sets the key again); text is stored as
// it is and checked after the whole file.
template <NumberSetting T>
[[nodiscard]] std::optional<ConfigNote> read_setting(const SettingRow<T>& row, T& member,
                                                     const IniPair& pair,
                                                     std::vector<ConfigNote>& notes) {
  const std::optional<int32_t> number = read_number(pair, setting_text(row.initial), notes);
  if (!number) {
    member = row.initial;
    return std::nullopt;
  }
  if (*number < row.check.min || *number > row.check.max) {
    member = row.fallback;
    return ConfigNote{.kind = ConfigNoteKind::outside_range,
                      .key = std::string(row.key),
                      .value = std::to_string(*number),
                      .instead = setting_text(row.fallback),
                      .line = pair.line,
                      .min = row.check.min,
                      .max = row.check.max};
  }
  if constexpr (std::is_same_v<T, bool>) {
    member = *number != 0;
  } else {
    member = T(*number);
  }
  return std::nullopt;
}

template <ChoiceSetting T>
[[nodiscard]] std::optional<ConfigNote> read_setting(const SettingRow<T>& row, T& member,
                                                     const IniPair& pair,
                                                     std::vector<ConfigNote>& /*notes*/) {
  const std::string_view value = pair.value;
  const std::span<const std::string_view> names = choice_names(T{});
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == value) {
      member = static_cast<T>(i);
      return std::nullopt;
    }
  }
  member = row.fallback;
  return ConfigNote{.kind = ConfigNoteKind::not_a_choice,
                    .key = std::string(row.key),
                    .value = std::string(value),
                    .instead = setting_text(row.fallback),
                    .line = pair.line,
                    .choices = names};
}

[[nodiscard]] inline std::optional<ConfigNote> read_setting(const SettingRow<std::string>& /*row*/,
                                                            std::string& member,
                                                            const IniPair& pair,
                                                            std::vector<ConfigNote>& /*notes*/) {
  member = std::string(pair.value);
  return std::nullopt;
}

// A record being read: its notes, and per row (in list order) the refusal
// still to report and the line that last set it.
template <class Config>
struct SettingsReading {
  Config& config;
  std::vector<ConfigNote> notes;
  std::vector<std::optional<ConfigNote>> refusals;
  std::vector<int> lines;
};

template <class Config>
[[nodiscard]] SettingsReading<Config> start_reading(Config& config) {
  size_t rows = 0;
  visit_settings(config, [&](const auto&, const auto&) { ++rows; });
  return {config, {}, std::vector<std::optional<ConfigNote>>(rows), std::vector<int>(rows)};
}

// Stores `pair` in the member of the row that names it, exactly and with
// case; false when no row does.
template <class Config>
[[nodiscard]] bool store_setting(SettingsReading<Config>& reading, const IniPair& pair) {
  bool found = false;
  size_t row_index = 0;
  visit_settings(reading.config, [&](const auto& row, auto& member) {
    if (!found && row.section == pair.section && row.key == pair.name) {
      found = true;
      reading.refusals[row_index] = read_setting(row, member, pair, reading.notes);
      reading.lines[row_index] = pair.line;
    }
    ++row_index;
  });
  return found;
}

// After the whole file: checks every text member with `check_text(row,
// member)` (which may replace it and returns its note) and adds the notes of
// every replaced value, in list order, to the reading's notes.
template <class Config, class TextCheck>
void finish_reading(SettingsReading<Config>& reading, TextCheck check_text) {
  size_t row_index = 0;
  visit_settings(reading.config, [&](const auto& row, auto& member) {
    std::optional<ConfigNote> note = std::move(reading.refusals[row_index]);
    if constexpr (std::is_same_v<std::remove_cvref_t<decltype(member)>, std::string>) {
      note = check_text(row, member);
      if (note) note->line = reading.lines[row_index];
    }
    if (note) reading.notes.push_back(std::move(*note));
    ++row_index;
  });
}

// The record in INI form: for each row "[section]\nkey = value\n", in list
// order. Reading it back gives the same record.
template <class Config>
[[nodiscard]] std::string settings_ini_text(const Config& config) {
  std::string text;
  visit_settings(config, [&](const auto& row, const auto& member) {
    text += "[" + std::string(row.section) + "]\n" + std::string(row.key) + " = " +
            setting_text(member) + "\n";
  });
  return text;
}

}  // namespace kestrelis
