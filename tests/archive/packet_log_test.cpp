#include "archive/packet_log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrelis {

namespace {

Dispatch digipeater_text(std::string text) {
  Dispatch d;
  d.action = PacketAction::digipeater_message;
  d.text = std::move(text);
  return d;
}

}  // namespace

TEST(PacketLog, LinesReadBackAsWritten) {
  const std::vector<uint8_t> packet = {0x8a, 0x00, 0x07, 0x40, 0xff, 0x01, 0x02, 0x03, 0x04};
  Dispatch telemetry;
  telemetry.action = PacketAction::telemetry;
  telemetry.telemetry.status = TelemetryStatus::decoded;
  telemetry.telemetry.members = "\"tlm_id\":\"4138\",\"UNIX\":\"1796479387.412\"";
  const Dispatch text = digipeater_text("say \"hi\"\\\n\xe9\x01");
  struct Case {
    const char* name;
    const Dispatch* dispatch;
    const char* decoded;
  };
  const Case cases[] = {
      {"telemetry", &telemetry, "telemetry"},
      {"text with quotes, controls and a high byte", &text, "digipeater_text"},
      {"nothing", nullptr, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PacketLogEntry entry{1796479387412, packet, 3, true, 1, 8, c.dispatch};
    const std::string line = packet_log_line(entry);
    ASSERT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    const auto read = parse_packet_log_line(std::string_view(line).substr(0, line.size() - 1));
    ASSERT_TRUE(read.has_value()) << line;
    EXPECT_EQ(read->received, "2026-12-05T14:03:07.412Z");
    EXPECT_EQ(read->frame, packet);
    EXPECT_EQ(read->rs_corrected, 3);
    EXPECT_TRUE(read->crc_tolerated);
    EXPECT_EQ(read->source, 1);
    EXPECT_EQ(read->port, 8);
    EXPECT_EQ(read->decoded, c.decoded);
  }
  EXPECT_EQ(packet_log_file_name(1796479387412), "2026-12-05.jsonl");
  EXPECT_EQ(iso_utc_ms(-1), "1969-12-31T23:59:59.999Z");
}

TEST(PacketLog, AnythingButAWholeLineIsRefused) {
  const std::string good =
      R"({"received":"2026-12-05T14:03:07.412Z","frame":"8a00074001020304","rs_corrected":0,)"
      R"("crc_tolerated":false,"source":1,"port":8,"decoded":"none"})";
  ASSERT_TRUE(parse_packet_log_line(good).has_value());
  const auto with = [&](const std::string& from, const std::string& to) {
    std::string line = good;
    line.replace(line.find(from), from.size(), to);
    return line;
  };
  const std::string cases[] = {
      good.substr(0, good.size() / 2),  // cut by a power failure
      "",
      "[1,2,3]",
      with("8a00074001020304", "8a0007400102030"),      // odd number of digits
      with("8a00074001020304", "8a000740010203zz"),     // not hex
      with("8a00074001020304", "8a000740010203"),       // shorter than header and CRC
      with("14:03:07.412Z", "14:03:07Z"),               // time without milliseconds
      with("\"rs_corrected\":0", "\"rs_corrected\":\"0\""),
      with("\"rs_corrected\":0", "\"rs_corrected\":17"),
      with("\"port\":8", "\"port\":64"),
      with("\"crc_tolerated\":false", "\"crc_tolerated\":0"),
      with("\"decoded\":\"none\"", "\"decoded\":\"other\""),
      with("\"source\":1,", ""),
      with("\"decoded\":\"none\"", "\"decoded\":\"none\",\"x\":" + std::string(5000, '[')),
      good + "x",
  };
  for (const std::string& line : cases) {
    SCOPED_TRACE(line.substr(0, 120));
    EXPECT_FALSE(parse_packet_log_line(line).has_value());
  }
}

}  // namespace kestrelis
