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
#include "forward/share_form.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/http_client.hpp"
#include "support/process.hpp"
#include "support/tnc_process.hpp"
#include "system/http_stand_in.hpp"

namespace kestrelis {

namespace {

// A config.ini for station `call` forwarding to `url` as satellite `norad`.
std::string forward_ini(const std::string& url, const char* call = "QQ0ABC",
                        const char* norad = "99999") {
  return std::string("[radio]\nCallFrom = ") + call + "\n[forward]\nURL = " + url +
         "\nNoradID = " + norad + "\n";
}

std::string local_url(uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/up"; }

TEST(ForwardConfig, ReadsItsKeysAndNamesWhatIsMissing) {
  const std::vector<std::string> none_of_three = {"Config: no URL", "Config: no NoradID",
                                                  "Config: no CallFrom"};
  const struct {
    const char* name;
    std::string ini;
    std::vector<std::string> problem_starts;
  } cases[] = {
      {"complete", forward_ini("https://team.example/up"), {}},
      {"empty", "", none_of_three},
      {"default call sign", forward_ini("http://h/", "NOCALL"), {"Config: no CallFrom"}},
      {"other scheme", forward_ini("ftp://h/"), {"Config: URL = ftp://h/ is neither"}},
      {"name for a number", forward_ini("http://h/", "A", "SAT"), {"Config: NoradID = SAT is not"}},
      {"keys in the wrong section", "[forward]\nCallFrom = A\n[radio]\nURL = http://h/\n",
       none_of_three},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> problems = forward_config_problems(read_forward_config(c.ini));
    ASSERT_EQ(problems.size(), c.problem_starts.size());
    for (size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].rfind(c.problem_starts[i], 0), 0u) << problems[i];
      EXPECT_EQ(problems[i].back(), '\n');
    }
  }
}

// A URL cut at the reader's line length would send every packet elsewhere:
// a line too long is named and ignored whole, and the URL counts as missing.
TEST(ForwardConfig, ALineTooLongIsNamedAndIgnoredWhole) {
  const std::string fits = "http://h/" + std::string(184, 'p');  // "URL = " and 193: 199
  ForwardConfig config = read_forward_config(forward_ini(fits));
  EXPECT_EQ(config.URL, fits);
  EXPECT_TRUE(config.notes.empty());

  config = read_forward_config(forward_ini(fits + std::string(47, 'q')));
  EXPECT_EQ(config.URL, "");
  EXPECT_EQ(config.NoradID, "99999");
  EXPECT_EQ(config.notes,
            std::vector<std::string>{"Config: line 4 is longer than 199 characters; ignored\n"});
  const std::vector<std::string> problems = forward_config_problems(config);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("Config: no URL", 0), 0u) << problems[0];
}

TEST(ShareForm, FieldsOfAPacket) {
  ForwardConfig config{"http://h/", "99999", "", "52.5", "-13.25", "QQ0ABC"};
  LoggedPacket packet;
  packet.received = "2026-12-06T21:57:21.123Z";
  packet.frame = {0x8a, 0x00, 0x1f, 0xc0, 0xff};
  const FormFields expected = {
      {"noradID", "99999"},    {"source", "QQ0ABC"},    {"timestamp", "2026-12-06T21:57:21.123Z"},
      {"frame", "8A001FC0FF"}, {"longitude", "-13.25"}, {"latitude", "52.5"}};
  EXPECT_EQ(share_fields(config, packet), expected);
  EXPECT_EQ(urlencode_form({{"a b", "x&y=z+%"}}), "a%20b=x%26y%3Dz%2B%25");
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
  } cases[] = {
      {"healthy", StandInMode::healthy, HttpFailure::none, 200},
      {"server error", StandInMode::server_error, HttpFailure::none, 500},
      {"body past the limit", StandInMode::oversized, HttpFailure::none, 200},
      {"connection lost after 200", StandInMode::cut_short, HttpFailure::none, 200},
      {"never answers", StandInMode::silent, HttpFailure::timeout, 0},
      {"refuses", std::nullopt, HttpFailure::connect, 0},
  };
  const HttpLimits limits{1000, 300, 4096};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpStandIn server(0, c.mode.value_or(StandInMode::healthy));
    ASSERT_TRUE(server.listening());
    const std::string url = local_url(server.port());
    if (!c.mode) server.stop();

    const HttpAnswer answer = http_post_form(url, "a=1&b=x+y", limits);
    EXPECT_EQ(answer.failure, c.failure) << answer.error;
    EXPECT_EQ(answer.status, c.status);
    EXPECT_LE(answer.body.size(), limits.body_limit);
    EXPECT_EQ(answer.body_cut, c.mode == StandInMode::oversized);
    EXPECT_TRUE(c.failure == HttpFailure::none || !answer.error.empty());
    server.stop();
    if (c.mode && c.mode != StandInMode::silent) {
      ASSERT_EQ(server.posts().size(), 1u);
      EXPECT_EQ(server.posts()[0].target, "/up");
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
  const TncProfile profile(forward_ini(local_url(port)) + "Locator = JO62qm\n");
  const std::string packets = profile.folder() + "/packets";
  ASSERT_EQ(make_directory(packets), 0);
  // Day one: two packets, a malformed line, two more, and a line cut short by
  // a power cut; day two: three packets, the second written right after a
  // line cut short.
  const std::string day_one = log_line(1) + log_line(2) + "{\"received\":12,\"frame\":\"zz\"}\n" +
                              log_line(3) + log_line(4) + log_line(5).substr(0, 30);
  const std::string day_two =
      log_line(6, 1) + log_line(7, 1).substr(0, 50) + log_line(7, 1) + log_line(8, 1);
  ASSERT_EQ(write_text_file(packets + "/2026-12-06.jsonl", day_one), 0);
  ASSERT_EQ(write_text_file(packets + "/2026-12-07.jsonl", day_two), 0);

  // The server refuses until the forwarder has tried it; after the second
  // packet it stops the forwarder and answers 500 until the restart.
  std::string output;
  ChildProcess forwarder = start_forwarder(profile, {});
  ASSERT_TRUE(forwarder.wait_for_output("not reached", 5000)) << forwarder.output();
  std::atomic<int> delivered = 0;
  HttpStandIn server(port, StandInMode::healthy, [&](const StandInPost& post) {
    if (post.answered == 200 && ++delivered == 2) {
      server.set_mode(StandInMode::server_error);
      (void)terminate_child(forwarder.pid());
    }
  });
  ASSERT_TRUE(server.listening());
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  output += forwarder.output();
  EXPECT_EQ(delivered, 2);

  server.set_mode(StandInMode::healthy);
  ChildProcess restarted = start_forwarder(profile, {});
  ASSERT_TRUE(wait_for_delivered(delivered, 7, 5000)) << restarted.output();
  ASSERT_EQ(append_to_file(packets + "/2026-12-07.jsonl", log_line(9, 1)), 0);
  ASSERT_TRUE(wait_for_delivered(delivered, 8, 5000)) << restarted.output();
  EXPECT_EQ(restarted.stop(SIGTERM, 5000), 0);
  output += restarted.output();
  server.stop();

  std::map<std::string, int> arrivals;
  for (const StandInPost& post : server.posts()) {
    EXPECT_EQ(post.target, "/up");
    EXPECT_EQ(form_value(post.form, "source"), "QQ0ABC");
    EXPECT_EQ(form_value(post.form, "noradID"), "99999");
    EXPECT_EQ(form_value(post.form, "locator"), "JO62qm");
    if (post.answered == 200) ++arrivals[form_value(post.form, "frame")];
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
  ASSERT_EQ(make_directory(profile.folder() + "/packets"), 0);
  ASSERT_EQ(write_text_file(profile.folder() + "/packets/2026-12-06.jsonl", log_line(1)), 0);
  ChildProcess first = start_forwarder(profile, {});
  ASSERT_TRUE(first.wait_for_output("not reached", 5000)) << first.output();
  ChildProcess second = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(second.wait_exit(5000)), "exit status 1");
  EXPECT_NE(second.output().find("Another kestrelis-forward"), std::string::npos)
      << second.output();
  EXPECT_EQ(first.stop(SIGTERM, 5000), 0);
}

// Settings missing, or a state file that cannot be taken: exit status 1 and
// a line that says what to do.
TEST(ForwardBinary, RefusesToStartWithoutItsSettingsOrItsPosition) {
  const struct {
    const char* name;
    const char* ini;  // "": no config.ini at all; null: a complete one
    const char* says;
    const char* state = nullptr;  // the state file's text; "": a folder in its place
  } cases[] = {
      {"no file", "", "Can't load"},
      {"no call sign", "[forward]\nURL = http://127.0.0.1:9/\nNoradID = 1\n", "no CallFrom"},
      {"state file a folder", nullptr, "is damaged or cannot be read; correct it", ""},
      {"state file names no date", nullptr,
       "names 2026-02-30.jsonl, a day that does not exist; correct it", "2026-02-30.jsonl 0\n"},
      {"state file names a day far ahead", nullptr,
       "names 2099-01-01.jsonl, more than a day after today (", "2099-01-01.jsonl 0\n"},
      {"state file names a gone day file, none later", nullptr,
       "names 2026-12-06.jsonl, which is not in ", "2026-12-06.jsonl 10\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TncProfile profile(c.ini ? c.ini : forward_ini(local_url(9)));
    const std::string state_file = profile.folder() + "/forward.state";
    if (c.state && *c.state == '\0') {
      ASSERT_EQ(make_directory(state_file), 0);
    }
    if (c.state && *c.state != '\0') {
      ASSERT_EQ(make_directory(profile.folder() + "/packets"), 0);
      ASSERT_EQ(write_text_file(profile.folder() + "/packets/2026-12-01.jsonl", log_line(1)), 0);
      ASSERT_EQ(write_text_file(state_file, c.state), 0);
    }
    ChildProcess forwarder = start_forwarder(profile, {"--once"});
    EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 1");
    EXPECT_NE(forwarder.output().find(c.says), std::string::npos) << forwarder.output();
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
  ASSERT_EQ(make_directory(packets), 0);
  ASSERT_EQ(write_text_file(packets + "/2026-12-05.jsonl", log_line(1, -1)), 0);
  const std::string day_two = log_line(2, 2) + log_line(3, 2);
  ASSERT_EQ(write_text_file(packets + "/2026-12-08.jsonl", day_two), 0);
  ASSERT_EQ(write_text_file(profile.folder() + "/forward.state", "2026-12-06.jsonl 500\n"), 0);
  ChildProcess forwarder = start_forwarder(profile, {"--once"});
  EXPECT_EQ(describe_wait_status(forwarder.wait_exit(5000)), "exit status 0");
  server.stop();
  std::vector<std::string> frames;
  for (const StandInPost& post : server.posts()) frames.push_back(form_value(post.form, "frame"));
  EXPECT_EQ(frames, (std::vector<std::string>{frame_hex(2), frame_hex(3)}));
  EXPECT_NE(forwarder.output().find("names 2026-12-06.jsonl byte 500, which is not in " + packets +
                                    "; skipped it, going on from the start of 2026-12-08.jsonl"),
            std::string::npos)
      << forwarder.output();
  EXPECT_EQ(read_whole_file(profile.folder() + "/forward.state"),
            "2026-12-08.jsonl " + std::to_string(day_two.size()) + "\n");
}

}  // namespace

}  // namespace kestrelis
