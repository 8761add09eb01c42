#pragma once
// The configuration record, its INI key handler and the default file text.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "wire/robust_detector.hpp"

namespace kestrelis {

// What the modem sends on GR_ReceivePort: packed hard bits, or one signed
// byte per bit (value >= 0 a 1, its magnitude the confidence).
enum class ModemInput { bits, soft8 };

// Every setting of the TNC. Default member values are the in-code defaults,
// in force for keys the file does not set. Text fields hold at most 499
// characters. Filled by start-up and read-only once the worker threads run.
struct TncConfig {
  int32_t GR_ReceivePort = 53010;         // [modem] UDP port for the modem's bit stream
  int32_t GR_TransmitPort = 53011;        // [modem] UDP port on 127.0.0.1 for uplink frames
  int32_t KISS_Port = 53013;              // [KISS] TCP port for the GUI
  int32_t PreambleLength = 50;            // [radio] 0xAA bytes before each frame
  int32_t PostambleLength = 0;            // [radio] 0xAA bytes after each frame
  int32_t VerboseLevel = 1;               // [modem] highest level of levelled console lines
  std::string CallFrom;                   // [radio] the station's call sign; payload of "ping"
  std::string PTT_ON_Command = "T 1";     // [rigctld] keys the transmitter
  std::string PPT_OFF_Command = "T 0";    // [rigctld] unkeys it (PPT is the key's spelling)
  std::string Address;                    // [rigctld] host; empty: no rigctld at all
  std::string Port;                       // [rigctld] port, as a service name
  int32_t KeyUpDelay = 0;                 // [rigctld] ms between keying and sending
  int32_t KeyDownDelay = 0;               // [rigctld] ms between the end of air time and unkeying
  std::string KISS_Address;               // [KISS] address the GUI port binds to; empty: all
  int32_t MaxClients = 1;                 // [KISS] GUI clients served at once (1 ... 16)
  std::string GR_ReceiveAddress;          // [modem] address the modem port binds to; empty: all
  std::string Acquisition = "described";  // [modem] frame search: "described" or "robust"
  int32_t SyncBitErrors = robust_default_sync_bit_errors;  // [modem] robust search: wrong sync bits
  int32_t StatsInterval = 0;              // [modem] seconds between statistics lines; 0: never
  int32_t ModemSilence = 10;              // [modem] seconds without data before a warning; 0: off
  int32_t PacketLog = 1;        // [modem] 1: every accepted packet to Kestrelis/packets; 0: off
  int32_t StreamRecording = 0;  // [modem] 1: the modem's datagrams to Kestrelis/recordings
  int32_t RecordingLimitMB = 1024;  // [modem] MiB a recording may reach; 0: no limit
  ModemInput Input = ModemInput::bits;  // [modem] "bits" or "soft8"
};

// Longest text a text field keeps; longer values are cut.
constexpr size_t config_text_limit = 499;

// Longest keying command the rigctld client sends.
constexpr size_t keying_command_limit = 99;

// Longest line the INI reader takes, in characters without the line end.
constexpr int config_line_limit = 199;

// inih's handler: section, name and value of one pair; nonzero when taken.
using IniHandler = int (*)(void* user, const char* section, const char* name, const char* value);

// Runs inih over an open file, or over text in memory, one line at a time. A
// line longer than config_line_limit is ignored whole and adds
// "Config: line N is longer than 199 characters; ignored\n" to `notes`.
// Returns the number of the first line with an error (a long line counts),
// or 0.
int parse_ini_file(std::FILE* file, IniHandler handler, void* user,
                   std::vector<std::string>* notes);
int parse_ini_text(std::string_view text, IniHandler handler, void* user,
                   std::vector<std::string>* notes);

// Reads the INI file at `path` into `config` through parse_ini_file. Keys are
// matched exactly, with case, in their section ("PTT_OFF_Command" is taken
// for "PPT_OFF_Command"); integers are read like atoi. Returns -1 when the
// file cannot be opened (errno then says why, or is 0 for anything but a
// regular file), else the number of the first line with an error (an unknown
// key counts), or 0. Each mistake that is read around (a line too long, an
// unknown section, an unknown key, a number with text after it) adds one
// console message to `notes`; a value that is no number leaves the key's
// in-code default, with a message too.
int load_config(const std::string& path, TncConfig& config,
                std::vector<std::string>* notes = nullptr);

// The same from text in memory (tests, fuzzing).
int load_config_text(std::string_view text, TncConfig& config,
                     std::vector<std::string>* notes = nullptr);

// Replaces every value the TNC cannot honour by its in-code default. Returns
// one console message (with its line end) per replaced value, naming the key,
// its value and what is used instead.
[[nodiscard]] std::vector<std::string> check_config_ranges(TncConfig& config);

// The commented default config.ini: 44 lines, 1023 characters, "\n" line ends.
std::string_view default_config_text();

}  // namespace kestrelis
