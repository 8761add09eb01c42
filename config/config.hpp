#pragma once
// The TNC's settings: one list from which come the configuration record, its
// in-code defaults, the INI key handler, the checks and the notes (the
// machinery is in settings.hpp), and the default file text.
//
// A new setting is one row of KESTRELIS_TNC_SETTINGS: its member, default,
// range and fallback follow; reading, checking, notes and the dump need no
// other change.

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/settings.hpp"
#include "wire/robust_detector.hpp"

namespace kestrelis {

// The frame search of the receive loop (the Acquisition key).
enum class AcquisitionMode : uint8_t { described, robust };
inline constexpr std::array<std::string_view, 2> acquisition_names = {"described", "robust"};
constexpr std::span<const std::string_view> choice_names(AcquisitionMode) {
  return acquisition_names;
}

// What each modem datagram carries (the Input key): packed hard bits, or one
// signed byte per bit whose sign is the bit and magnitude the confidence.
enum class ModemInput : uint8_t { bits, soft8 };
inline constexpr std::array<std::string_view, 2> modem_input_names = {"bits", "soft8"};
constexpr std::span<const std::string_view> choice_names(ModemInput) { return modem_input_names; }

// Longest keying command the rigctld client sends.
constexpr size_t keying_command_limit = 99;

// X(section, key, type, default, fallback, check). Rows are in the order in
// which replaced values are reported; rules that read another key (the off
// command reads PTT_ON_Command, Port reads Address) come after it.
#define KESTRELIS_TNC_SETTINGS(X)                                                                  \
  /* UDP port for the modem's bit stream */                                                        \
  X(modem, GR_ReceivePort, uint16_t, 53010, 53010, within(1, 65535))                               \
  /* UDP port on 127.0.0.1 for uplink frames */                                                    \
  X(modem, GR_TransmitPort, uint16_t, 53011, 53011, within(1, 65535))                              \
  /* TCP port for the GUI */                                                                       \
  X(KISS, KISS_Port, uint16_t, 53013, 53013, within(1, 65535))                                     \
  /* 0xAA bytes before each frame */                                                               \
  X(radio, PreambleLength, int32_t, 50, 50, within(0, 10000))                                      \
  /* 0xAA bytes after each frame */                                                                \
  X(radio, PostambleLength, int32_t, 0, 0, within(0, 10000))                                       \
  /* highest level of levelled console lines */                                                    \
  X(modem, VerboseLevel, int32_t, 1, 1, any_value)                                                 \
  /* the station's call sign; payload of "ping" */                                                 \
  X(radio, CallFrom, std::string, "", "", any_value)                                               \
  /* between keying and sending */                                                                 \
  X(rigctld, KeyUpDelay, std::chrono::milliseconds, 0, 0, not_negative)                            \
  /* between the end of air time and unkeying */                                                   \
  X(rigctld, KeyDownDelay, std::chrono::milliseconds, 0, 0, not_negative)                          \
  /* keys the transmitter */                                                                       \
  X(rigctld, PTT_ON_Command, std::string, "T 1", "T 1", text_rule(TextRule::keying_command))       \
  /* unkeys it (PPT is the key's spelling) */                                                      \
  X(rigctld, PPT_OFF_Command, std::string, "T 0", "T 0", text_rule(TextRule::unkeying_command))    \
  /* GUI clients served at once */                                                                 \
  X(KISS, MaxClients, int32_t, 1, 1, within(1, 16))                                                \
  /* address the GUI port binds to; empty: all */                                                  \
  X(KISS, KISS_Address, std::string, "", "127.0.0.1", text_rule(TextRule::bind_address))           \
  /* address the modem port binds to; empty: all */                                                \
  X(modem, GR_ReceiveAddress, std::string, "", "127.0.0.1", text_rule(TextRule::bind_address))     \
  /* rigctld's host; empty: no rigctld at all */                                                   \
  X(rigctld, Address, std::string, "", "", any_value)                                              \
  /* rigctld's port, as a service name; 4532 is rigctld's own */                                   \
  X(rigctld, Port, std::string, "", "4532", text_rule(TextRule::rigctld_port))                     \
  /* what a datagram carries: packed bits, or one signed byte per bit */                           \
  X(modem, Input, ModemInput, ModemInput::bits, ModemInput::bits, any_value)                        \
  /* frame search */                                                                               \
  X(modem, Acquisition, AcquisitionMode, AcquisitionMode::described, AcquisitionMode::described,   \
    any_value)                                                                                     \
  /* robust search: wrong sync bits taken */                                                       \
  X(modem, SyncBitErrors, int32_t, robust_default_sync_bit_errors, robust_default_sync_bit_errors, \
    within(0, robust_max_sync_bit_errors))                                                         \
  /* between statistics lines; 0: never */                                                         \
  X(modem, StatsInterval, std::chrono::seconds, 0, 0, not_negative)                                \
  /* without data before a warning; 0: off */                                                      \
  X(modem, ModemSilence, std::chrono::seconds, 10, 10, not_negative)                               \
  /* every accepted packet to Kestrelis/packets */                                                 \
  X(modem, PacketLog, bool, true, true, within(0, 1))                                              \
  /* the modem's datagrams to Kestrelis/recordings */                                              \
  X(modem, StreamRecording, bool, false, false, within(0, 1))                                      \
  /* MiB a recording may reach; 0: no limit */                                                     \
  X(modem, RecordingLimitMB, int32_t, 1024, 1024, not_negative)

// Every setting of the TNC, each member named as its key. Default member
// values are the in-code defaults, in force for keys the file does not set.
// Filled by start-up and read-only once the worker threads run.
struct TncConfig {
#define KESTRELIS_MEMBER(section, key, type, initial, fallback, check) type key = type(initial);
  KESTRELIS_TNC_SETTINGS(KESTRELIS_MEMBER)
#undef KESTRELIS_MEMBER
  friend bool operator==(const TncConfig&, const TncConfig&) = default;
};

// Calls visit(row, member) for every row of the list, in order.
template <class Config, class Visit>
requires std::is_same_v<std::remove_const_t<Config>, TncConfig>
void visit_settings(Config& config, Visit&& visit) {
#define KESTRELIS_VISIT(section, key, type, initial, fallback, check)                             \
  visit(                                                                                          \
      SettingRow<type>{#section, #key, RowValue<type>(initial), RowValue<type>(fallback), check}, \
      config.key);
  KESTRELIS_TNC_SETTINGS(KESTRELIS_VISIT)
#undef KESTRELIS_VISIT
}

// Reads the INI file at `path` into `config`. Keys are matched exactly, with
// case, in their section ("PTT_OFF_Command" is taken for "PPT_OFF_Command");
// numbers are read like atoi. Every value the TNC cannot honour is replaced
// by its row's fallback. Returns -1 when the file cannot be opened (errno
// then says why, or is 0 for anything but a regular file), else the number
// of the first line with an error (an unknown key counts), or 0. `notes` gets
// what was read around (a line too long, an unknown section or key, a number
// with text after it or none at all, which keeps the default) in file order,
// then every value replaced, in list order.
[[nodiscard]] int load_config(const std::string& path, TncConfig& config,
                              std::vector<ConfigNote>* notes = nullptr);

// The same from text in memory (tests, fuzzing).
[[nodiscard]] int load_config_text(std::string_view text, TncConfig& config,
                                   std::vector<ConfigNote>* notes = nullptr);

// The commented default config.ini: 44 lines, 1023 characters, "\n" line ends.
std::string_view default_config_text();

}  // namespace kestrelis
