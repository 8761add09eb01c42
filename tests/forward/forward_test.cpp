// The forwarder's stages, its HTTP client against a stand-in server in each
// of its moods, and the real kestrelis-forward against a stand-in team server.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <map>
#include <random>

#include "archive/packet_log.hpp"
#include "forward/forward_config.hpp"
#include "forward/log_position.hpp"
#include "forward/post_answer.hpp"
#include "forward/share_form.hpp"
#include "forward/station_position.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/http_client.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"
#include "system/http_stand_in.hpp"

namespace kestrelis {

namespace {

// A config.ini for station `call` at `position` (its lines) forwarding to
// `url` as satellite `norad`.
std::string forward_ini(const std::string& url, const char* call = "QQ0ABC",
                        const char* norad = "99999", const char* position = "Locator = JO62qm\n") {
  return std::string("[radio]\nCallFrom = ") + call + "\n[forward]\nURL = " + url +
         "\nNoradID = " + norad + "\n" + position;
}

std::string local_url(uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/up"; }

TEST(ForwardConfig, ReadsItsKeysAndNamesWhatIsMissing) {
  const struct {
    const char* name;
    std::string ini;
    std::vector<std::string> problem_starts;
  } cases[] = {
      {"complete", forward_ini("https://team.example/up"), {}},
      {"empty",
       "",
       {"Config: no URL", "Config: no NoradID", "Config: no CallFrom",
        "Config: no Latitude and Longitude"}},
      {"default call sign", forward_ini("http://h/", "NOCALL"), {"Config: no CallFrom"}},
      {"other scheme", forward_ini("ftp://h/"), {"Config: URL = ftp://h/ is neither"}},
      {"name for a number", forward_ini("http://h/", "A", "SAT"), {"Config: NoradID = SAT is not"}},
      {"keys in the wrong section",
       "[forward]\nCallFrom = A\nLocator = JO62\n[radio]\nURL = http://h/\n",
       {"Config: no URL", "Config: no NoradID", "Config: no CallFrom"}},
      {"call sign too long for the database",
       forward_ini("http://h/", std::string(46, 'Q').c_str()),
       {"Config: CallFrom = QQQ"}},
      {"decimal comma",
       forward_ini("http://h/", "A", "1", "Latitude = 52,52\nLongitude = 13.4\n"),
       {"Config: Latitude = 52,52 is not decimal degrees with a point"}},
      {"one coordinate only",
       forward_ini("http://h/", "A", "1", "Latitude = 52.5\nLocator = JO62\n"),
       {"Config: no Longitude in [forward]"}},
      // A URL cut at the reader's line length would send every packet
      // elsewhere: a line too long is ignored whole.
      {"URL line too long", forward_ini("http://h/" + std::string(200, 'p')), {"Config: no URL"}},
      {"bad locator",
       forward_ini("http://h/", "A", "1", "Locator = JO6\n"),
       {"Config: Locator = JO6 is no 4- or 6-character"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<ForwardProblem> problems =
        forward_config_problems(read_forward_config(c.ini));
    ASSERT_EQ(problems.size(), c.problem_starts.size());
    for (size_t i = 0; i < problems.size(); ++i) {
      const std::string text = forward_problem_text(problems[i]);
      EXPECT_EQ(text.rfind(c.problem_starts[i], 0), 0u) << text;
      EXPECT_EQ(text.back(), '\n');
    }
  }
}

// The position as the database takes it, from coordinates or a locator's
// centre (a 4-character square is 2 by 1 degrees, a 6-character subsquare
// 5 by 2.5 minutes); anything else gives none.
TEST(StationPosition, FromCoordinatesOrTheLocatorsCentre) {
  const struct {
    const char* name;
    const char* latitude;
    const char* longitude;
    const char* locator;
    std::optional<StationPosition> position;
  } cases[] = {
      {"north-east, decimals as written", "52.52", "13.40", "", {{"52.52N", "13.40E"}}},
      {"south-west", "-33.8688", "-151.2093", "", {{"33.8688S", "151.2093W"}}},
      {"signed plus and whole numbers", "+5", "7", "", {{"5.0N", "7.0E"}}},
      {"the limits", "-90", "180.000", "", {{"90.0S", "180.000E"}}},
      {"coordinates win over the locator", "1.5", "2.5", "JO62qm", {{"1.5N", "2.5E"}}},
      {"4-character locator", "", "", "JO62", {{"52.5000N", "13.0000E"}}},
      {"6-character locator", "", "", "JO62qm", {{"52.5208N", "13.3750E"}}},
      {"locator in other cases", "", "", "jo62QM", {{"52.5208N", "13.3750E"}}},
      {"the south-west corner square", "", "", "AA00aa", {{"89.9792S", "179.9583W"}}},
      {"the north-east corner square", "", "", "RR99xx", {{"89.9792N", "179.9583E"}}},
      {"decimal comma", "52,52", "13.40", "", std::nullopt},
      {"beyond the pole", "90.01", "13.40", "", std::nullopt},
      {"beyond the date line", "52.52", "-180.5", "", std::nullopt},
      {"point without decimals", "52.", "13.40", "", std::nullopt},
      {"one coordinate only", "52.52", "", "JO62", std::nullopt},
      {"locator of 5", "", "", "JO62q", std::nullopt},
      {"field beyond R", "", "", "JS62", std::nullopt},
      {"subsquare beyond x", "", "", "JO62qy", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ForwardConfig config;
    config.Latitude = c.latitude;
    config.Longitude = c.longitude;
    config.Locator = c.locator;
    const std::optional<StationPosition> position = station_position(config);
    ASSERT_EQ(position.has_value(), c.position.has_value());
    if (!position) continue;
    EXPECT_EQ(position->latitude, c.position->latitude);
    EXPECT_EQ(position->longitude, c.position->longitude);
  }
}

TEST(ShareForm, FieldsOfAPacketAsThePeersPostThem) {
  ForwardConfig config{"http://h/", "99999", "", "52.5", "-13.25", "QQ0ABC"};
  LoggedPacket packet;
  packet.received = "2026-12-06T21:57:21.123Z";
  packet.frame = {0x8a, 0x00, 0x1f, 0xc0, 0xff};
  const FormFields expected = {{"noradID", "99999"},
                               {"source", "QQ0ABC"},
                               {"timestamp", "2026-12-06T21:57:21.123Z"},
                               {"frame", "8A001FC0FF"},
                               {"locator", "longLat"},
                               {"longitude", "13.25W"},
                               {"latitude", "52.5N"},
                               {"version", KESTRELIS_VERSION}};
  const FormFields fields = share_fields(config, *station_position(config), packet);
  EXPECT_EQ(fields, expected);
  EXPECT_EQ(share_form_problem(fields, {}), "");
  EXPECT_EQ(urlencode_form({{"a b", "x&y=z+%"}}), "a%20b=x%26y%3Dz%2B%25");
  EXPECT_EQ(share_url("http://h/up/", "a=1"), "http://h/up/?a=1");
  EXPECT_EQ(share_url("http://h/up/?key=k", "a=1"), "http://h/up/?key=k&a=1");
}

// The stand-in's checks are what the end-to-end tests hold the forwarder to:
// they must refuse what the database refuses.
TEST(ShareForm, TheStandInRefusesWhatTheDatabaseRefuses) {
  const StandInForm good = {
      {"noradID", "99999"},    {"source", "QQ0ABC"},   {"timestamp", "2026-12-06T21:57:21.123Z"},
      {"frame", "8A001FC0FF"}, {"locator", "longLat"}, {"longitude", "13.40E"},
      {"latitude", "-52.52"}};
  const auto with = [&good](const char* name, const char* value) {
    StandInForm form = good;
    for (auto& [key, v] : form) {
      if (key == name) v = value;
    }
    return form;
  };
  const struct {
    const char* name;
    StandInForm form;
    StandInForm query;
    const char* problem_start;  // "": accepted
  } cases[] = {
      {"as the peers post", good, good, ""},
      {"no query string", good, {}, ""},
      {"time without zone or fraction", with("timestamp", "2026-12-06T21:57:21"), {}, ""},
      {"no position", StandInForm(good.begin(), good.begin() + 4), {}, "locator:"},
      {"the Maidenhead square as locator", with("locator", "JO62qm"), {}, "locator:"},
      {"decimal comma", with("latitude", "52,52"), {}, "latitude:"},
      {"no point", with("longitude", "13E"), {}, "longitude:"},
      {"sign and letter", with("longitude", "-13.4W"), {}, "longitude:"},
      {"beyond the pole", with("latitude", "90.5N"), {}, "latitude:"},
      {"odd frame", with("frame", "8A0"), {}, "frame:"},
      {"frame with blanks", with("frame", "8A 00"), {}, "frame:"},
      {"catalogue number with letters", with("noradID", "9999a"), {}, "noradID:"},
      {"no time", with("timestamp", "yesterday"), {}, "timestamp:"},
      {"query unlike the body", good, with("frame", "00"), "query string:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string problem = share_form_problem(c.form, c.query);
    EXPECT_EQ(problem.rfind(c.problem_start, 0), 0u) << problem;
    EXPECT_EQ(problem.empty(), *c.problem_start == '\0') << problem;
  }
}

// What the forwarder encodes, a server decodes to the same fields, whatever bytes they hold.
TEST(ShareForm, EncodedFormDecodesToTheSameFields) {
  constexpr unsigned seed = 20261206;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 200; ++round) {
    FormFields fields(random() % 5);
    for (auto& [name, value] : fields) {
      name.resize(1 + random() % 8);
      value.resize(random() % 20);
      for (char& c : name) c = static_cast<char>(random() % 256);
      for (char& c : value) c = static_cast<char>(random() % 256);
    }
    const std::optional<StandInForm> decoded = decode_form(urlencode_form(fields));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, fields);
  }
}

TEST(LogPosition, StateFileTextNextDayFileAndWholeLines) {
  const LogPosition position{"2026-12-06.jsonl", 18446744073709551615u};
  const std::optional<LogPosition> back = parse_log_position(log_position_text(position));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->day_file, position.day_file);
  EXPECT_EQ(back->offset, position.offset);
  for (const char* bad : {"", "2026-12-06.jsonl 12", "2026-12-06.jsonl\n", "2026-12-06.jsonl -1\n",
                          "2026-12-06.jsonl 12x\n", "2026-12-06.jsonl 18446744073709551616\n",
                          "../etc/passwd.jsonl 0\n", "2026-12-6.jsonl 0\n"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(parse_log_position(bad));
  }

  const std::vector<std::string> names = {"2026-12-07.jsonl", "notes.txt", "2026-12-06.jsonl",
                                          "2026-12-10.jsonl.tmp", "2027-01-01.jsonl"};
  EXPECT_EQ(next_day_file(names, ""), "2026-12-06.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-06.jsonl"), "2026-12-07.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-08.jsonl"), "2027-01-01.jsonl");
  EXPECT_FALSE(next_day_file(names, "2027-01-01.jsonl"));

  const std::vector<LogLine> lines = whole_lines("ab\n\ncd\n{\"cut");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].text, "ab");
  EXPECT_EQ(lines[1].text, "");
  EXPECT_EQ(lines[2].text, "cd");
  EXPECT_EQ(lines[2].end, 7u);
  EXPECT_TRUE(whole_lines("no line end").empty());
}

TEST(HttpClient, AnswersRefusalsAndTimeOuts) {
  const struct {
    const char* name;
    std::optional<StandInMode> mode;  // none: the port is closed
    HttpFailure failure;
    long status;
    const char* location = "";  // after the port
    const char* retry_after = "";
    const char* body = nullptr;  // null: not checked
  } cases[] = {
      {"healthy", StandInMode::healthy, HttpFailure::none, 200},
      {"body past the limit", StandInMode::oversized, HttpFailure::none, 200},
      {"connection lost after 200", StandInMode::cut_short, HttpFailure::none, 200},
      {"never answers", StandInMode::silent, HttpFailure::timeout, 0},
      {"refuses", std::nullopt, HttpFailure::connect, 0},
      {"checking, a form not the database's", StandInMode::checking, HttpFailure::none, 400, "", "",
       "noradID: this field is required.\n"},
      {"moved, not followed", StandInMode::moved, HttpFailure::none, 301, "/up/?a=1", ""},
      {"busy", StandInMode::busy, HttpFailure::none, 429, "", "1", "slow down\n"},
  };
  const HttpLimits limits{1000, 300, 4096};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpStandIn server(0, c.mode.value_or(StandInMode::healthy));
    ASSERT_TRUE(server.listening());
    const std::string url = local_url(server.port()) + "?a=1";
    if (!c.mode) server.stop();

    const HttpAnswer answer = http_post_form(url, "a=1&b=x+y", limits);
    EXPECT_EQ(answer.failure, c.failure) << answer.error;
    EXPECT_EQ(answer.status, c.status);
    EXPECT_LE(answer.body.size(), limits.body_limit);
    EXPECT_EQ(answer.body_cut, c.mode == StandInMode::oversized);
    EXPECT_TRUE(c.failure == HttpFailure::none || !answer.error.empty());
    EXPECT_EQ(answer.location,
              *c.location ? "http://127.0.0.1:" + std::to_string(server.port()) + c.location : "");
    EXPECT_EQ(answer.retry_after, c.retry_after);
    if (c.body) {
      EXPECT_EQ(answer.body, c.body);
    }
    server.stop();
    if (c.mode && c.mode != StandInMode::silent) {
      ASSERT_EQ(server.posts().size(), 1u);
      EXPECT_EQ(server.posts()[0].path, "/up");
      EXPECT_EQ(server.posts()[0].query, (StandInForm{{"a", "1"}}));
      EXPECT_EQ(form_value(server.posts()[0].form, "b"), "x y");
    }
  }
  EXPECT_EQ(http_post_form("file:///etc/passwd", "a=1", limits).failure, HttpFailure::other);
}

// Packet `number` of the log, received `number` seconds into UTC day `day`
// after 2026-12-06; its last byte tells it apart from the others.
std::string log_line(int number, int day = 0) {
  constexpr int64_t first_day_ms = 1'796'515'200'000;  // 2026-12-06 00:00 UTC
  const uint8_t packet[] = {0x8a, 0x00, 0x20, 0x00, 0x11, 0x22, 0x33, static_cast<uint8_t>(number)};
  const int64_t received_ms = first_day_ms + day * 86'400'000 + number * 1000;
  return packet_log_line({received_ms, packet, 0, false, 1, 8, nullptr});
}

std::string frame_hex(int number) { return "8A0020001122330" + std::to_string(number); }

size_t count_of(const std::string& text, std::string_view part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

ChildProcess start_forwarder(const TncProfile& profile, std::vector<std::string> args) {
  std::vector<std::string> argv{
      KESTRELIS_FORWARD_PATH, "--poll-ms", "50",           "--retry-ms", "50",
      "--retry-max-ms",       "200",       "--timeout-ms", "2000"};
  argv.insert(argv.end(), args.begin(), args.end());
  return ChildProcess(argv, {{"HOME", profile.home()}, {"USERPROFILE", std::nullopt}});
}

// Success once the child has printed `text`; else its output.
testing::AssertionResult says(ChildProcess& child, const std::string& text) {
  if (child.output().find(text) != std::string::npos) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "no \"" << text << "\" in:\n" << child.output();
}

// The profile's packet folder, with `day_6` as its 2026-12-06 day file.
std::string packets_with(const TncProfile& profile, const std::string& day_6) {
  const std::string packets = profile.folder() + "/packets";
  EXPECT_TRUE(make_directory(packets).ok());
  EXPECT_TRUE(write_text_file(packets + "/2026-12-06.jsonl", day_6).ok());
  return packets;
}

// Each post's frame and the status it was answered with.
using Answers = std::vector<std::pair<std::string, int>>;
Answers answers_of(const HttpStandIn& server) {
  Answers answers;
  for (const StandInPost& post : server.posts()) {
    answers.emplace_back(form_value(post.form, "frame"), post.answered);
  }
  return answers;
}

bool wait_for_delivered(const std::atomic<int>& delivered, int count, int timeout_ms) {
  const int64_t deadline = monotonic_ms() + timeout_ms;
  while (delivered < count) {
    if (monotonic_ms() > deadline) return false;
    sleep_ms(20);
  }
  return true;
}

TEST(ForwardBinary, EachPacketExactlyOnceAcrossOutageAndRestart) {
  const uint16_t port = free_tcp_port();  // refuses until the server below starts
  const TncProfile profile(forward_ini(local_url(port)));
  // Day one: two packets, a malformed line, two more, and a line cut short by
  // a power cut; day two: three packets, the second written right after a
  // line cut short.
  const std::string packets =
      packets_with(profile, log_line(1) + log_line(2) + "{\"received\":12,\"frame\":\"zz\"}\n" +
                                log_line(3) + log_line(4) + log_line(5).substr(0, 30));
  const std::string day_two =
      log_line(6, 1) + log_line(7, 1).substr(0, 50) + log_line(7, 1) + log_line(8, 1);
  ASSERT_TRUE(write_text_file(packets + "/2026-12-07.jsonl", day_two).ok());

  // The server refuses until the forwarder has tried it; after the second
  // packet it stops the forwarder and answers 500 until the restart.
  std::string output;
  ChildProcess forwarder = start_forwarder(profile, {});
  ASSERT_TRUE(forwarder.wait_for_output("not reached", 5000)) << forwarder.output();
  std::atomic<int> delivered = 0;
  HttpStandIn server(port, StandInMode::checking, [&](const StandInPost& post) {
    if (post.answered == 201 && ++delivered == 2) {
      server.set_mode(StandInMode::server_error);
      (void)terminate_child(forwarder.pid());
    }
  });
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  output += forwarder.output();
  EXPECT_EQ(delivered, 2);

  server.set_mode(StandInMode::checking);
  ChildProcess restarted = start_forwarder(profile, {});
  ASSERT_TRUE(wait_for_delivered(delivered, 7, 5000)) << restarted.output();
  ASSERT_TRUE(append_to_file(packets + "/2026-12-07.jsonl", log_line(9, 1)).ok());
  ASSERT_TRUE(wait_for_delivered(delivered, 8, 5000)) << restarted.output();
  EXPECT_EQ(restarted.stop(SIGTERM, 5000), 0);
  output += restarted.output();
  server.stop();

  std::map<std::string, int> arrivals;
  for (const StandInPost& post : server.posts()) {
    EXPECT_EQ(post.path, "/up");
    EXPECT_EQ(post.query, post.form);
    EXPECT_EQ(form_value(post.form, "latitude"), "52.5208N");
    EXPECT_EQ(form_value(post.form, "longitude"), "13.3750E");
    EXPECT_NE(post.answered, 400) << share_form_problem(post.form, post.query);
    if (post.answered == 201) ++arrivals[form_value(post.form, "frame")];
  }
  for (int n : {1, 2, 3, 4, 6, 7, 8, 9}) EXPECT_EQ(arrivals[frame_hex(n)], 1) << "packet " << n;
  EXPECT_EQ(arrivals.size(), 8u);
  EXPECT_EQ(form_value(server.posts()[0].form, "timestamp"), "2026-12-06T00:00:01.000Z");
  EXPECT_EQ(count_of(output, "malformed line"), 1u) << output;
  EXPECT_EQ(count_of(output, "damaged line"), 2u) << output;
}

// Two forwarders on one log would each send every packet.
TEST(ForwardBinary, ASecondForwarderOnTheSameLogStops) {
  // Unreachable: the first keeps trying.
  const TncProfile profile(forward_ini(local_url(free_tcp_port())));
  (void)packets_with(profile, log_line(1));
  ChildProcess first = start_forwarder(profile, {});
  ASSERT_TRUE(first.wait_for_output("not reached", 5000)) << first.output();
  ChildProcess second = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(second.wait_exit(5000)), "exit status 1");
  EXPECT_TRUE(says(second, "Another kestrelis-forward"));
  EXPECT_EQ(first.stop(SIGTERM, 5000), 0);
}

// Settings missing, or a state file that cannot be taken: exit status 1 and
// a line that says what to do; an unreadable --config is a mistake in the
// command: status 2, as the tools.
TEST(ForwardBinary, RefusesToStartWithoutItsSettingsOrItsPosition) {
  const struct {
    const char* name;
    const char* ini;  // "": no config.ini at all; null: a complete one
    const char* says;
    const char* state = nullptr;   // the state file's text; "": a folder in its place
    const char* config = nullptr;  // --config FILE, a file missing from the profile's folder
    int status = 1;
  } cases[] = {
      {"no file", "", "Can't load"},
      {"no call sign", "[forward]\nURL = http://127.0.0.1:9/\nNoradID = 1\nLocator = JO62\n",
       "no CallFrom"},
      {"state file a folder", nullptr, "is damaged or cannot be read; correct it", ""},
      {"state file names no date", nullptr,
       "names 2026-02-30.jsonl, a day that does not exist; correct it", "2026-02-30.jsonl 0\n"},
      {"state file names a day far ahead", nullptr,
       "names 2099-01-01.jsonl, more than a day after today (", "2099-01-01.jsonl 0\n"},
      {"state file names a gone day file, none later", nullptr,
       "names 2026-12-06.jsonl, which is not in ", "2026-12-06.jsonl 10\n"},
      {"unreadable --config", nullptr, "Can't load '", nullptr, "/no-such.ini", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TncProfile profile(c.ini ? c.ini : forward_ini(local_url(9)));
    const std::string state_file = profile.folder() + "/forward.state";
    if (c.state && *c.state == '\0') {
      ASSERT_TRUE(make_directory(state_file).ok());
    }
    if (c.state && *c.state != '\0') {
      ASSERT_TRUE(make_directory(profile.folder() + "/packets").ok());
      ASSERT_TRUE(
          write_text_file(profile.folder() + "/packets/2026-12-01.jsonl", log_line(1)).ok());
      ASSERT_TRUE(write_text_file(state_file, c.state).ok());
    }
    std::vector<std::string> args = {"--once"};
    if (c.config) args.insert(args.end(), {"--config", profile.folder() + c.config});
    ChildProcess forwarder = start_forwarder(profile, args);
    EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)),
              "exit status " + std::to_string(c.status));
    EXPECT_TRUE(says(forwarder, c.config ? c.says + profile.folder() + c.config + "': " : c.says));
    if (c.state && *c.state != '\0') {
      EXPECT_EQ(read_whole_file(state_file), c.state);  // left for the operator to correct
    }
  }
}

// A state file naming a day file that is gone, with later ones: the next
// later one is sent from its start, and the position saved there.
TEST(ForwardBinary, AStateFileNamingAGoneDayFileGoesOnWithTheNextOne) {
  HttpStandIn server;
  const TncProfile profile(forward_ini(local_url(server.port())));
  const std::string packets = profile.folder() + "/packets";
  ASSERT_TRUE(make_directory(packets).ok());
  ASSERT_TRUE(write_text_file(packets + "/2026-12-05.jsonl", log_line(1, -1)).ok());
  const std::string day_two = log_line(2, 2) + log_line(3, 2);
  ASSERT_TRUE(write_text_file(packets + "/2026-12-08.jsonl", day_two).ok());
  ASSERT_TRUE(write_text_file(profile.folder() + "/forward.state", "2026-12-06.jsonl 500\n").ok());
  ChildProcess forwarder = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  server.stop();
  EXPECT_EQ(answers_of(server), (Answers{{frame_hex(2), 200}, {frame_hex(3), 200}}));
  EXPECT_TRUE(says(forwarder, "names 2026-12-06.jsonl byte 500, which is not in " + packets +
                                  "; skipped it, going on from the start of 2026-12-08.jsonl"));
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"),
            "2026-12-08.jsonl " + std::to_string(day_two.size()) + "\n");
}

// A packet the server refuses for good is set aside with the status and the
// reason, and the packets behind it go on.
TEST(ForwardBinary, ARefusedPacketIsSetAsideAndTheNextOnesGoOn) {
  HttpStandIn server(0, StandInMode::bad_request, [&server](const StandInPost&) {
    server.set_mode(StandInMode::checking);  // only the first is refused
  });
  const TncProfile profile(forward_ini(local_url(server.port())));
  const std::string day = log_line(1) + log_line(2) + log_line(3);
  (void)packets_with(profile, day);
  ChildProcess forwarder = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  server.stop();
  EXPECT_EQ(answers_of(server),
            (Answers{{frame_hex(1), 400}, {frame_hex(2), 201}, {frame_hex(3), 201}}));
  const std::string first = log_line(1);
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward-rejected.jsonl"),
            first.substr(0, first.size() - 2) +
                R"(,"http_status":400,"reason":"frame: this frame was already received."})"
                "\n");
  EXPECT_TRUE(says(forwarder,
                   "Team server refused packet of 2026-12-06T00:00:01.000Z with HTTP 400 "
                   "(frame: this frame was already received.); set aside in " +
                       profile.folder() + "/forward-rejected.jsonl, going on with the next"));
  EXPECT_TRUE(says(forwarder, "2 packets sent, 1 set aside"));
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"),
            "2026-12-06.jsonl " + std::to_string(day.size()) + "\n");
}

// A redirect means the URL is wrong for every packet: stop, name the URL the
// server points to, keep the packet next.
TEST(ForwardBinary, ARedirectStopsWithTheURLToUse) {
  HttpStandIn server(0, StandInMode::moved);
  const TncProfile profile(forward_ini(local_url(server.port())));
  (void)packets_with(profile, log_line(1));
  ChildProcess forwarder = start_forwarder(profile, {});
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 1");
  server.stop();
  EXPECT_EQ(server.posts().size(), 1u);
  EXPECT_TRUE(says(forwarder, "Team server answered HTTP 301, pointing to " +
                                  local_url(server.port()) +
                                  "/: URL in [forward] is not where to post"));
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"), "2026-12-06.jsonl 0\n");
  EXPECT_FALSE(path_exists(profile.folder() + "/forward-rejected.jsonl"));
}

// --once in a script must end: a server unreachable for --give-up-s seconds
// ends it with status 3, the packet kept next.
TEST(ForwardBinary, OnceGivesUpOnAnUnreachableServer) {
  const TncProfile profile(forward_ini(local_url(free_tcp_port())));
  (void)packets_with(profile, log_line(1));
  const int64_t start = monotonic_ms();
  ChildProcess forwarder = start_forwarder(profile, {"--once", "--give-up-s", "1"});
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 3");
  EXPECT_GE(monotonic_ms() - start, 1000);
  EXPECT_TRUE(says(forwarder,
                   "and has failed for 1 s; giving up, packet of "
                   "2026-12-06T00:00:01.000Z stays next"));
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"), "2026-12-06.jsonl 0\n");
}

// --file posts the lines of a file of its own (here the rejects, once the
// cause is mended) beside the live forwarder, with its state and refusals
// beside that file; the live one's log and state are not touched.
TEST(ForwardBinary, AFileIsPostedBesideTheLiveForwarder) {
  HttpStandIn server(0, StandInMode::checking);
  const TncProfile profile(forward_ini(local_url(server.port())));
  (void)packets_with(profile, log_line(1));
  ChildProcess live = start_forwarder(profile, {});
  ASSERT_TRUE(live.wait_for_output("Sent packet", 5000)) << live.output();

  const std::string rejects = profile.folder() + "/forward-rejected.jsonl";
  const std::string first = rejected_line(log_line(2), 400, "try again");
  const std::string file_text = first + "not a log line\n" + log_line(3);
  ASSERT_TRUE(write_text_file(rejects, file_text).ok());
  ChildProcess again = start_forwarder(profile, {"--once", "--file", rejects});
  EXPECT_EQ(describe_wait_status(again.wait_exit(5000)), "exit status 0") << again.output();
  EXPECT_TRUE(says(again, "malformed line at byte " + std::to_string(first.size())));
  EXPECT_EQ(read_whole_file(rejects + ".forward-state"), std::to_string(file_text.size()) + "\n");
  EXPECT_FALSE(path_exists(rejects + ".rejected.jsonl"));
  EXPECT_EQ(read_whole_file(rejects), file_text);
  EXPECT_EQ(live.stop(SIGTERM, 5000), 0);
  server.stop();

  EXPECT_EQ(answers_of(server),
            (Answers{{frame_hex(1), 201}, {frame_hex(2), 201}, {frame_hex(3), 201}}));
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"),
            "2026-12-06.jsonl " + std::to_string(log_line(1).size()) + "\n");
}

}  // namespace

}  // namespace kestrelis
