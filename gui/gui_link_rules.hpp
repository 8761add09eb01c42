#pragma once
// The GUI link's decisions, apart from sockets and threads: which connection
// is served, how much may wait for a client that does not read, and which
// requests are kept when their client leaves.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace kestrelis {

// A GUI client, numbered from 1 in the order the link accepted them.
using GuiClient = uint32_t;

// The address of a frame for every connected client.
inline constexpr GuiClient all_gui_clients = 0;

// MaxClients: GUI clients served at once.
inline constexpr int gui_clients_default = 1;
inline constexpr int gui_clients_limit = 16;

// Bytes that may wait in the TNC for one client (1 MiB). A frame that would
// take a client beyond it drops that client: a GUI that does not read holds
// no memory and no other client.
inline constexpr size_t gui_unsent_limit = size_t{1} << 20;

// Requests of one client that may wait for the transmitter; more are dropped.
inline constexpr size_t gui_waiting_requests_limit = 64;

// True when a new connection is served while `connected` clients are: fewer
// than `max_clients`. Otherwise it is told that the TNC is busy and closed.
[[nodiscard]] bool admit_client(size_t connected, int max_clients);

// The bytes waiting for one client: those from `head` on are not sent yet.
struct Outbound {
  std::vector<uint8_t> bytes;
  size_t head = 0;
};

[[nodiscard]] size_t unsent(const Outbound& out);

// Appends `frame` when the client's unsent bytes stay within `limit`; returns
// false and appends nothing when they would not.
[[nodiscard]] bool queue_frame(Outbound& out, std::span<const uint8_t> frame,
                               size_t limit = gui_unsent_limit);

// Takes the first `n` unsent bytes (n <= unsent) as sent.
void mark_sent(Outbound& out, size_t n);

// The data of one KISS frame from a client, command byte removed.
struct ClientFrame {
  GuiClient from = all_gui_clients;
  std::vector<uint8_t> data;
};

// The requests of every client in the order they arrived, handled one at a
// time. A request's turn comes when it arrives while none is handled or
// waits, or when the one before it is done: from then on it is handled even
// if its client leaves. Until then it waits, and it is dropped if its client
// leaves.
struct RequestQueue {
  std::deque<ClientFrame> waiting;  // the first one's turn has come unless `handling`
  bool handling = false;
};

// Appends `request`; false (nothing appended) when its client already has
// `limit` requests waiting.
[[nodiscard]] bool request_arrived(RequestQueue& q, ClientFrame request,
                                   size_t limit = gui_waiting_requests_limit);

// The request whose turn has come, taken out to be handled until
// request_done; none while one is handled or none waits.
[[nodiscard]] std::optional<ClientFrame> take_request(RequestQueue& q);

// The request taken last is done: the next one's turn comes.
void request_done(RequestQueue& q);

// Client `client` has left: drops its requests whose turn has not come.
// Returns how many were dropped.
[[nodiscard]] size_t client_left(RequestQueue& q, GuiClient client);

}  // namespace kestrelis
