#include <gtest/gtest.h>

#include "kiss/record_files.hpp"
#include "support/process.hpp"

namespace kestrelis {

namespace {

constexpr int64_t received = 1700000000250;  // 2023-11-14 22:13:20.250 UTC

JsonObject object(const char* json) { return parse_json_object(json).value(); }

TEST(KissRecordFiles, JsonLineHasOwnMembersThenTheRecordTyped) {
  EXPECT_EQ(jsonl_line(object(R"({"tlm_id":"4138","UNIX":"1.500000"})"), received),
            R"({"_received":"2023-11-14T22:13:20.250Z","_received_unix":1700000000.250,)"
            R"("_sat":1,"_version":5,"_kind":"beacon","tlm_id":4138,"UNIX":1.500000})"
            "\n");
  // A record member of the same name wins; the line stays valid JSON.
  auto line = jsonl_line(object(R"({"_kind":"x"})"), 0);
  EXPECT_TRUE(parse_json_object(line.substr(0, line.size() - 1), JsonValues::scalars));
}

// Satellite 1 version 5 (tlm_id 4137, telemetry): eps_temp has six elements.
TEST(KissRecordFiles, MembersTypedByTheLayout) {
  const struct {
    const char* name;
    const char* tlm_id;
    const char* key;
    const char* value;
    CellKind kind;
  } cases[] = {
      {"field", "4137", "eps_vbatt", "7300", CellKind::number},
      {"last element", "4137", "eps_temp_5", "3", CellKind::number},
      {"past the last element", "4137", "eps_temp_6", "3", CellKind::string},
      {"unknown member", "4137", "note", "12", CellKind::string},
      {"no finite number", "4137", "UNIX", "nan", CellKind::null},
      {"no layout, number", "65535", "x", "12.5", CellKind::number},
      {"no layout, text", "65535", "x", "nan", CellKind::string},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    JsonObject record = {{"tlm_id", c.tlm_id}, {c.key, c.value}};
    const auto cells = record_cells(record, received);
    ASSERT_EQ(cells.back().key, c.key);
    EXPECT_EQ(cells.back().kind, c.kind);
    std::string line = jsonl_line(record, received);
    EXPECT_TRUE(parse_json_object(line.substr(0, line.size() - 1), JsonValues::scalars)) << line;
  }
}

TEST(KissRecordFiles, CsvCellsQuoteAndReadBack) {
  const std::vector<std::string> cells = {"plain", "a,b", "say \"hi\"", "", "line\nend"};
  std::string line = csv_line(cells);
  EXPECT_EQ(line, "plain,\"a,b\",\"say \"\"hi\"\"\",,\"line\nend\"\r\n");
  EXPECT_EQ(csv_cells(line.substr(0, line.size() - 2)), cells);
  EXPECT_FALSE(csv_cells("a,\"b"));
}

TEST(KissRecordFiles, CsvPerLayoutHeaderOnceAndOtherColumnsApart) {
  TempDir dir;
  RecordFiles files{dir.path() + "/records.jsonl", dir.path(), {}};
  const char* v5 = R"({"tlm_id":"4138","a":"1"})";
  EXPECT_EQ(write_record(files, object(v5), received), "");
  EXPECT_EQ(write_record(files, object(v5), received + 1000), "");
  EXPECT_EQ(write_record(files, object(R"({"tlm_id":"12313","b":"2"})"), received), "");
  // Same layout, other columns: never into sat1_v5.csv; said once.
  std::string note = write_record(files, object(R"({"tlm_id":"4138","c":"3"})"), received);
  EXPECT_NE(note.find("sat1_v5_alt1.csv"), std::string::npos);
  EXPECT_EQ(write_record(files, object(R"({"tlm_id":"4138","c":"4"})"), received), "");
  EXPECT_NE(write_record(files, object("{}"), received), "");  // no layout: JSON Lines only

  const std::string own = "_received,_received_unix,_sat,_version,_kind,";
  EXPECT_EQ(read_file(dir.path() + "/sat1_v5.csv"),
            own +
                "tlm_id,a\r\n"
                "2023-11-14T22:13:20.250Z,1700000000.250,1,5,beacon,4138,1\r\n"
                "2023-11-14T22:13:21.250Z,1700000001.250,1,5,beacon,4138,1\r\n");
  EXPECT_EQ(read_file(dir.path() + "/sat3_v3.csv"),
            own + "tlm_id,b\r\n2023-11-14T22:13:20.250Z,1700000000.250,3,3,telemetry,12313,2\r\n");
  EXPECT_EQ(read_file(dir.path() + "/sat1_v5_alt1.csv"),
            own +
                "tlm_id,c\r\n"
                "2023-11-14T22:13:20.250Z,1700000000.250,1,5,beacon,4138,3\r\n"
                "2023-11-14T22:13:20.250Z,1700000000.250,1,5,beacon,4138,4\r\n");
  std::string jsonl = read_file(files.jsonl_path);
  EXPECT_EQ(std::count(jsonl.begin(), jsonl.end(), '\n'), 6);

  EXPECT_FALSE(files.write_failed);

  // A folder that cannot be written is reported, once, and remembered for
  // the exit status.
  RecordFiles missing{"", dir.path() + "/no/such", {}};
  EXPECT_NE(write_record(missing, object(v5), received), "");
  EXPECT_EQ(write_record(missing, object(v5), received), "");
  EXPECT_TRUE(missing.write_failed);
}

}  // namespace

}  // namespace kestrelis
