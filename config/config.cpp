#include "config/config.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/files.hpp"
#include "platform/net.hpp"

namespace kestrelis {

namespace {

// The unkey command's key is spelled PPT; the spelling an operator expects is taken too.
constexpr std::string_view unkey_alias = "PTT_OFF_Command";

// Keys of the file that the TNC itself does not read: the modem's own
// settings in the default file.
constexpr std::pair<std::string_view, std::string_view> other_keys[] = {
    {"gnuradio", "AudioCard_RX_DeviceName"},
    {"gnuradio", "AudioCard_RX_SampleRate"},
    {"gnuradio", "AudioCard_TX_DeviceName"},
    {"gnuradio", "AudioCard_TX_SampleRate"},
    {"gnuradio", "SSB_Mode"},
    {"gnuradio", "SSB_RX_Offset"},
    {"gnuradio", "SSB_TX_Offset"},
};

// kestrelis-forward's section of the shared file: known to the TNC, and
// every key in it ignored without a word, whatever the forwarder reads.
constexpr std::string_view forward_section = "forward";

// Every (section, key) pair the TNC knows, in list order, then the alias and
// the modem's keys.
std::vector<std::pair<std::string_view, std::string_view>> known_keys() {
  std::vector<std::pair<std::string_view, std::string_view>> keys;
  const TncConfig defaults;
  visit_settings(defaults,
                 [&](const auto& row, const auto&) { keys.emplace_back(row.section, row.key); });
  keys.emplace_back("rigctld", unkey_alias);
  keys.insert(keys.end(), std::begin(other_keys), std::end(other_keys));
  return keys;
}

// Edit distance of two short names, letters compared without case.
size_t name_distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      const size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = row[j];
      row[j] = next;
    }
  }
  return row[b.size()];
}

// What a pair no row takes is: a note, unless it is the modem's or the
// forwarder's. False: an error line.
bool take_other_pair(const IniPair& pair, std::vector<ConfigNote>& notes) {
  if (pair.section == forward_section) return true;
  const auto keys = known_keys();
  bool known_section = false;
  std::string_view nearest;
  size_t nearest_distance = 3;  // up to 2 is close enough to be a slip
  for (const auto& [section, key] : keys) {
    if (section != pair.section) continue;
    if (key == pair.name) return true;
    known_section = true;
    if (const size_t d = name_distance(pair.name, key); d < nearest_distance) {
      nearest_distance = d;
      nearest = key;
    }
  }
  notes.push_back(
      {.kind = known_section ? ConfigNoteKind::unknown_key : ConfigNoteKind::unknown_section,
       .key = std::string(pair.name),
       .instead = std::string(nearest),
       .line = pair.line,
       .section = std::string(pair.section)});
  return false;
}

// The rules of text values, on the record as the whole file left it.
std::optional<ConfigNote> check_text(const TncConfig& config, const SettingRow<std::string>& row,
                                     std::string& value) {
  ConfigNote note{
      .key = std::string(row.key), .value = value, .instead = std::string(row.fallback)};
  switch (row.check.text) {
    case TextRule::any:
      return std::nullopt;
    case TextRule::keying_command:
    case TextRule::unkeying_command:
      if (value.size() > keying_command_limit) {
        note.kind = ConfigNoteKind::command_too_long;
        note.max = keying_command_limit;
      } else if (row.check.text == TextRule::unkeying_command && value.empty() &&
                 !config.PTT_ON_Command.empty()) {
        // Sending nothing can never unkey what the on command keyed.
        note.kind = ConfigNoteKind::command_empty;
      } else {
        return std::nullopt;
      }
      break;
    case TextRule::bind_address:
      // An address that does not parse would open the port to every
      // interface; it falls back to loopback, so that a slip never widens access.
      if (value == "localhost") value = "127.0.0.1";
      if (value.empty() || parse_ipv4(value.c_str())) return std::nullopt;
      note.kind = ConfigNoteKind::not_an_address;
      break;
    case TextRule::rigctld_port: {
      // A number, not a service name, so that the resolver can never wrap a
      // large number to another port. Without one, a set Address would fail
      // every keying: rigctld's own port is taken.
      if (value.empty()) {
        if (config.Address.empty()) return std::nullopt;
        note.kind = ConfigNoteKind::port_missing;
        break;
      }
      const bool digits = value.size() <= 5 && std::all_of(value.begin(), value.end(), [](char c) {
                            return c >= '0' && c <= '9';
                          });
      if (digits && std::stoi(value) >= 1 && std::stoi(value) <= 65535) return std::nullopt;
      note.kind = ConfigNoteKind::outside_range;
      note.min = 1;
      note.max = 65535;
      break;
    }
  }
  value = std::string(row.fallback);
  return note;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads through `parse`, which runs the INI reader with the taker it is given.
template <class Parse>
int read_config(TncConfig& config, std::vector<ConfigNote>* notes, Parse parse) {
  SettingsReading<TncConfig> reading = start_reading(config);
  const int result = parse(
      [&](const IniPair& pair) {
        IniPair taken = pair;
        if (pair.section == "rigctld" && pair.name == unkey_alias) taken.name = "PPT_OFF_Command";
        return store_setting(reading, taken) || take_other_pair(pair, reading.notes);
      },
      &reading.notes);
  finish_reading(reading, [&](const SettingRow<std::string>& row, std::string& value) {
    return check_text(config, row, value);
  });
  if (notes != nullptr) *notes = std::move(reading.notes);
  return result;
}

}  // namespace

int load_config(const std::string& path, TncConfig& config, std::vector<ConfigNote>* notes) {
  errno = 0;  // open_regular_file sets it only when the open itself fails
  std::unique_ptr<std::FILE, FileCloser> file(open_regular_file(path));
  if (!file) return -1;
  return read_config(config, notes, [&](const IniTaker& take, std::vector<ConfigNote>* out) {
    return parse_ini_file(file.get(), take, out);
  });
}

int load_config_text(std::string_view text, TncConfig& config, std::vector<ConfigNote>* notes) {
  return read_config(config, notes, [&](const IniTaker& take, std::vector<ConfigNote>* out) {
    return parse_ini_text(text, take, out);
  });
}

std::string_view default_config_text() {
  static constexpr char text[] =
      "[gnuradio]\n"
      "; AudioCard_RX_DeviceName = Line (USB Audio Device)\n"
      "; AudioCard_RX_SampleRate = 48000\n"
      "; AudioCard_TX_DeviceName = Line 1 (Virtual Audio Cable)\n"
      "; AudioCard_TX_SampleRate = 48000\n"
      "\n"
      ";; Specify whether in LSB or USB (all uppercase)\n"
      "SSB_Mode = LSB\n"
      "\n"
      ";; Offset of the received (transmitted) signal in the SSB band\n"
      "; SSB_RX_Offset = 1600\n"
      "; SSB_TX_Offset = 1600\n"
      "\n"
      "[modem]\n"
      ";; Communication ports TNC to GR and GR to TNC\n"
      "GR_ReceivePort = 55012\n"
      "GR_TransmitPort = 55011\n"
      "\n"
      "[KISS]\n"
      ";; Communication port GUI <-> TNC\n"
      "KISS_Port = 55013\n"
      "\n"
      "[radio]\n"
      ";; Your callsign\n"
      "CallFrom = NOCALL\n"
      "; PreambleLength = 50\n"
      "; PostambleLength = 20\n"
      "\n"
      "[rigctld]\n"
      ";; If you are already using the rigctl deamon,\n"
      ";; set here the address and port:\n"
      "Address = 127.0.0.1\n"
      "Port = 4532\n"
      "\n"
      ";; Choose here the command to send to rigctl when switching ON or OFF the PPT\n"
      ";; \"T 1\" and \"T 0\" are default\n"
      "; PTT_ON_Command = T 1\n"
      "; PPT_OFF_Command = T 0\n"
      "\n"
      ";; Key-up delay (before TX) in milliseconds\n"
      "KeyUpDelay = 200\n"
      ";; Key-down delay (after TX) in milliseconds\n"
      "KeyDownDelay = 500\n"
      "\n";
  return {text, sizeof text - 1};
}

}  // namespace kestrelis
