#pragma once
// A stream send bounded as a whole, for a peer that may stop reading.

#include <cstdint>
#include <span>

// Sends all of `bytes` on a stream within `timeout_ms` altogether, continuing
// short writes. Returns 0, the error number of a failed send, or EAGAIN when
// the time ran out with bytes still unsent. Never raises SIGPIPE.
int send_all_within(int fd, std::span<const uint8_t> bytes, int timeout_ms);
