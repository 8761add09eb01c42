#include "app/exit_budget.hpp"

#include <algorithm>
#include <limits>

#include "app/station_archive.hpp"

namespace kestrelis {

int64_t exit_unkey_deadline_ns(bool must_end_soon, int64_t caught_ms) {
  if (!must_end_soon) return std::numeric_limits<int64_t>::max();
  return (caught_ms + end_soon_unkey_ms) * 1'000'000;
}

int exit_drain_ms(bool must_end_soon, int64_t caught_ms, int64_t now_ms) {
  if (!must_end_soon) return archive_drain_ms;
  // An off command that took less than its share leaves the rest to the drain.
  return static_cast<int>(
      std::clamp<int64_t>(caught_ms + end_soon_drain_until_ms - now_ms, 0, archive_drain_ms));
}

}  // namespace kestrelis
