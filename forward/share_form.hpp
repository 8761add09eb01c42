#pragma once
// One logged packet as the form a team server takes in the Simple Downlink
// Share Convention.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/packet_log.hpp"
#include "forward/forward_config.hpp"
#include "forward/station_position.hpp"

namespace kestrelis {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// The fields of `packet` as the convention's other senders post them:
// noradID, source (the call sign), timestamp (the log's UTC receive time,
// ISO 8601 with milliseconds and Z), frame (the whole packet in upper-case
// hex), locator ("longLat": the kind of position that follows), longitude
// and latitude of `position`, and version (the program's).
[[nodiscard]] FormFields share_fields(const ForwardConfig& config, const StationPosition& position,
                                      const LoggedPacket& packet);

// application/x-www-form-urlencoded text of `fields`: name=value joined by
// '&', every byte but letters, digits and -._~ written as %XX.
[[nodiscard]] std::string urlencode_form(const FormFields& fields);

// `url` with the urlencoded `form` as its query string (after '&' when it
// has one already): the other senders repeat the fields there, and a server
// may read them from either place.
[[nodiscard]] std::string share_url(std::string_view url, std::string_view form);

}  // namespace kestrelis
