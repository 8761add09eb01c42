// The forwarder's stages, its HTTP client against a stand-in server in each
// of its moods, and the real kestrelis-forward against a stand-in team server.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <tuple>

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
  const std::string h = "http://h/";
  const struct {
    const char* name;
    std::string ini;
    std::vector<std::string> problem_starts;  // after "Config: "
  } cases[] = {
      {"complete", forward_ini("https://team.example/up"), {}},
      {"empty", "", {"no URL", "no NoradID", "no CallFrom", "no Latitude and Longitude"}},
      {"default call sign", forward_ini(h, "NOCALL"), {"no CallFrom"}},
      {"other scheme", forward_ini("ftp://h/"), {"URL = ftp://h/ is neither"}},
      {"name for a number", forward_ini(h, "A", "SAT"), {"NoradID = SAT is not"}},
      {"keys in the wrong section",
       "[forward]\nCallFrom = A\nLocator = JO62\n[radio]\nURL = h\n",
       {"no URL", "no NoradID", "no CallFrom"}},
      {"call sign too long", forward_ini(h, std::string(46, 'Q').c_str()), {"CallFrom = QQQ"}},
      {"decimal comma",
       forward_ini(h, "A", "1", "Latitude = 52,52\nLongitude = 13.4\n"),
       {"Latitude = 52,52 is not decimal degrees with a point"}},
      {"one coordinate only",
       forward_ini(h, "A", "1", "Latitude = 52.5\nLocator = JO62\n"),
       {"no Longitude in [forward]"}},
      // A URL cut at the reader's line length would send every packet
      // elsewhere: a line too long is ignored whole.
      {"URL line too long", forward_ini(h + std::string(200, 'p')), {"no URL"}},
      {"bad locator",
       forward_ini(h, "A", "1", "Locator = JO6\n"),
       {"Locator = JO6 is no 4- or 6-"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string said;  // each problem a line of its own
    for (const ForwardProblem& p : forward_config_problems(read_forward_config(c.ini))) {
      said += forward_problem_text(p);
    }
    const std::vector<std::string> lines = lines_of(said);
    ASSERT_EQ(lines.size(), c.problem_starts.size()) << said;
    for (size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].rfind("Config: " + c.problem_starts[i], 0), 0u) << lines[i];
    }
  }
}

// The position as the database takes it, from coordinates or a locator's
// centre (a 4-character square is 2 by 1 degrees, a 6-character subsquare
// 5 by 2.5 minutes); anything else gives none.
TEST(StationPosition, FromCoordinatesOrTheLocatorsCentre) {
  // Each row: its name, Latitude, Longitude, Locator, and the position as posted ("": none).
  const std::tuple<const char*, const char*, const char*, const char*, std::string> cases[] = {
      {"north-east, decimals as written", "52.52", "13.40", "", "52.52N 13.40E"},
      {"south-west", "-33.8688", "-151.2093", "", "33.8688S 151.2093W"},
      {"signed plus and whole numbers", "+5", "7", "", "5.0N 7.0E"},
      {"the limits", "-90", "180.000", "", "90.0S 180.000E"},
      {"coordinates win over the locator", "1.5", "2.5", "JO62qm", "1.5N 2.5E"},
      {"4-character locator", "", "", "JO62", "52.5000N 13.0000E"},
      {"6-character locator", "", "", "JO62qm", "52.5208N 13.3750E"},
      {"locator in other cases", "", "", "jo62QM", "52.5208N 13.3750E"},
      {"the south-west corner square", "", "", "AA00aa", "89.9792S 179.9583W"},
      {"the north-east corner square", "", "", "RR99xx", "89.9792N 179.9583E"},
      {"decimal comma", "52,52", "13.40", "", ""},
      {"beyond the pole", "90.01", "13.40", "", ""},
      {"beyond the date line", "52.52", "-180.5", "", ""},
      {"point without decimals", "52.", "13.40", "", ""},
      {"one coordinate only", "52.52", "", "JO62", ""},
      {"locator of 5", "", "", "JO62q", ""},
      {"field beyond R", "", "", "JS62", ""},
      {"subsquare beyond x", "", "", "JO62qy", ""},
  };
  for (const auto& [name, latitude, longitude, locator, expected] : cases) {
    const auto position = station_position({"", "", locator, latitude, longitude});
    EXPECT_EQ(position ? position->latitude + " " + position->longitude : "", expected) << name;
  }
}

TEST(ShareForm, FieldsOfAPacketAsThePeersPostThem) {
  ForwardConfig config{"http://h/", "99999", "", "52.5", "-13.25", "QQ0ABC"};
  const LoggedPacket packet{
      "2026-12-06T21:57:21.123Z", {0x8a, 0x00, 0x1f, 0xc0, 0xff}, 0, false, 1, 8, "none"};
  const FormFields fields = share_fields(config, *station_position(config), packet);
  EXPECT_EQ(urlencode_form(fields),
            "noradID=99999&source=QQ0ABC&timestamp=2026-12-06T21%3A57%3A21.123Z&frame=8A001FC0FF"
            "&locator=longLat&longitude=13.25W&latitude=52.5N&version=" KESTRELIS_VERSION);
  EXPECT_EQ(share_form_problem(fields, {}), "");
  // Every byte but the unreserved characters is escaped, whatever its value.
  EXPECT_EQ(urlencode_form({{"a b", "x&y=z+%"}, {"\xff\x01", "-._~\xc3\xa9/"}}),
            "a%20b=x%26y%3Dz%2B%25&%FF%01=-._~%C3%A9%2F");
  EXPECT_EQ(share_url("http://h/up/", "a=1"), "http://h/up/?a=1");
  EXPECT_EQ(share_url("http://h/up/?key=k", "a=1"), "http://h/up/?key=k&a=1");
}

TEST(LogPosition, StateFileTextNextDayFileAndWholeLines) {
  const auto back = parse_log_position(log_position_text({"2026-12-06.jsonl", UINT64_MAX}));
  EXPECT_EQ(back ? back->day_file + " " + std::to_string(back->offset) : "",
            "2026-12-06.jsonl 18446744073709551615");
  for (const char* bad : {"", "2026-12-06.jsonl 12", "2026-12-06.jsonl\n", "2026-12-06.jsonl -1\n",
                          "2026-12-06.jsonl 12x\n", "2026-12-06.jsonl 18446744073709551616\n",
                          "../etc/passwd.jsonl 0\n", "2026-12-6.jsonl 0\n"})
    EXPECT_FALSE(parse_log_position(bad)) << bad;

  const std::vector<std::string> names = {"2026-12-07.jsonl", "notes.txt", "2026-12-06.jsonl",
                                          "2026-12-10.jsonl.tmp", "2027-01-01.jsonl"};
  EXPECT_EQ(next_day_file(names, ""), "2026-12-06.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-06.jsonl"), "2026-12-07.jsonl");
  EXPECT_EQ(next_day_file(names, "2026-12-08.jsonl"), "2027-01-01.jsonl");
  EXPECT_FALSE(next_day_file(names, "2027-01-01.jsonl"));

  std::vector<std::pair<std::string_view, uint64_t>> lines;
  for (const LogLine& l : whole_lines("ab\n\ncd\n{\"cut")) lines.emplace_back(l.text, l.end);
  EXPECT_EQ(lines, (decltype(lines){{"ab", 3}, {"", 4}, {"cd", 7}}));
  EXPECT_TRUE(whole_lines("no line end").empty());
}

// What the end-to-end tests leave out: answers too long, cut off or never
// sent, a Retry-After, and a scheme other than HTTP. (A refused connection,
// a redirect, the body of a 400 and the request itself they see.)
TEST(HttpClient, AnswersRefusalsAndTimeOuts) {
  using enum StandInMode;
  // Each row: its name, the server's mood, the failure, the status,
  // Retry-After, and the body (null: not checked).
  const std::tuple<const char*, StandInMode, HttpFailure, int, const char*, const char*> cases[] = {
      {"body past the limit", oversized, HttpFailure::none, 200, "", nullptr},
      {"connection lost after 200", cut_short, HttpFailure::none, 200, "", nullptr},
      {"never answers", silent, HttpFailure::timeout, 0, "", nullptr},
      {"busy", busy, HttpFailure::none, 429, "1", "slow down\n"},
  };
  const HttpLimits limits{1000, 300, 4096};
  for (const auto& [name, mode, failure, status, retry_after, body] : cases) {
    SCOPED_TRACE(name);
    HttpStandIn server(0, mode);
    const HttpAnswer answer = http_post_form(local_url(server.port()), "a=1", limits);
    EXPECT_EQ(std::tie(answer.failure, answer.status, answer.retry_after, answer.body_cut),
              std::tuple(failure, status, retry_after, mode == oversized))
        << answer.error;
    EXPECT_LE(answer.body.size(), limits.body_limit);
    EXPECT_TRUE(failure == HttpFailure::none || !answer.error.empty());
    if (body) {
      EXPECT_EQ(answer.body, body);
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

ChildProcess start_forwarder(const TncProfile& profile, std::vector<std::string> args) {
  std::vector<std::string> argv{
      KESTRELIS_FORWARD_PATH, "--poll-ms", "50",           "--retry-ms", "50",
      "--retry-max-ms",       "200",       "--timeout-ms", "2000"};
  argv.insert(argv.end(), args.begin(), args.end());
  return ChildProcess(argv, tnc_environment(profile.home()));
}

// The profile's packet folder, with `day_6` as its 2026-12-06 day file.
std::string packets_with(const TncProfile& profile, const std::string& day_6) {
  const std::string packets = profile.folder() + "/packets";
  EXPECT_TRUE(make_directory(packets).ok());
  EXPECT_TRUE(write_text_file(packets + "/2026-12-06.jsonl", day_6).ok());
  return packets;
}

// Day one: two packets, a malformed line, two more, and a line cut short by a
// power cut; day two: three packets, the second written right after a line
// cut short, and a fourth written later. The server refuses until the
// forwarder has tried it; after the second packet it stops the forwarder and
// answers 500 until the restart, and then refuses the next packet for good
// (400): it is set aside with the status and the reason, and the packets
// behind it go on. A second forwarder on the same log stops: each would send
// every packet. --file posts the lines of a file of its own (here the
// set-aside one, once the cause is mended) beside the live forwarder, with its
// state and refusals beside that file; the live one's log and state are not
// touched.
TEST(ForwardBinary, EachPacketExactlyOnceAcrossOutageRestartAndRefusal) {
  const uint16_t port = free_tcp_port();  // refuses until the server below starts
  const TncProfile profile(forward_ini(local_url(port)));
  const std::string packets =
      packets_with(profile, log_line(1) + log_line(2) + "{\"received\":12,\"frame\":\"zz\"}\n" +
                                log_line(3) + log_line(4) + log_line(5).substr(0, 30));
  const std::string day_7 = packets + "/2026-12-07.jsonl";
  const std::string day_two =
      log_line(6, 1) + log_line(7, 1).substr(0, 50) + log_line(7, 1) + log_line(8, 1);
  ASSERT_TRUE(write_text_file(day_7, day_two).ok());

  std::string output;
  ChildProcess forwarder = start_forwarder(profile, {});
  ASSERT_TRUE(forwarder.wait_for_output("not reached", 5000)) << forwarder.output();
  std::atomic<int> delivered = 0;
  HttpStandIn server(port, StandInMode::checking, [&](const StandInPost& post) {
    if (post.answered == 400) server.set_mode(StandInMode::checking);  // only one is refused
    if (post.answered == 201 && ++delivered == 2) {
      server.set_mode(StandInMode::server_error);
      (void)terminate_child(forwarder.pid());
    }
  });
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  output += forwarder.output();

  server.set_mode(StandInMode::bad_request);
  ChildProcess restarted = start_forwarder(profile, {});
  ASSERT_TRUE(restarted.wait_for_output("Sent packet of 2026-12-07T00:00:08", 5000));
  ASSERT_TRUE(append_to_file(day_7, log_line(9, 1)).ok());
  ASSERT_TRUE(restarted.wait_for_output("Sent packet of 2026-12-07T00:00:09", 5000));
  const std::string rejects = profile.folder() + "/forward-rejected.jsonl";
  const std::string refusal =
      "Team server refused packet of 2026-12-06T00:00:03.000Z with HTTP 400 (frame: this frame "
      "was already received.); set aside in " +
      rejects + ", going on with the next";
  EXPECT_TRUE(restarted.wait_for_output(refusal, 5000)) << restarted.output();
  const auto aside = rejected_line(log_line(3), 400, "frame: this frame was already received.");
  EXPECT_EQ(read_whole_file(rejects), aside);

  ChildProcess second = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(second.wait_exit(5000)), "exit status 1");
  EXPECT_TRUE(second.wait_for_output("Another kestrelis-forward", 5000)) << second.output();

  const std::string file_text = aside + "not a log line\n" + log_line(0);
  ASSERT_TRUE(write_text_file(rejects, file_text).ok());
  ChildProcess again = start_forwarder(profile, {"--once", "--file", rejects});
  EXPECT_EQ(describe_wait_status(again.wait_exit(5000)), "exit status 0") << again.output();
  EXPECT_TRUE(again.wait_for_output("malformed line at byte " + std::to_string(aside.size()), 5000))
      << again.output();
  EXPECT_EQ(read_whole_file(rejects + ".forward-state"), std::to_string(file_text.size()) + "\n");
  EXPECT_FALSE(path_exists(rejects + ".rejected.jsonl"));
  EXPECT_EQ(read_whole_file(rejects), file_text);
  EXPECT_EQ(restarted.stop(SIGTERM, 5000), 0);
  output += restarted.output();
  EXPECT_TRUE(restarted.wait_for_output("5 packets sent, 1 set aside", 5000)) << output;
  server.stop();
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"),
            "2026-12-07.jsonl " + std::to_string(day_two.size() + log_line(9, 1).size()) + "\n");

  std::string arrivals;  // the packets the server took, in turn
  for (const StandInPost& post : server.posts()) {
    EXPECT_EQ(post.path, "/up");
    EXPECT_EQ(post.query, post.form);
    EXPECT_EQ(share_form_problem(post.form, post.query), "");
    if (post.answered == 201) arrivals += form_value(post.form, "frame").back();
  }
  EXPECT_EQ(arrivals, "124678930");
  EXPECT_EQ(occurrences(output, "malformed line"), 1u) << output;
  EXPECT_EQ(occurrences(output, "damaged line"), 2u) << output;
}

// With --once the forwarder ends: with status 1 and a line that says what to
// do when its settings are missing, its state file cannot be taken or the
// server redirects (the URL is then wrong for every packet); with status 2 for
// an unreadable --config, a mistake in the command, as the tools; with status
// 3 once the server has been unreachable for --give-up-s seconds. The packet
// stays next, and a state file that names a day file that is gone, with later
// ones, goes on from the start of the next.
TEST(ForwardBinary, OnceEndsWithItsStatusAndSaysWhy) {
  const std::string sent_1 = "2026-12-06.jsonl " + std::to_string(log_line(1).size()) + "\n";
  const struct {
    const char* name;
    const char* ini;  // "": no config.ini at all; null: a complete one
    std::string says;
    const char* state = nullptr;  // the state file's text; "": a folder in its place
    int status = 1;
    std::string state_after = "";            // "": as it was, left for the operator
    std::optional<StandInMode> server = {};  // none: unreachable
    const char* option = nullptr;            // and its value
    const char* value = nullptr;
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
       "names 2026-12-07.jsonl, which is not in ", "2026-12-07.jsonl 10\n"},
      {"state file names a gone day file, a later one exists", nullptr,
       "; skipped it, going on from the start of 2026-12-06.jsonl", "2026-12-05.jsonl 500\n", 0,
       sent_1, StandInMode::healthy},
      {"unreadable --config", nullptr, "Can't load '/nonexistent/kestrelis.ini': ", nullptr, 2, "",
       std::nullopt, "--config", "/nonexistent/kestrelis.ini"},
      {"redirected", nullptr, "/up/: URL in [forward] is not where to post", "2026-12-06.jsonl 0\n",
       1, "", StandInMode::moved},
      {"unreachable", nullptr,
       "and has failed for 1 s; giving up, packet of 2026-12-06T00:00:01.000Z stays next",
       "2026-12-06.jsonl 0\n", 3, "", std::nullopt, "--give-up-s", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpStandIn server(0, c.server.value_or(StandInMode::healthy));
    if (!c.server) server.stop();
    const TncProfile profile(c.ini ? c.ini : forward_ini(local_url(server.port())));
    const std::string state_file = profile.folder() + "/forward.state";
    if (!c.ini) (void)packets_with(profile, log_line(1));
    if (c.state) {
      ASSERT_TRUE(*c.state ? write_text_file(state_file, c.state).ok()
                           : make_directory(state_file).ok());
    }
    std::vector<std::string> args = {"--once"};
    if (c.option) args.insert(args.end(), {c.option, c.value});
    const int64_t start = monotonic_ms();
    ChildProcess forwarder = start_forwarder(profile, args);
    EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)),
              "exit status " + std::to_string(c.status));
    EXPECT_GE(monotonic_ms() - start, c.status == 3 ? 1000 : 0);
    EXPECT_TRUE(forwarder.wait_for_output(c.says, 5000)) << forwarder.output();
    if (c.state && *c.state) {
      EXPECT_EQ(read_whole_file(state_file), c.state_after.empty() ? c.state : c.state_after);
    }
    server.stop();
    EXPECT_EQ(server.posts().size(), c.server ? 1u : 0u);
  }
}

}  // namespace

}  // namespace kestrelis
