// The HTTP client against a stand-in server on loopback in each of its moods,
// and a port that refuses.

#include "platform/http_client.hpp"

#include <gtest/gtest.h>

#include "system/http_stand_in.hpp"

namespace kestrelis {
namespace {

TEST(HttpClient, AnswersRefusalsAndTimeOuts) {
  struct Case {
    const char* name;
    std::optional<StandInMode> mode;  // none: the port is closed
    HttpFailure failure;
    long status;
  };
  const Case cases[] = {
      {"healthy", StandInMode::healthy, HttpFailure::none, 200},
      {"server error", StandInMode::server_error, HttpFailure::none, 500},
      {"body past the limit", StandInMode::oversized, HttpFailure::none, 200},
      {"never answers", StandInMode::silent, HttpFailure::timeout, 0},
      {"refuses", std::nullopt, HttpFailure::connect, 0},
  };
  const HttpLimits limits{1000, 300, 4096};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpStandIn server(0, c.mode.value_or(StandInMode::healthy));
    ASSERT_TRUE(server.listening());
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/up";
    if (!c.mode) server.stop();

    const HttpAnswer answer = http_post_form(url, "a=1&b=x+y", limits);
    EXPECT_EQ(answer.failure, c.failure) << answer.error;
    EXPECT_EQ(answer.status, c.status);
    EXPECT_LE(answer.body.size(), limits.body_limit);
    EXPECT_EQ(answer.body_cut, c.mode == StandInMode::oversized);
    if (c.failure != HttpFailure::none) {
      EXPECT_FALSE(answer.error.empty());
    }
    server.stop();
    if (c.mode && c.mode != StandInMode::silent) {
      ASSERT_EQ(server.posts().size(), 1u);
      EXPECT_EQ(server.posts()[0].target, "/up");
      EXPECT_EQ(form_value(server.posts()[0].form, "b"), "x y");
    }
  }
}

TEST(HttpClient, RefusesOtherSchemes) {
  const HttpAnswer answer = http_post_form("file:///etc/passwd", "a=1", HttpLimits{});
  EXPECT_EQ(answer.failure, HttpFailure::other);
}

}  // namespace
}  // namespace kestrelis
