#include "config/settings.hpp"

#include <ini.h>

#include <algorithm>
#include <string>

namespace kestrelis {

namespace {

// inih's reader over a file or text. It hands inih one line at a time, up
// to config_line_limit characters; a longer line would reach inih in pieces,
// each read as a line of its own, so it is swallowed whole and handed over as
// an empty line, which keeps inih's line count.
struct LineSource {
  std::FILE* file = nullptr;   // read from when set
  std::string_view text = {};  // else read from here
  int line = 0;                // lines handed to inih so far
  int first_long_line = 0;     // 0: none yet
  std::vector<ConfigNote>* notes = nullptr;
  const IniTaker* take = nullptr;
};

int next_char(LineSource& source) {
  if (source.file != nullptr) return std::fgetc(source.file);
  if (source.text.empty()) return EOF;
  const auto c = static_cast<unsigned char>(source.text.front());
  source.text.remove_prefix(1);
  return c;
}

char* read_line(char* buffer, int size, void* stream) {
  auto& source = *static_cast<LineSource*>(stream);
  const size_t limit = static_cast<size_t>(std::min(size - 1, config_line_limit));
  int c = next_char(source);
  if (c == EOF) return nullptr;
  size_t kept = 0;
  size_t length = 0;  // of the whole line, without its line end
  int last = EOF;
  for (; c != EOF && c != '\n'; c = next_char(source)) {
    if (kept < limit) buffer[kept++] = static_cast<char>(c);
    ++length;
    last = c;
  }
  ++source.line;
  // inih ignores the carriage return of a "\r\n" line end: it does not count.
  if (last == '\r') --length;
  if (length > limit) {
    kept = 0;
    if (source.first_long_line == 0) source.first_long_line = source.line;
    if (source.notes != nullptr) {
      source.notes->push_back({.kind = ConfigNoteKind::long_line, .line = source.line});
    }
  }
  buffer[kept] = '\0';
  return buffer;
}

// inih calls this for each pair, just after reading its line.
int take_pair(void* user, const char* section, const char* name, const char* value) {
  const auto& source = *static_cast<LineSource*>(user);
  return (*source.take)(IniPair{section, name, value, source.line}) ? 1 : 0;
}

int parse_ini(LineSource& source) {
  const int first_error = ini_parse_stream(read_line, &source, take_pair, &source);
  if (source.first_long_line == 0) return first_error;
  return first_error == 0 ? source.first_long_line : std::min(first_error, source.first_long_line);
}

}  // namespace

int parse_ini_file(std::FILE* file, const IniTaker& take, std::vector<ConfigNote>* notes) {
  LineSource source{.file = file, .notes = notes, .take = &take};
  return parse_ini(source);
}

int parse_ini_text(std::string_view text, const IniTaker& take, std::vector<ConfigNote>* notes) {
  LineSource source{.text = text, .notes = notes, .take = &take};
  return parse_ini(source);
}

std::optional<int32_t> read_number(const IniPair& pair, std::string_view initial_text,
                                   std::vector<ConfigNote>& notes) {
  std::string_view text = pair.value;
  while (!text.empty() && (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r'))) {
    text.remove_prefix(1);
  }
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
  ConfigNote note{
      .key = std::string(pair.name), .value = std::string(pair.value), .line = pair.line};
  if (digits == 0) {
    note.kind = ConfigNoteKind::not_a_number;
    note.instead = std::string(initial_text);
    notes.push_back(std::move(note));
    return std::nullopt;
  }
  int64_t value = 0;
  for (const char c : text.substr(0, digits)) {
    value = std::min(value * 10 + (c - '0'), int64_t{INT32_MAX} + 2);  // past either end: stays
  }
  if (negative) value = -value;
  const auto number = static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
  note.instead = std::to_string(number);
  if (number != value) {
    note.kind = ConfigNoteKind::beyond_number;
    notes.push_back(std::move(note));
  } else if (digits < text.size()) {
    note.kind = ConfigNoteKind::text_after_number;
    notes.push_back(std::move(note));
  }
  return number;
}

std::string config_note_text(const ConfigNote& n) {
  const std::string head = "Config: " + n.key;
  const std::string pair = head + " = " + n.value;
  switch (n.kind) {
    case ConfigNoteKind::long_line:
      return "Config: line " + std::to_string(n.line) + " is longer than " +
             std::to_string(config_line_limit) + " characters; ignored\n";
    case ConfigNoteKind::unknown_section:
      return "Config: unknown section [" + n.section + "] (key " + n.key + " ignored)\n";
    case ConfigNoteKind::unknown_key:
      return "Config: unknown key " + n.key + " in [" + n.section + "] ignored" +
             (n.instead.empty() ? "" : "; did you mean " + n.instead + "?") + "\n";
    case ConfigNoteKind::beyond_number:
      return pair + " is beyond what a number here can hold; read as " + n.instead + "\n";
    case ConfigNoteKind::not_a_number:
      return pair + " is not a number; using " + n.instead + "\n";
    case ConfigNoteKind::text_after_number:
      return pair + " has text after the number; read as " + n.instead + "\n";
    case ConfigNoteKind::outside_range:
      return pair + " is outside " + std::to_string(n.min) + " ... " + std::to_string(n.max) +
             "; using " + n.instead + "\n";
    case ConfigNoteKind::not_a_choice: {
      std::string names;
      for (size_t i = 0; i < n.choices.size(); ++i) {
        names += (i == 0                      ? ""
                  : i + 1 == n.choices.size() ? " nor "
                                              : ", ") +
                 std::string(n.choices[i]);
      }
      return pair + " is neither " + names + "; using " + n.instead + "\n";
    }
    case ConfigNoteKind::command_too_long:
      return head + " is " + std::to_string(n.value.size()) + " characters long, more than " +
             std::to_string(n.max) + "; using \"" + n.instead + "\"\n";
    case ConfigNoteKind::command_empty:
      return head + " is empty and could never unkey the transmitter; using \"" + n.instead +
             "\"\n";
    case ConfigNoteKind::not_an_address:
      return pair + " is not an IPv4 address; listening on " + n.instead + " only\n";
    case ConfigNoteKind::port_missing:
      return "Config: Address is set but " + n.key + " is empty; using " + n.instead + "\n";
  }
  return {};
}

}  // namespace kestrelis
