#pragma once
// The forwarder's settings: the [forward] section of config.ini and the
// station's call sign from [radio].

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "config/settings.hpp"

namespace kestrelis {

// X(section, key, type, default, fallback, check), as the TNC's list (settings.hpp).
// Values as written in the file, blanks around them removed by the INI reader.
#define KESTRELIS_FORWARD_SETTINGS(X)                           \
  /* the team server's address, http:// or https:// */          \
  X(forward, URL, std::string, "", "", any_value)               \
  /* the satellite's catalogue number */                        \
  X(forward, NoradID, std::string, "", "", any_value)           \
  /* the station's Maidenhead locator */                        \
  X(forward, Locator, std::string, "", "", any_value)           \
  /* the station's latitude, decimal degrees, north positive */ \
  X(forward, Latitude, std::string, "", "", any_value)          \
  /* the station's longitude, decimal degrees, east positive */ \
  X(forward, Longitude, std::string, "", "", any_value)         \
  /* the station's call sign */                                 \
  X(radio, CallFrom, std::string, "", "", any_value)

struct ForwardConfig {
#define KESTRELIS_MEMBER(section, key, type, initial, fallback, check) type key = type(initial);
  KESTRELIS_FORWARD_SETTINGS(KESTRELIS_MEMBER)
#undef KESTRELIS_MEMBER
  std::vector<ConfigNote> notes = {};  // lines too long, ignored
};

// Calls visit(row, member) for every row of the list, in order.
template <class Config, class Visit>
requires std::is_same_v<std::remove_const_t<Config>, ForwardConfig>
void visit_settings(Config& config, Visit&& visit) {
#define KESTRELIS_VISIT(section, key, type, initial, fallback, check)                             \
  visit(                                                                                          \
      SettingRow<type>{#section, #key, RowValue<type>(initial), RowValue<type>(fallback), check}, \
      config.key);
  KESTRELIS_FORWARD_SETTINGS(KESTRELIS_VISIT)
#undef KESTRELIS_VISIT
}

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
