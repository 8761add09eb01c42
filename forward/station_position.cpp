#include "forward/station_position.hpp"

#include <cmath>
#include <cstdio>

namespace kestrelis {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The place of `c` in the range from `first` to `last` (either case for
// letters); -1 outside it.
int place_in(char c, char first, char last) {
  const char l = lower(c);
  return l >= lower(first) && l <= lower(last) ? l - lower(first) : -1;
}

std::string degrees_text(double degrees, char positive, char negative) {
  char text[32];
  (void)std::snprintf(text, sizeof text, "%.4f%c", std::fabs(degrees),
                      degrees < 0 ? negative : positive);
  return text;
}

}  // namespace

std::optional<std::string> hemisphere_degrees(std::string_view degrees, int limit, char positive,
                                              char negative) {
  std::string_view number = degrees;
  const bool minus = !number.empty() && number.front() == '-';
  if (!number.empty() && (number.front() == '-' || number.front() == '+')) number.remove_prefix(1);
  const size_t point = number.find('.');
  const std::string_view whole = number.substr(0, point);
  const std::string_view fraction =
      point == std::string_view::npos ? std::string_view() : number.substr(point + 1);
  const auto all_digits = [](std::string_view text) {
    for (const char c : text) {
      if (!is_digit(c)) return false;
    }
    return true;
  };
  if (whole.empty() || whole.size() > 3 || !all_digits(whole) || !all_digits(fraction) ||
      (point != std::string_view::npos && fraction.empty())) {
    return std::nullopt;
  }
  int integer = 0;
  for (const char c : whole) integer = integer * 10 + (c - '0');
  bool fraction_zero = true;
  for (const char c : fraction) fraction_zero = fraction_zero && c == '0';
  if (integer > limit || (integer == limit && !fraction_zero)) return std::nullopt;
  // The team's database takes a number only with its point.
  return std::string(number) + (point == std::string_view::npos ? ".0" : "") +
         (minus ? negative : positive);
}

std::optional<StationPosition> locator_centre(std::string_view locator) {
  if (locator.size() != 4 && locator.size() != 6) return std::nullopt;
  const int field_lon = place_in(locator[0], 'A', 'R');
  const int field_lat = place_in(locator[1], 'A', 'R');
  const int square_lon = place_in(locator[2], '0', '9');
  const int square_lat = place_in(locator[3], '0', '9');
  if (field_lon < 0 || field_lat < 0 || square_lon < 0 || square_lat < 0) return std::nullopt;
  // A field is 20 by 10 degrees, a square 2 by 1, a subsquare 5 by 2.5 minutes.
  double longitude = -180.0 + field_lon * 20.0 + square_lon * 2.0;
  double latitude = -90.0 + field_lat * 10.0 + square_lat * 1.0;
  if (locator.size() == 6) {
    const int sub_lon = place_in(locator[4], 'a', 'x');
    const int sub_lat = place_in(locator[5], 'a', 'x');
    if (sub_lon < 0 || sub_lat < 0) return std::nullopt;
    longitude += sub_lon * (5.0 / 60.0) + 2.5 / 60.0;
    latitude += sub_lat * (2.5 / 60.0) + 1.25 / 60.0;
  } else {
    longitude += 1.0;
    latitude += 0.5;
  }
  return StationPosition{degrees_text(latitude, 'N', 'S'), degrees_text(longitude, 'E', 'W')};
}

std::optional<StationPosition> station_position(const ForwardConfig& config) {
  if (config.Latitude.empty() && config.Longitude.empty()) return locator_centre(config.Locator);
  std::optional<std::string> latitude = hemisphere_degrees(config.Latitude, 90, 'N', 'S');
  std::optional<std::string> longitude = hemisphere_degrees(config.Longitude, 180, 'E', 'W');
  if (!latitude || !longitude) return std::nullopt;
  return StationPosition{std::move(*latitude), std::move(*longitude)};
}

}  // namespace kestrelis
