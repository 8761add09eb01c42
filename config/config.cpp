#include "config/config.hpp"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

struct IntKey {
  const char* section;
  const char* name;
  int32_t TncConfig::*field;
};

struct TextKey {
  const char* section;
  const char* name;
  std::string TncConfig::*field;
};

constexpr IntKey int_keys[] = {
    {"modem", "GR_ReceivePort", &TncConfig::GR_ReceivePort},
    {"modem", "GR_TransmitPort", &TncConfig::GR_TransmitPort},
    {"KISS", "KISS_Port", &TncConfig::KISS_Port},
    {"KISS", "MaxClients", &TncConfig::MaxClients},
    {"radio", "PreambleLength", &TncConfig::PreambleLength},
    {"radio", "PostambleLength", &TncConfig::PostambleLength},
    {"modem", "VerboseLevel", &TncConfig::VerboseLevel},
    {"rigctld", "KeyUpDelay", &TncConfig::KeyUpDelay},
    {"rigctld", "KeyDownDelay", &TncConfig::KeyDownDelay},
    {"modem", "SyncBitErrors", &TncConfig::SyncBitErrors},
    {"modem", "StatsInterval", &TncConfig::StatsInterval},
    {"modem", "ModemSilence", &TncConfig::ModemSilence},
    {"modem", "PacketLog", &TncConfig::PacketLog},
    {"modem", "StreamRecording", &TncConfig::StreamRecording},
    {"modem", "RecordingLimitMB", &TncConfig::RecordingLimitMB},
};

constexpr TextKey text_keys[] = {
    {"radio", "CallFrom", &TncConfig::CallFrom},
    {"rigctld", "PTT_ON_Command", &TncConfig::PTT_ON_Command},
    {"rigctld", "PPT_OFF_Command", &TncConfig::PPT_OFF_Command},
    {"rigctld", "Address", &TncConfig::Address},
    {"rigctld", "Port", &TncConfig::Port},
    {"KISS", "KISS_Address", &TncConfig::KISS_Address},
    {"modem", "GR_ReceiveAddress", &TncConfig::GR_ReceiveAddress},
    {"modem", "Acquisition", &TncConfig::Acquisition},
    // The unkey command's key is spelled PPT; the spelling an operator expects is taken too.
    {"rigctld", "PTT_OFF_Command", &TncConfig::PPT_OFF_Command},
};

// Keys of the file that the TNC itself does not read: the modem's own
// settings in the default file.
constexpr std::pair<const char*, const char*> other_keys[] = {
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
bool other_section(std::string_view section) { return section == "forward"; }

std::pair<std::string_view, std::string_view> as_pair(const IntKey& key) {
  return {key.section, key.name};
}
std::pair<std::string_view, std::string_view> as_pair(const TextKey& key) {
  return {key.section, key.name};
}
std::pair<std::string_view, std::string_view> as_pair(
    const std::pair<const char*, const char*>& key) {
  return {key.first, key.second};
}

// atoi's reading: blanks, an optional sign, then digits up to the first other
// character. Unlike atoi it saturates instead of overflowing, and says so in
// `saturated`. `rest` is what follows the digits.
int32_t leading_integer(const char* text, const char** rest, bool* saturated) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  const char* digits = text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > int64_t{INT32_MAX} + 1) {  // beyond either end: no need to read on
      while (*text >= '0' && *text <= '9') ++text;
      break;
    }
  }
  *rest = text == digits ? nullptr : text;
  if (negative) value = -value;
  *saturated = value > INT32_MAX || value < INT32_MIN;
  value = std::clamp<int64_t>(value, INT32_MIN, INT32_MAX);
  return static_cast<int32_t>(value);
}

// inih's reader over a file or text. It hands inih one line at a time, up
// to config_line_limit characters; a longer line would reach inih in pieces,
// each read as a line of its own, so it is swallowed whole and handed over as
// an empty line, which keeps inih's line count.
struct LineSource {
  std::FILE* file = nullptr;  // read from when set
  std::string_view text;      // else read from here
  int line = 0;               // lines handed to inih so far
  int first_long_line = 0;    // 0: none yet
  std::vector<std::string>* notes = nullptr;
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
      source.notes->push_back("Config: line " + std::to_string(source.line) + " is longer than " +
                              std::to_string(config_line_limit) + " characters; ignored\n");
    }
  }
  buffer[kept] = '\0';
  return buffer;
}

int parse_ini(LineSource& source, IniHandler handler, void* user) {
  const int first_error = ini_parse_stream(read_line, &source, handler, user);
  if (source.first_long_line == 0) return first_error;
  return first_error == 0 ? source.first_long_line : std::min(first_error, source.first_long_line);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

namespace {

struct ConfigReader {
  TncConfig* config = nullptr;
  std::vector<std::string>* notes = nullptr;
};

bool known_section(std::string_view section) {
  auto in = [&](const auto& keys) {
    return std::any_of(std::begin(keys), std::end(keys),
                       [&](const auto& key) { return section == std::get<0>(as_pair(key)); });
  };
  return in(int_keys) || in(text_keys) || in(other_keys) || other_section(section);
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

// The key of `section` nearest to `name`, when one is close enough to be a slip.
std::optional<std::string> nearest_key(std::string_view section, std::string_view name) {
  constexpr size_t close = 2;
  std::optional<std::string> best;
  size_t best_distance = close + 1;
  auto consider = [&](const auto& keys) {
    for (const auto& key : keys) {
      const auto [key_section, key_name] = as_pair(key);
      if (section != key_section) continue;
      const size_t d = name_distance(name, key_name);
      if (d < best_distance) {
        best_distance = d;
        best = key_name;
      }
    }
  };
  consider(int_keys);
  consider(text_keys);
  consider(other_keys);
  return best;
}

void note(const ConfigReader& reader, std::string text) {
  if (reader.notes != nullptr) reader.notes->push_back(std::move(text));
}

int config_handler(void* user, const char* section, const char* name, const char* value) {
  const auto& reader = *static_cast<ConfigReader*>(user);
  TncConfig& config = *reader.config;
  for (const IntKey& key : int_keys) {
    if (std::strcmp(section, key.section) == 0 && std::strcmp(name, key.name) == 0) {
      const char* rest = nullptr;
      bool saturated = false;
      config.*key.field = leading_integer(value, &rest, &saturated);
      const std::string read_as = std::to_string(config.*key.field);
      if (saturated) {
        note(reader, "Config: " + std::string(name) + " = " + value +
                         " is beyond what a number here can hold; read as " + read_as + "\n");
      } else if (rest == nullptr) {
        // atoi would read 0, which hides every console line for VerboseLevel
        // and turns ModemSilence off: the key keeps its in-code default.
        config.*key.field = TncConfig{}.*key.field;
        note(reader, "Config: " + std::string(name) + " = " + value + " is not a number; using " +
                         std::to_string(config.*key.field) + "\n");
      } else if (*rest != '\0') {
        note(reader, "Config: " + std::string(name) + " = " + value +
                         " has text after the number; read as " + read_as + "\n");
      }
      return 1;
    }
  }
  if (std::strcmp(section, "modem") == 0 && std::strcmp(name, "Input") == 0) {
    const bool soft = std::strcmp(value, "soft8") == 0;
    if (!soft && std::strcmp(value, "bits") != 0) {
      note(reader,
           "Config: Input = " + std::string(value) + " is neither bits nor soft8; using bits\n");
    }
    config.Input = soft ? ModemInput::soft8 : ModemInput::bits;
    return 1;
  }
  for (const TextKey& key : text_keys) {
    if (std::strcmp(section, key.section) == 0 && std::strcmp(name, key.name) == 0) {
      config.*key.field = std::string(value, strnlen(value, config_text_limit));
      return 1;
    }
  }
  for (const auto& [key_section, key_name] : other_keys) {
    if (std::strcmp(section, key_section) == 0 && std::strcmp(name, key_name) == 0) return 1;
  }
  if (other_section(section)) return 1;
  if (!known_section(section)) {
    note(reader,
         "Config: unknown section [" + std::string(section) + "] (key " + name + " ignored)\n");
  } else if (const std::optional<std::string> near = nearest_key(section, name)) {
    note(reader, "Config: unknown key " + std::string(name) + " in [" + section +
                     "] ignored; did you mean " + *near + "?\n");
  } else {
    note(reader, "Config: unknown key " + std::string(name) + " in [" + section + "] ignored\n");
  }
  return 0;
}

}  // namespace

int parse_ini_file(std::FILE* file, IniHandler handler, void* user,
                   std::vector<std::string>* notes) {
  LineSource source;
  source.file = file;
  source.notes = notes;
  return parse_ini(source, handler, user);
}

int parse_ini_text(std::string_view text, IniHandler handler, void* user,
                   std::vector<std::string>* notes) {
  LineSource source;
  source.text = text;
  source.notes = notes;
  return parse_ini(source, handler, user);
}

int load_config(const std::string& path, TncConfig& config, std::vector<std::string>* notes) {
  errno = 0;  // open_regular_file sets it only when the open itself fails
  std::unique_ptr<std::FILE, FileCloser> file(open_regular_file(path));
  if (!file) return -1;
  ConfigReader reader{&config, notes};
  return parse_ini_file(file.get(), config_handler, &reader, notes);
}

int load_config_text(std::string_view text, TncConfig& config, std::vector<std::string>* notes) {
  ConfigReader reader{&config, notes};
  return parse_ini_text(text, config_handler, &reader, notes);
}

namespace {

using Refusals = std::vector<std::string>;

void refuse_int(Refusals& out, const char* name, int32_t& field, int32_t fallback,
                const char* range) {
  out.push_back("Config: " + std::string(name) + " = " + std::to_string(field) + " is outside " +
                range + "; using " + std::to_string(fallback) + "\n");
  field = fallback;
}

void check_port(Refusals& out, const char* name, int32_t& field, int32_t fallback) {
  if (field < 1 || field > 65535) refuse_int(out, name, field, fallback, "1 ... 65535");
}

void check_command(Refusals& out, const char* name, std::string& field,
                   const std::string& fallback) {
  if (field.size() > keying_command_limit) {
    out.push_back("Config: " + std::string(name) + " is " + std::to_string(field.size()) +
                  " characters long, more than " + std::to_string(keying_command_limit) +
                  "; using \"" + fallback + "\"\n");
    field = fallback;
  }
}

// An address that does not parse would open the port to every interface;
// it falls back to loopback instead, so that a slip never widens access.
void check_address(Refusals& out, const char* name, std::string& field) {
  if (field.empty()) return;
  if (field == "localhost") {
    field = "127.0.0.1";
    return;
  }
  if (!parse_ipv4(field.c_str())) {
    out.push_back("Config: " + std::string(name) + " = " + field +
                  " is not an IPv4 address; listening on 127.0.0.1 only\n");
    field = "127.0.0.1";
  }
}

// rigctld's port: a number of 1 ... 65535, not a service name, so that the
// resolver can never wrap a large number to another port. Without one, a set
// Address would fail every keying: rigctld's own default port is taken.
void check_service_port(Refusals& out, std::string& field, const std::string& address) {
  constexpr const char* fallback = "4532";
  if (field.empty()) {
    if (address.empty()) return;
    out.push_back(std::string("Config: Address is set but Port is empty; using ") + fallback +
                  "\n");
    field = fallback;
    return;
  }
  const bool digits = field.size() <= 5 && std::all_of(field.begin(), field.end(),
                                                       [](char c) { return c >= '0' && c <= '9'; });
  if (digits && std::stoi(field) >= 1 && std::stoi(field) <= 65535) return;
  out.push_back("Config: Port = " + field + " is outside 1 ... 65535; using " + fallback + "\n");
  field = fallback;
}

}  // namespace

std::vector<std::string> check_config_ranges(TncConfig& config) {
  const TncConfig defaults;
  Refusals out;
  check_port(out, "GR_ReceivePort", config.GR_ReceivePort, defaults.GR_ReceivePort);
  check_port(out, "GR_TransmitPort", config.GR_TransmitPort, defaults.GR_TransmitPort);
  check_port(out, "KISS_Port", config.KISS_Port, defaults.KISS_Port);
  if (config.PreambleLength < 0 || config.PreambleLength > 10000) {
    refuse_int(out, "PreambleLength", config.PreambleLength, defaults.PreambleLength,
               "0 ... 10000");
  }
  if (config.PostambleLength < 0 || config.PostambleLength > 10000) {
    refuse_int(out, "PostambleLength", config.PostambleLength, defaults.PostambleLength,
               "0 ... 10000");
  }
  if (config.KeyUpDelay < 0) {
    refuse_int(out, "KeyUpDelay", config.KeyUpDelay, 0, "0 ... 2147483647");
  }
  if (config.KeyDownDelay < 0) {
    refuse_int(out, "KeyDownDelay", config.KeyDownDelay, 0, "0 ... 2147483647");
  }
  check_command(out, "PTT_ON_Command", config.PTT_ON_Command, defaults.PTT_ON_Command);
  check_command(out, "PPT_OFF_Command", config.PPT_OFF_Command, defaults.PPT_OFF_Command);
  // Sending nothing can never unkey what the on command keyed.
  if (config.PPT_OFF_Command.empty() && !config.PTT_ON_Command.empty()) {
    out.push_back(
        "Config: PPT_OFF_Command is empty and could never unkey the transmitter; using \"" +
        defaults.PPT_OFF_Command + "\"\n");
    config.PPT_OFF_Command = defaults.PPT_OFF_Command;
  }
  if (config.MaxClients < 1 || config.MaxClients > 16) {
    refuse_int(out, "MaxClients", config.MaxClients, defaults.MaxClients, "1 ... 16");
  }
  check_address(out, "KISS_Address", config.KISS_Address);
  check_address(out, "GR_ReceiveAddress", config.GR_ReceiveAddress);
  check_service_port(out, config.Port, config.Address);
  if (config.Acquisition != "described" && config.Acquisition != "robust") {
    out.push_back("Config: Acquisition = " + config.Acquisition +
                  " is neither described nor robust; using described\n");
    config.Acquisition = defaults.Acquisition;
  }
  if (config.SyncBitErrors < 0 || config.SyncBitErrors > robust_max_sync_bit_errors) {
    refuse_int(out, "SyncBitErrors", config.SyncBitErrors, defaults.SyncBitErrors, "0 ... 8");
  }
  if (config.StatsInterval < 0) {
    refuse_int(out, "StatsInterval", config.StatsInterval, 0, "0 ... 2147483647");
  }
  if (config.ModemSilence < 0) {
    refuse_int(out, "ModemSilence", config.ModemSilence, defaults.ModemSilence, "0 ... 2147483647");
  }
  if (config.PacketLog != 0 && config.PacketLog != 1) {
    refuse_int(out, "PacketLog", config.PacketLog, defaults.PacketLog, "0 ... 1");
  }
  if (config.StreamRecording != 0 && config.StreamRecording != 1) {
    refuse_int(out, "StreamRecording", config.StreamRecording, defaults.StreamRecording,
               "0 ... 1");
  }
  if (config.RecordingLimitMB < 0) {
    refuse_int(out, "RecordingLimitMB", config.RecordingLimitMB, defaults.RecordingLimitMB,
               "0 ... 2147483647");
  }
  return out;
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
