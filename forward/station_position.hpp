#pragma once
// The station's position as the team server's form takes it: absolute
// decimal degrees followed by the hemisphere letter ("52.52N", "13.40E"),
// from [forward] Latitude and Longitude or, when both are empty, from the
// centre of the Maidenhead Locator.

#include <optional>
#include <string>
#include <string_view>

#include "forward/forward_config.hpp"

namespace kestrelis {

struct StationPosition {
  std::string latitude;   // "52.52N"
  std::string longitude;  // "13.40E"
};

// `degrees` ("-13.40", "+52.52", "7") as its absolute value, the decimals as
// written (".0" added to a whole number), followed by `positive` or, for a value with a minus sign,
// `negative`; none unless it is an optionally signed decimal number with a
// point (not a comma) of at most `limit` degrees in size.
[[nodiscard]] std::optional<std::string> hemisphere_degrees(std::string_view degrees, int limit,
                                                            char positive, char negative);

// The centre of the square a 4- or 6-character Maidenhead locator names
// (letters of either case), with 4 decimals; none for anything else.
[[nodiscard]] std::optional<StationPosition> locator_centre(std::string_view locator);

// Latitude and Longitude when both are set, else the Locator's centre when
// both are empty; none when that gives no position (forward_config_problems
// says why).
[[nodiscard]] std::optional<StationPosition> station_position(const ForwardConfig& config);

}  // namespace kestrelis
