#pragma once
// The forwarder's settings: the [forward] section of config.ini and the
// station's call sign from [radio].

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrelis {

// Values as written in the file, blanks around them removed by the INI reader.
struct ForwardConfig {
  std::string URL;        // [forward] the team server's address, http:// or https://
  std::string NoradID;    // [forward] the satellite's catalogue number
  std::string Locator;    // [forward] the station's Maidenhead locator
  std::string Latitude;   // [forward] the station's latitude, decimal degrees, north positive
  std::string Longitude;  // [forward] the station's longitude, decimal degrees, east positive
  std::string CallFrom;   // [radio] the station's call sign
  std::vector<std::string> notes = {};  // console messages about lines too long, ignored
};

// Reads the keys above from INI `text`, through the same INI reader as the
// TNC; every other section and key belongs to the TNC and is passed over. A
// line too long for the reader is ignored whole and named in `notes`.
[[nodiscard]] ForwardConfig read_forward_config(std::string_view text);

// The same from the file at `path`; none when it is not a regular file that
// can be read.
[[nodiscard]] std::optional<ForwardConfig> load_forward_config(const std::string& path);

// What keeps the forwarder from sending, one console message (with its line
// end) per problem: no URL or one that is not http(s), a NoradID that is not
// a number, no call sign, NOCALL or one longer than 45 characters, no
// position (Latitude and Longitude, or, both empty, a 4- or 6-character
// Locator) or a malformed one, each naming its key. Empty when it can start.
[[nodiscard]] std::vector<std::string> forward_config_problems(const ForwardConfig& config);

}  // namespace kestrelis
