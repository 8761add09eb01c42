#include "gui/gui_link_rules.hpp"

#include <algorithm>
#include <iterator>

namespace kestrelis {

bool admit_client(size_t connected, int max_clients) {
  return max_clients > 0 && connected < static_cast<size_t>(max_clients);
}

size_t unsent(const Outbound& out) { return out.bytes.size() - out.head; }

bool queue_frame(Outbound& out, std::span<const uint8_t> frame, size_t limit) {
  if (frame.size() > limit || unsent(out) > limit - frame.size()) return false;
  out.bytes.insert(out.bytes.end(), frame.begin(), frame.end());
  return true;
}

void mark_sent(Outbound& out, size_t n) {
  out.head += std::min(n, unsent(out));
  if (out.head == out.bytes.size()) {
    out.bytes.clear();
    out.head = 0;
  } else if (out.head >= out.bytes.size() / 2) {
    // Moving the rest to the front costs no more than the bytes sent since
    // the last move, so appending stays linear.
    out.bytes.erase(out.bytes.begin(), out.bytes.begin() + static_cast<std::ptrdiff_t>(out.head));
    out.head = 0;
  }
}

bool request_arrived(RequestQueue& q, ClientFrame request, size_t limit) {
  const auto from = request.from;
  const auto already = static_cast<size_t>(
      std::ranges::count_if(q.waiting, [from](const ClientFrame& r) { return r.from == from; }));
  if (already >= limit) return false;
  q.waiting.push_back(std::move(request));
  return true;
}

std::optional<ClientFrame> take_request(RequestQueue& q) {
  if (q.handling || q.waiting.empty()) return std::nullopt;
  ClientFrame next = std::move(q.waiting.front());
  q.waiting.pop_front();
  q.handling = true;
  return next;
}

void request_done(RequestQueue& q) { q.handling = false; }

size_t client_left(RequestQueue& q, GuiClient client) {
  // While nothing is handled the first request's turn has come: it stays.
  const auto first = q.waiting.begin() + (q.handling || q.waiting.empty() ? 0 : 1);
  const auto kept = std::remove_if(first, q.waiting.end(),
                                   [client](const ClientFrame& r) { return r.from == client; });
  const auto dropped = static_cast<size_t>(std::distance(kept, q.waiting.end()));
  q.waiting.erase(kept, q.waiting.end());
  return dropped;
}

}  // namespace kestrelis
