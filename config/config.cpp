#include "config/config.hpp"

#include <ini.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
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
    {"radio", "PreambleLength", &TncConfig::PreambleLength},
    {"radio", "PostambleLength", &TncConfig::PostambleLength},
    {"modem", "VerboseLevel", &TncConfig::VerboseLevel},
    {"rigctld", "KeyUpDelay", &TncConfig::KeyUpDelay},
    {"rigctld", "KeyDownDelay", &TncConfig::KeyDownDelay},
};

constexpr TextKey text_keys[] = {
    {"radio", "CallFrom", &TncConfig::CallFrom},
    {"rigctld", "PTT_ON_Command", &TncConfig::PTT_ON_Command},
    {"rigctld", "PPT_OFF_Command", &TncConfig::PPT_OFF_Command},
    {"rigctld", "Address", &TncConfig::Address},
    {"rigctld", "Port", &TncConfig::Port},
    {"KISS", "KISS_Address", &TncConfig::KISS_Address},
    {"modem", "GR_ReceiveAddress", &TncConfig::GR_ReceiveAddress},
};

// atoi's reading: blanks, an optional sign, then digits up to the first other
// character. Unlike atoi it saturates instead of overflowing.
int32_t leading_integer(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  int64_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > INT32_MAX) {
      value = int64_t{INT32_MAX} + 1;
      while (*text >= '0' && *text <= '9') ++text;
      break;
    }
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  return static_cast<int32_t>(value);
}

// inih's reader: one line of at most 199 characters into a 200-byte buffer.
char* read_file_line(char* line, int size, void* stream) {
  return std::fgets(line, size < 200 ? size : 200, static_cast<std::FILE*>(stream));
}

struct TextStream {
  std::string_view rest;
};

char* read_text_line(char* line, int size, void* stream) {
  auto* text = static_cast<TextStream*>(stream);
  if (text->rest.empty() || size < 2) return nullptr;
  size_t limit = static_cast<size_t>(size < 200 ? size : 200) - 1;
  size_t n = 0;
  while (n < limit && n < text->rest.size()) {
    if (text->rest[n++] == '\n') break;
  }
  std::memcpy(line, text->rest.data(), n);
  line[n] = '\0';
  text->rest.remove_prefix(n);
  return line;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int config_handler(void* user, const char* section, const char* name, const char* value) {
  auto& config = *static_cast<TncConfig*>(user);
  for (const IntKey& key : int_keys) {
    if (std::strcmp(section, key.section) == 0 && std::strcmp(name, key.name) == 0) {
      config.*key.field = leading_integer(value);
      return 1;
    }
  }
  for (const TextKey& key : text_keys) {
    if (std::strcmp(section, key.section) == 0 && std::strcmp(name, key.name) == 0) {
      config.*key.field = std::string(value, strnlen(value, config_text_limit));
      return 1;
    }
  }
  return 0;
}

int load_config(const std::string& path, TncConfig& config) {
  std::unique_ptr<std::FILE, FileCloser> file(open_regular_file(path));
  if (!file) return -1;
  return ini_parse_stream(read_file_line, file.get(), config_handler, &config);
}

int load_config_text(std::string_view text, TncConfig& config) {
  TextStream stream{text};
  return ini_parse_stream(read_text_line, &stream, config_handler, &config);
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

void check_address(Refusals& out, const char* name, std::string& field) {
  if (!field.empty() && !parse_ipv4(field.c_str())) {
    out.push_back("Config: " + std::string(name) + " = " + field +
                  " is not an IPv4 address; listening on all interfaces\n");
    field.clear();
  }
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
  check_address(out, "KISS_Address", config.KISS_Address);
  check_address(out, "GR_ReceiveAddress", config.GR_ReceiveAddress);
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
