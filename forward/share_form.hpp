#pragma once
// One logged packet as the form a team server takes in the Simple Downlink
// Share Convention.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/packet_log.hpp"
#include "forward/forward_config.hpp"

namespace kestrelis {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// The fields of `packet` in the order the convention lists them: noradID,
// source (the call sign), timestamp (the log's UTC receive time, ISO 8601),
// frame (the whole packet in upper-case hex), then locator, longitude and
// latitude when the configuration gives them.
[[nodiscard]] FormFields share_fields(const ForwardConfig& config, const LoggedPacket& packet);

// application/x-www-form-urlencoded text of `fields`: name=value joined by
// '&', every byte but letters, digits and -._~ written as %XX.
[[nodiscard]] std::string urlencode_form(const FormFields& fields);

}  // namespace kestrelis
