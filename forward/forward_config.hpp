#pragma once
// The forwarder's settings: the [forward] section of config.ini and the
// station's call sign from [radio].

#include <cstdint>
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

// What keeps the forwarder from sending, found by forward_config_problems and
// made into its console line only by forward_problem_text.
enum class ForwardProblemKind : uint8_t {
  missing,                 // URL, NoradID or CallFrom empty (CallFrom NOCALL too)
  not_http,                // URL neither http:// nor https://
  not_a_catalogue_number,  // NoradID not 1 to 9 digits
  too_long,                // CallFrom longer than `limit` characters
  no_position,             // Latitude, Longitude and Locator all empty; no key
  not_a_locator,           // Locator not a 4- or 6-character Maidenhead locator
  other_coordinate_only,   // key (Latitude or Longitude) empty, the other set
  not_degrees,             // key (Latitude or Longitude) not decimal degrees within +-limit
};

struct ForwardProblem {
  ForwardProblemKind kind = ForwardProblemKind::missing;
  std::string key = {};    // as in the file
  std::string value = {};  // as written
  int limit = 0;
};

// The problems of `config`: those of URL, NoradID and CallFrom, then of the
// position. Empty when the forwarder can start.
[[nodiscard]] std::vector<ForwardProblem> forward_config_problems(const ForwardConfig& config);

// The console line of a problem, with its line end, naming its key, e.g.
// "Config: no URL in [forward]: the team server to send packets to\n".
[[nodiscard]] std::string forward_problem_text(const ForwardProblem& problem);

}  // namespace kestrelis
