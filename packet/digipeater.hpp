#pragma once
// The downlink digipeater message (port 29): byte 0 not interpreted, byte 1
// the message kind, then the text.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace kestrelis {

// The message kind of a text message; every other kind is ignored.
constexpr uint8_t digipeater_text_message = 3;

// Byte 1 of a port-29 payload; none when the payload is shorter than 2 bytes.
[[nodiscard]] std::optional<uint8_t> digipeater_message_kind(std::span<const uint8_t> payload);

// The text of a port-29 payload: from byte 2 up to its first zero byte or its
// end; empty when there is none. Borrows from `payload`.
[[nodiscard]] std::string_view digipeater_message_text(std::span<const uint8_t> payload);

}  // namespace kestrelis
