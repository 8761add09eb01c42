#include "text/calendar.hpp"

namespace kestrelis {

namespace {

constexpr int64_t seconds_per_day = 86400;

// Floor division, so that times before 1970 fall on the day before.
int64_t floor_div(int64_t a, int64_t b) { return a / b - (a % b < 0 ? 1 : 0); }

}  // namespace

// Counted in 400-year eras of 146097 days, each year begun on 1 March so that
// the leap day is the last of its year.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t year_of_era = year - era * 400;
  const int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int64_t days_in_month(int64_t year, int64_t month) {
  constexpr int64_t days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  return month == 2 && leap ? 29 : days[month - 1];
}

// The inverse of days_from_civil, in the same eras and March-based years.
CalendarFields utc_fields(int64_t seconds) {
  const int64_t days = floor_div(seconds, seconds_per_day);
  const int64_t second_of_day = seconds - days * seconds_per_day;
  const int64_t z = days + 719468;
  const int64_t era = floor_div(z, 146097);
  const int64_t day_of_era = z - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t month_index = (5 * day_of_year + 2) / 153;  // 0 is March
  const int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<int>(year),
          static_cast<int>(month),
          static_cast<int>(day),
          static_cast<int>(second_of_day / 3600),
          static_cast<int>(second_of_day / 60 % 60),
          static_cast<int>(second_of_day % 60)};
}

}  // namespace kestrelis
