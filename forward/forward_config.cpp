#include "forward/forward_config.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

#include "forward/station_position.hpp"
#include "platform/files.hpp"

namespace kestrelis {

namespace {

// Takes the pairs of the list; every other section and key is the TNC's.
IniTaker taker(SettingsReading<ForwardConfig>& reading) {
  return [&reading](const IniPair& pair) {
    (void)store_setting(reading, pair);
    return true;
  };
}

// No text rule applies to the forwarder's keys.
std::optional<ConfigNote> no_text_rule(const SettingRow<std::string>&, const std::string&) {
  return std::nullopt;
}

// Reads the keys through `parse`, which runs the INI reader with the taker it is given.
template <class Parse>
ForwardConfig read_keys(Parse parse) {
  ForwardConfig config;
  SettingsReading<ForwardConfig> reading = start_reading(config);
  (void)parse(taker(reading), &reading.notes);
  finish_reading(reading, no_text_rule);
  config.notes = std::move(reading.notes);
  return config;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

ForwardConfig read_forward_config(std::string_view text) {
  return read_keys([&](const IniTaker& take, std::vector<ConfigNote>* notes) {
    return parse_ini_text(text, take, notes);
  });
}

std::optional<ForwardConfig> load_forward_config(const std::string& path) {
  const auto close = [](std::FILE* file) { std::fclose(file); };
  const std::unique_ptr<std::FILE, decltype(close)> file(open_regular_file(path), close);
  if (!file) return std::nullopt;
  return read_keys([&](const IniTaker& take, std::vector<ConfigNote>* notes) {
    return parse_ini_file(file.get(), take, notes);
  });
}

std::vector<ForwardProblem> forward_config_problems(const ForwardConfig& config) {
  using enum ForwardProblemKind;
  std::vector<ForwardProblem> problems;
  if (config.URL.empty()) {
    problems.push_back({.kind = missing, .key = "URL"});
  } else if (!starts_with(config.URL, "http://") && !starts_with(config.URL, "https://")) {
    problems.push_back({.kind = not_http, .key = "URL", .value = config.URL});
  }
  const bool digits = !config.NoradID.empty() && config.NoradID.size() <= 9 &&
                      std::all_of(config.NoradID.begin(), config.NoradID.end(),
                                  [](char c) { return c >= '0' && c <= '9'; });
  if (config.NoradID.empty()) {
    problems.push_back({.kind = missing, .key = "NoradID"});
  } else if (!digits) {
    problems.push_back({.kind = not_a_catalogue_number, .key = "NoradID", .value = config.NoradID});
  }
  constexpr int call_sign_limit = 45;  // what the team server takes
  if (config.CallFrom.empty() || config.CallFrom == "NOCALL") {
    problems.push_back({.kind = missing, .key = "CallFrom"});
  } else if (config.CallFrom.size() > call_sign_limit) {
    problems.push_back(
        {.kind = too_long, .key = "CallFrom", .value = config.CallFrom, .limit = call_sign_limit});
  }
  // The team's database refuses a post without the station's position.
  if (config.Latitude.empty() && config.Longitude.empty()) {
    if (config.Locator.empty()) {
      problems.push_back({.kind = no_position});
    } else if (!locator_centre(config.Locator)) {
      problems.push_back({.kind = not_a_locator, .key = "Locator", .value = config.Locator});
    }
    return problems;
  }
  const struct {
    const char* key;
    const std::string* value;
    int limit;
  } coordinates[] = {{"Latitude", &config.Latitude, 90}, {"Longitude", &config.Longitude, 180}};
  for (const auto& c : coordinates) {
    if (c.value->empty()) {
      problems.push_back({.kind = other_coordinate_only, .key = c.key});
    } else if (!hemisphere_degrees(*c.value, c.limit, '+', '-')) {
      problems.push_back({.kind = not_degrees, .key = c.key, .value = *c.value, .limit = c.limit});
    }
  }
  return problems;
}

std::string forward_problem_text(const ForwardProblem& p) {
  const std::string pair = "Config: " + p.key + " = " + p.value;
  const std::string limit = std::to_string(p.limit);
  switch (p.kind) {
    case ForwardProblemKind::missing:
      return "Config: no " + p.key +
             (p.key == "URL"       ? " in [forward]: the team server to send packets to\n"
              : p.key == "NoradID" ? " in [forward]: the satellite's catalogue number\n"
                                   : " in [radio]: the team needs your call sign\n");
    case ForwardProblemKind::not_http:
      return pair + " is neither http:// nor https://\n";
    case ForwardProblemKind::not_a_catalogue_number:
      return pair + " is not a catalogue number\n";
    case ForwardProblemKind::too_long:
      return pair + " is longer than the " + limit + " characters the team server takes\n";
    case ForwardProblemKind::no_position:
      return "Config: no Latitude and Longitude in [forward] (decimal degrees such as 52.52 and "
             "13.40, south and west negative), nor a Locator: the team server needs the "
             "station's position\n";
    case ForwardProblemKind::not_a_locator:
      return pair + " is no 4- or 6-character Maidenhead locator (such as JO62 or JO62qm)\n";
    case ForwardProblemKind::other_coordinate_only:
      return "Config: no " + p.key + " in [forward], though the other coordinate is set\n";
    case ForwardProblemKind::not_degrees:
      return pair + " is not decimal degrees with a point between -" + limit + " and " + limit +
             " (such as " + (p.limit == 90 ? "52.52" : "-13.40") + ")\n";
  }
  return {};
}

}  // namespace kestrelis
