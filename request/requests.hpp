#pragma once
// The operator's requests from the GUI: commands ("cmd:list", "cmd:count",
// "cmd:ping") and digipeater message requests ("QQ0ABC>QQ0XYZ, Kestrelis,
// STORE=0 message"), parsed and checked into the packet to transmit.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// One uplink packet: its payload and CSP addressing. The header has priority
// 2, source 25 and flags 0.
struct UplinkPacket {
  std::vector<uint8_t> payload;
  uint8_t destination = 0;
  uint8_t source_port = 0;
  uint8_t destination_port = 0;
};

// The complete radio frame of `packet`; empty when its payload exceeds 215 bytes.
[[nodiscard]] std::vector<uint8_t> uplink_frame(const UplinkPacket& packet);

// The fields of a message request line "SRC>DST, SAT, KEYWORD=delay message":
// the first four without their spaces, the message as it came.
struct RequestFields {
  std::string source;
  std::string destination;
  std::string satellite;
  std::string keyword;  // "STORE" in a valid request
  int64_t delay = 0;    // seconds; saturates at 2147483647
  std::string message;  // from the first non-space after the character behind the digits
};

// Splits a request line. None when ">" is not among its first 10 characters
// (or is the first), a comma or the "=" is missing, or the delay has over 20 digits.
[[nodiscard]] std::optional<RequestFields> split_request_line(std::string_view line);

// Why a request is refused, with the values its reason names.
enum class RefusalKind : uint8_t {
  unparsable,  // not "SRC>DST, SAT, STORE=delay message", or an unknown satellite
  command_too_long,
  unknown_command,   // value: the command word, each "%" and backslash doubled
  message_too_long,  // limit: bytes
  non_ascii_message,
  improper_callsign,
  improper_satellite,
  relay_delay_too_long,  // limit: seconds
  packet_too_big,        // size and limit: bytes
};

struct Refusal {
  RefusalKind kind = RefusalKind::unparsable;
  std::string value = {};
  size_t size = 0;
  size_t limit = 0;
  bool operator==(const Refusal&) const = default;
};

enum class RequestKind {
  refused,  // `refusal` says why
  command,  // `packet` holds the command, when there is one to send
  message,  // a message request; see `source_nocall`
};

// What one request from the GUI comes to.
struct GuiRequest {
  RequestKind kind = RequestKind::refused;
  Refusal refusal;                  // refused: why
  std::string satellite;            // message: the satellite it is for
  bool destination_nocall = false;  // message: the destination call sign is NOCALL
  bool source_nocall = false;       // message: the source is NOCALL; nothing is sent
  std::string confirmation;         // message: "Transmitted: ..." as the GUI shows it
  std::optional<UplinkPacket> packet;
};

// Parses the data of one frame from the GUI, read up to its first zero byte.
// Every "%" and backslash of the request is doubled in the transmitted line,
// which travels with its terminating zero. "ping" sends `call_from` and is
// dropped silently when it is longer than 9 characters.
[[nodiscard]] GuiRequest parse_gui_request(std::span<const uint8_t> data,
                                           std::string_view call_from);

// `text` without its space characters (0x20); the others keep their order.
[[nodiscard]] std::string strip_spaces(std::string_view text);

}  // namespace kestrelis
