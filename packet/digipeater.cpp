#include "packet/digipeater.hpp"

#include <algorithm>

namespace kestrelis {

std::optional<uint8_t> digipeater_message_kind(std::span<const uint8_t> payload) {
  if (payload.size() < 2) return std::nullopt;
  return payload[1];
}

std::string_view digipeater_message_text(std::span<const uint8_t> payload) {
  if (payload.size() <= 2) return {};
  std::span<const uint8_t> text = payload.subspan(2);
  auto end = std::find(text.begin(), text.end(), uint8_t{0});
  return {reinterpret_cast<const char*>(text.data()), static_cast<size_t>(end - text.begin())};
}

}  // namespace kestrelis
