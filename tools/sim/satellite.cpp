#include "sim/satellite.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "packet/digipeater.hpp"
#include "wire/frame.hpp"

namespace kestrelis {

namespace {

std::vector<uint8_t> bytes_of(std::string_view text) {
  text = text.substr(0, max_payload_size);
  return {text.begin(), text.end()};
}

SimPacket reply(uint8_t source_port, std::string_view text) {
  SimPacket p;
  p.header = {.source = satellite_address,
              .destination = ground_station_address,
              .destination_port = digipeater_port,
              .source_port = source_port};
  p.payload = bytes_of(text);
  p.what = "reply port " + std::to_string(digipeater_port) + " " + quoted_text(p.payload);
  return p;
}

int64_t remaining_s(const Satellite& sat, const StoredMessage& m, int64_t now_ms) {
  const double ms = static_cast<double>(std::max<int64_t>(m.due_ms - now_ms, 0));
  return static_cast<int64_t>(std::ceil(ms * sat.time_scale / 1000.0));
}

}  // namespace

std::optional<RequestFields> parse_digipeater_request(std::string_view line) {
  std::optional<RequestFields> r = split_request_line(line.substr(0, line.find('\0')));
  if (!r || r->source.empty() || r->destination.empty() || r->keyword != "STORE") {
    return std::nullopt;
  }
  return r;
}

SatelliteAction satellite_receive(Satellite& sat, const CspHeader& header,
                                  std::span<const uint8_t> payload, int64_t now_ms) {
  SatelliteAction action;
  const std::string_view text(reinterpret_cast<const char*>(payload.data()), payload.size());
  if (header.destination == ping_address && header.destination_port == ping_port) {
    action.replies.push_back(reply(ping_port, "Pong " + std::string(text)));
    action.note = "ping from " + quoted_text(payload);
    return action;
  }
  if (header.destination != satellite_address || header.destination_port != digipeater_port) {
    char note[80];
    std::snprintf(note, sizeof note, "ignored: destination %u port %u", header.destination,
                  header.destination_port);
    action.note = note;
    return action;
  }
  if (text == "C") {
    action.replies.push_back(reply(digipeater_port, "Count " + std::to_string(sat.stored.size())));
    action.note = "count";
    return action;
  }
  if (text == "L") {
    std::string list = "Stored " + std::to_string(sat.stored.size());
    const char* separator = ": ";
    for (const StoredMessage& m : sat.stored) {
      list += separator + m.request.source + ">" + m.request.destination + " in " +
              std::to_string(remaining_s(sat, m, now_ms)) + " s";
      separator = ", ";
    }
    action.replies.push_back(reply(digipeater_port, list));
    action.note = "list";
    return action;
  }
  std::optional<RequestFields> request = parse_digipeater_request(text);
  if (!request) {
    action.note = "digipeater request not understood: " + quoted_text(payload);
    return action;
  }
  if (sat.stored.size() >= satellite_store_capacity) {
    action.note = "store full (" + std::to_string(satellite_store_capacity) +
                  " messages): request from " + request->source + " dropped";
    return action;
  }
  const auto delay_ms = static_cast<int64_t>(
      std::llround(static_cast<double>(request->delay) * 1000.0 / sat.time_scale));
  action.note = "stored message from " + request->source + " to " + request->destination +
                ", relay in " + std::to_string(request->delay) + " s";
  sat.stored.push_back({std::move(*request), now_ms + delay_ms});
  return action;
}

std::vector<SimPacket> satellite_due(Satellite& sat, int64_t now_ms) {
  std::stable_sort(
      sat.stored.begin(), sat.stored.end(),
      [](const StoredMessage& a, const StoredMessage& b) { return a.due_ms < b.due_ms; });
  const auto due = std::find_if(sat.stored.begin(), sat.stored.end(),
                                [now_ms](const StoredMessage& m) { return m.due_ms > now_ms; });
  std::vector<SimPacket> relays;
  for (auto m = sat.stored.begin(); m != due; ++m) {
    SimPacket p;
    p.header = {.source = satellite_address,
                .destination = relay_address,
                .destination_port = digipeater_message_port,
                .source_port = digipeater_port};
    p.payload = {0x00, digipeater_text_message};
    const std::vector<uint8_t> text =
        bytes_of(m->request.source + ">" + m->request.destination + ": " + m->request.message);
    p.payload.insert(
        p.payload.end(), text.begin(),
        text.begin() + static_cast<std::ptrdiff_t>(std::min(text.size(), max_payload_size - 2)));
    p.what = "relay port " + std::to_string(digipeater_message_port) + " " + quoted_text(text);
    relays.push_back(std::move(p));
  }
  sat.stored.erase(sat.stored.begin(), due);
  return relays;
}

std::optional<int64_t> next_due_ms(const Satellite& sat) {
  if (sat.stored.empty()) return std::nullopt;
  return std::min_element(
             sat.stored.begin(), sat.stored.end(),
             [](const StoredMessage& a, const StoredMessage& b) { return a.due_ms < b.due_ms; })
      ->due_ms;
}

std::string quoted_text(std::span<const uint8_t> bytes) {
  std::string out = "\"";
  for (uint8_t b : bytes) {
    if (b == '"' || b == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(b));
    } else if (b >= 0x20 && b < 0x7F) {
      out.push_back(static_cast<char>(b));
    } else {
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\x%02X", b);
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace kestrelis
