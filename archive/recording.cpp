#include "archive/recording.hpp"

#include <algorithm>

#include "console/console_log.hpp"
#include "platform/clock.hpp"
#include "wire/bytes.hpp"

namespace kestrelis {

std::vector<uint8_t> pack_recorded_datagram(int64_t received_us,
                                            std::span<const uint8_t> datagram) {
  std::vector<uint8_t> record(record_head_size + datagram.size());
  const auto time = static_cast<uint64_t>(received_us);
  store_be32(std::span(record).first<4>(), static_cast<uint32_t>(time >> 32));
  store_be32(std::span(record).subspan<4, 4>(), static_cast<uint32_t>(time));
  store_be32(std::span(record).subspan<8, 4>(), static_cast<uint32_t>(datagram.size()));
  std::copy(datagram.begin(), datagram.end(), record.begin() + record_head_size);
  return record;
}

RecordingRead unpack_recording(std::span<const uint8_t> file) {
  RecordingRead read;
  if (file.size() < recording_header.size() ||
      !std::equal(recording_header.begin(), recording_header.end(), file.begin())) {
    read.state = RecordingState::not_a_recording;
    return read;
  }
  size_t at = recording_header.size();
  while (at < file.size()) {
    const auto rest = file.subspan(at);
    if (rest.size() < record_head_size) break;
    const uint64_t time =
        (uint64_t{load_be32(rest.first<4>())} << 32) | load_be32(rest.subspan<4, 4>());
    const uint32_t length = load_be32(rest.subspan<8, 4>());
    if (length > recorded_datagram_limit || rest.size() - record_head_size < length) break;
    const auto bytes = rest.subspan(record_head_size, length);
    read.datagrams.push_back(
        {static_cast<int64_t>(time), std::vector<uint8_t>(bytes.begin(), bytes.end())});
    at += record_head_size + length;
  }
  read.good_bytes = at;
  if (at < file.size()) read.state = RecordingState::cut;
  return read;
}

std::string recording_problem(const RecordingRead& read, const std::string& path,
                              size_t file_size) {
  switch (read.state) {
    case RecordingState::whole:
      return "";
    case RecordingState::not_a_recording:
      return format_text("%s is not a Kestrelis stream recording\n", path.c_str());
    case RecordingState::cut:
      break;
  }
  return format_text("%s is damaged after %zu datagrams (byte %zu of %zu): read up to there\n",
                     path.c_str(), read.datagrams.size(), read.good_bytes, file_size);
}

std::string recording_file_name(int64_t utc_ms, int attempt) {
  const CalendarFields t = utc_fields(utc_ms / 1000);
  const std::string suffix = attempt > 0 ? format_text("-%d", attempt) : "";
  return format_text("%04d%02d%02dT%02d%02d%02dZ%s.rec", t.year, t.month, t.day, t.hour, t.minute,
                     t.second, suffix.c_str());
}

}  // namespace kestrelis
