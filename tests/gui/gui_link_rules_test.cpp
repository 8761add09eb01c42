// The GUI link's decisions: admission, the bound on a client's unsent bytes,
// and which requests survive their client's departure.

#include "gui/gui_link_rules.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace kestrelis {

namespace {

TEST(GuiLinkRules, AdmitsFewerThanMaxClients) {
  struct Case {
    size_t connected;
    int max_clients;
    bool admitted;
  };
  const Case cases[] = {{0, 1, true},  {1, 1, false},  {1, 2, true},
                        {2, 2, false}, {15, 16, true}, {16, 16, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.connected) + " of " + std::to_string(c.max_clients));
    EXPECT_EQ(admit_client(c.connected, c.max_clients), c.admitted);
  }
}

TEST(GuiLinkRules, UnsentBytesStayWithinTheBound) {
  struct Case {
    const char* name;
    size_t unsent;  // already waiting
    size_t sent;    // of those, already taken by the socket
    size_t frame;
    bool fits;
  };
  const Case cases[] = {
      {"empty queue, frame at the bound", 0, 0, gui_unsent_limit, true},
      {"empty queue, frame beyond the bound", 0, 0, gui_unsent_limit + 1, false},
      {"exactly reaches the bound", gui_unsent_limit - 100, 0, 100, true},
      {"one byte beyond", gui_unsent_limit - 100, 0, 101, false},
      {"sent bytes no longer count", gui_unsent_limit, 101, 101, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outbound out;
    ASSERT_TRUE(queue_frame(out, std::vector<uint8_t>(c.unsent, 1)));
    mark_sent(out, c.sent);
    const size_t before = unsent(out);
    EXPECT_EQ(queue_frame(out, std::vector<uint8_t>(c.frame, 2)), c.fits);
    EXPECT_EQ(unsent(out), c.fits ? before + c.frame : before);
  }
}

// Whatever the pieces the socket takes, the bytes leave in the order queued.
TEST(GuiLinkRules, SentPiecesLeaveTheRestInOrder) {
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

// Each step: a(c) a request of client c arrives, t the transmit thread takes
// the next one, d it is done, l(c) client c leaves.
struct Step {
  char op;
  GuiClient client = 0;
  int expect = 0;  // a: 1 accepted, 0 refused; t: client taken, 0 none; l: requests dropped
};

TEST(GuiLinkRules, RequestsKeepArrivalOrderAndWaitingOnesLeaveWithTheirClient) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"taken while idle, then its client leaves: still sent",
       {{'a', 1, 1}, {'l', 1, 0}, {'t', 0, 1}, {'d'}, {'t', 0, 0}}},
      {"taken and handled, then its client leaves",
       {{'a', 1, 1}, {'t', 0, 1}, {'l', 1, 0}, {'d'}, {'t', 0, 0}}},
      {"waiting behind another transmission: dropped",
       {{'a', 1, 1}, {'t', 0, 1}, {'a', 2, 1}, {'l', 2, 1}, {'d'}, {'t', 0, 0}}},
      {"its turn came when the one before was done: kept",
       {{'a', 1, 1}, {'t', 0, 1}, {'a', 2, 1}, {'d'}, {'l', 2, 0}, {'t', 0, 2}}},
      {"a client's second request waits behind its first",
       {{'a', 1, 1}, {'a', 1, 1}, {'l', 1, 1}, {'t', 0, 1}, {'d'}, {'t', 0, 0}}},
      {"arrival order across clients",
       {{'a', 1, 1},
        {'a', 2, 1},
        {'a', 1, 1},
        {'t', 0, 1},
        {'d'},
        {'t', 0, 2},
        {'d'},
        {'t', 0, 1}}},
      {"one client leaving keeps the others' requests",
       {{'a', 1, 1},
        {'t', 0, 1},
        {'a', 2, 1},
        {'a', 3, 1},
        {'a', 2, 1},
        {'l', 2, 2},
        {'d'},
        {'t', 0, 3}}},
      {"one at a time", {{'a', 1, 1}, {'a', 2, 1}, {'t', 0, 1}, {'t', 0, 0}, {'d'}, {'t', 0, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestQueue q;
    for (size_t i = 0; i < c.steps.size(); ++i) {
      const Step& s = c.steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      switch (s.op) {
        case 'a':
          EXPECT_EQ(request_arrived(q, {s.client, {uint8_t(i)}}), s.expect == 1);
          break;
        case 't': {
          const auto taken = take_request(q);
          EXPECT_EQ(taken ? static_cast<int>(taken->from) : 0, s.expect);
          break;
        }
        case 'd':
          request_done(q);
          break;
        case 'l':
          EXPECT_EQ(client_left(q, s.client), static_cast<size_t>(s.expect));
          break;
      }
    }
  }
}

TEST(GuiLinkRules, AClientsWaitingRequestsAreBounded) {
  RequestQueue q;
  for (size_t i = 0; i < gui_waiting_requests_limit; ++i) ASSERT_TRUE(request_arrived(q, {1, {}}));
  EXPECT_FALSE(request_arrived(q, {1, {}}));
  EXPECT_TRUE(request_arrived(q, {2, {}}));  // another client's are its own
  ASSERT_TRUE(take_request(q));
  EXPECT_TRUE(request_arrived(q, {1, {}}));
}

}  // namespace

}  // namespace kestrelis
