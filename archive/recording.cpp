#include "archive/recording.hpp"

#include <algorithm>

#include "console/console_log.hpp"
#include "text/calendar.hpp"
#include "platform/files.hpp"
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

RecordView next_record(std::span<const uint8_t> rest) {
  RecordView view;
  if (rest.size() < record_head_size) return view;
  const uint64_t time =
      (uint64_t{load_be32(rest.first<4>())} << 32) | load_be32(rest.subspan<4, 4>());
  const uint32_t length = load_be32(rest.subspan<8, 4>());
  if (length == 0 || length > recorded_datagram_limit) {
    view.status = RecordStatus::damaged;
    return view;
  }
  if (rest.size() - record_head_size < length) return view;
  view.status = RecordStatus::whole;
  view.received_us = static_cast<int64_t>(time);
  view.datagram = rest.subspan(record_head_size, length);
  view.size = record_head_size + length;
  return view;
}

namespace {

bool has_header(std::span<const uint8_t> bytes) {
  return bytes.size() >= recording_header.size() &&
         std::equal(recording_header.begin(), recording_header.end(), bytes.begin());
}

}  // namespace

RecordingRead unpack_recording(std::span<const uint8_t> file) {
  RecordingRead read;
  RecordingSummary& s = read.summary;
  s.file_size = file.size();
  if (!has_header(file)) {
    s.state = RecordingState::not_a_recording;
    return read;
  }
  size_t at = recording_header.size();
  for (RecordView r; (r = next_record(file.subspan(at))).status == RecordStatus::whole;
       at += r.size) {
    read.datagrams.push_back({r.received_us, {r.datagram.begin(), r.datagram.end()}});
  }
  s.datagrams = read.datagrams.size();
  s.good_bytes = at;
  if (at < file.size()) s.state = RecordingState::cut;
  return read;
}

RecordingSummary read_recording(const std::string& path, const RecordedDatagramSink& sink) {
  RecordingSummary s;
  // `buffer` holds the file from `buffer_offset` on: what is left of the
  // piece before (less than one record) and the piece read after it.
  std::string buffer;
  uint64_t buffer_offset = 0;
  uint64_t next_read = 0;
  bool at_end = false;
  const auto read_more = [&] {
    FilePart part = read_file_part(path, next_read, recording_read_piece);
    s.file_size = part.size;
    if (part.error != 0) s.read_error = part.error;
    at_end = part.error != 0 || part.bytes.empty() || next_read + part.bytes.size() >= part.size;
    next_read += part.bytes.size();
    buffer += part.bytes;
  };
  read_more();
  const auto bytes_of = [&](size_t from) {
    return std::span(reinterpret_cast<const uint8_t*>(buffer.data()), buffer.size()).subspan(from);
  };
  if (!has_header(bytes_of(0))) {
    s.state = RecordingState::not_a_recording;
    return s;
  }
  size_t at = recording_header.size();  // in `buffer`
  for (;;) {
    const RecordView r = next_record(bytes_of(at));
    if (r.status == RecordStatus::whole) {
      ++s.datagrams;
      at += r.size;
      if (!sink(r.received_us, r.datagram)) {
        s.stopped = true;
        break;
      }
      continue;
    }
    if (r.status == RecordStatus::damaged || at_end) break;
    buffer.erase(0, at);
    buffer_offset += at;
    at = 0;
    read_more();
  }
  s.good_bytes = buffer_offset + at;
  if (!s.stopped && (s.good_bytes < s.file_size || s.read_error != 0)) {
    s.state = RecordingState::cut;
  }
  return s;
}

std::string recording_problem(const RecordingSummary& read, const std::string& path) {
  switch (read.state) {
    case RecordingState::whole:
      return "";
    case RecordingState::not_a_recording:
      if (read.read_error != 0) {
        return format_text("%s cannot be read (%s)\n", path.c_str(),
                           error_text(read.read_error).c_str());
      }
      return format_text("%s is not a Kestrelis stream recording\n", path.c_str());
    case RecordingState::cut:
      break;
  }
  const unsigned long long datagrams = read.datagrams;
  const unsigned long long good = read.good_bytes;
  const unsigned long long size = read.file_size;
  if (read.read_error != 0) {
    return format_text("%s could not be read after %llu datagrams (byte %llu of %llu: %s): read "
                       "up to there\n",
                       path.c_str(), datagrams, good, size, error_text(read.read_error).c_str());
  }
  return format_text("%s is damaged after %llu datagrams (byte %llu of %llu): read up to there\n",
                     path.c_str(), datagrams, good, size);
}

bool too_little_free_to_record(uint64_t free_bytes, uint64_t total_bytes) {
  return free_bytes < std::max(recording_min_free_bytes, total_bytes / recording_min_free_share);
}

std::string recording_file_name(int64_t utc_ms, int attempt) {
  const CalendarFields t = utc_fields(utc_ms / 1000);
  const std::string suffix = attempt > 0 ? format_text("-%d", attempt) : "";
  return format_text("%04d%02d%02dT%02d%02d%02dZ%s.rec", t.year, t.month, t.day, t.hour, t.minute,
                     t.second, suffix.c_str());
}

}  // namespace kestrelis
