// The GUI link's decisions: admission, the bound on a client's unsent bytes,
// and which requests survive their client's departure.

#include "gui/gui_link_rules.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace kestrelis {

namespace {

TEST(GuiLinkRules, AdmitsFewerThanMaxClients) {
  // Connected, MaxClients, admitted.
  const std::tuple<size_t, int, bool> cases[] = {{0, 1, true},  {1, 1, false},  {1, 2, true},
                                                 {2, 2, false}, {15, 16, true}, {16, 16, false}};
  for (const auto& [connected, max_clients, admitted] : cases) {
    EXPECT_EQ(admit_client(connected, max_clients), admitted) << connected << " of " << max_clients;
  }
}

// The bytes queued for a client stay within the bound, and whatever the
// pieces the socket takes, they leave in the order queued.
TEST(GuiLinkRules, UnsentBytesStayWithinTheBoundAndLeaveInOrder) {
  // Already waiting, of those already taken by the socket, the frame, whether it fits.
  const std::tuple<size_t, size_t, size_t, bool> cases[] = {
      {0, 0, gui_unsent_limit, true},
      {0, 0, gui_unsent_limit + 1, false},
      {gui_unsent_limit - 100, 0, 100, true},
      {gui_unsent_limit - 100, 0, 101, false},
      {gui_unsent_limit, 101, 101, true}};  // sent bytes no longer count
  for (const auto& [waiting, sent, frame, fits] : cases) {
    SCOPED_TRACE(testing::Message() << waiting << " waiting, " << sent << " sent, " << frame);
    Outbound out;
    ASSERT_TRUE(queue_frame(out, std::vector<uint8_t>(waiting, 1)));
    mark_sent(out, sent);
    EXPECT_EQ(queue_frame(out, std::vector<uint8_t>(frame, 2)), fits);
    EXPECT_EQ(unsent(out), waiting - sent + (fits ? frame : 0));
  }
  Outbound out;
  std::vector<uint8_t> all(5000);
  std::iota(all.begin(), all.end(), uint8_t{0});
  std::vector<uint8_t> taken;
  size_t queued = 0;
  for (size_t piece : {7u, 300u, 1u, 2048u, 999u, 4096u}) {
    const size_t n = std::min<size_t>(700, all.size() - queued);
    ASSERT_TRUE(queue_frame(out, std::span(all).subspan(queued, n)));
    queued += n;
    const size_t k = std::min(piece, unsent(out));
    const auto first = out.bytes.begin() + static_cast<std::ptrdiff_t>(out.head);
    taken.insert(taken.end(), first, first + static_cast<std::ptrdiff_t>(k));
    mark_sent(out, k);
  }
  taken.insert(taken.end(), out.bytes.begin() + static_cast<std::ptrdiff_t>(out.head),
               out.bytes.end());
  EXPECT_EQ(taken, std::vector<uint8_t>(all.begin(), all.begin() + static_cast<long>(queued)));
}

// Steps, separated by blanks: "a1" a request of client 1 arrives and is
// accepted ("r1": refused, a client keeping at most 2 waiting here), "t1" the
// transmit thread takes the next one, client 1's ("t-": none), "d" it is done,
// "l1:2" client 1 leaves and 2 waiting requests go.
TEST(GuiLinkRules, RequestsKeepArrivalOrderAndWaitingOnesLeaveWithTheirClient) {
  const std::pair<const char*, const char*> cases[] = {
      {"taken while idle, then its client leaves: still sent", "a1 l1:0 t1 d t-"},
      {"taken and handled, then its client leaves", "a1 t1 l1:0 d t-"},
      {"waiting behind another transmission: dropped", "a1 t1 a2 l2:1 d t-"},
      {"its turn came when the one before was done: kept", "a1 t1 a2 d l2:0 t2"},
      {"a client's second request waits behind its first", "a1 a1 l1:1 t1 d t-"},
      {"arrival order across clients", "a1 a2 a1 t1 d t2 d t1"},
      {"one client leaving keeps the others' requests", "a1 t1 a2 a3 a2 l2:2 d t3"},
      {"one at a time", "a1 a2 t1 t- d t2"},
      {"a client's waiting requests are bounded, its own", "a1 a1 r1 a2 t1 a1 r1"},
  };
  for (const auto& [name, steps] : cases) {
    SCOPED_TRACE(name);
    RequestQueue q;
    std::istringstream in(steps);
    for (std::string step; in >> step;) {
      SCOPED_TRACE(step);
      const auto client = static_cast<GuiClient>(step[1] - '0');
      if (step[0] == 'a' || step[0] == 'r') {
        EXPECT_EQ(request_arrived(q, {client, {}}, 2), step[0] == 'a');
      }
      if (step[0] == 'd') request_done(q);
      if (step[0] == 'l') {
        EXPECT_EQ(client_left(q, client), size_t(step[3] - '0'));
      }
      if (step[0] == 't') {
        const auto taken = take_request(q);
        EXPECT_EQ(taken ? taken->from : 0, step[1] == '-' ? 0 : client);
      }
    }
  }
}

}  // namespace

}  // namespace kestrelis
