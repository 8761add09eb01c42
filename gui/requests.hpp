#pragma once
// The operator's requests from the GUI: commands and digipeater messages.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// Acts on the data of one frame from the GUI, read up to its first zero
// byte: "cmd:" with "list", "count" or "ping" sends that command; anything
// else is a digipeater request line ("QQ0ABC>QQ0XYZ, Kestrelis, STORE=0
// message"), checked field by field and transmitted. Refusals are printed on
// the console; the confirmation and the call-sign warnings go to the GUI.
// Returns when the transmission is over.
void handle_gui_request(std::span<const uint8_t> data);

// `text` without its space characters (0x20); the others keep their order.
[[nodiscard]] std::string strip_spaces(std::string_view text);
