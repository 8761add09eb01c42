// The file calls of the platform layer, on every system the same: appends
// whole or refused, text read back line by line, replacement by rename,
// exclusive locks and UTF-8 names.

#include "platform/files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "system/child_process.hpp"

namespace kestrelis {

namespace {

struct TempFolder {
  ~TempFolder() { remove_tree(path); }
  [[nodiscard]] std::string file(const std::string& name) const { return path + "/" + name; }
  const std::string path = make_temp_directory("kestrelis-files-").value();
};

std::pair<SysStep, int> failure(const SysResult& r) { return {r.failed_at, r.error}; }

TEST(Files, AppendWholeByKindAndWhatIsThere) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // none: no file
    bool folder;                        // a folder in the file's place
    AppendKind kind;
    int error;                         // refused at open when not 0
    std::optional<std::string> after;  // none: still no file
  };
  const std::vector<Case> cases = {
      {"log line makes a missing file", std::nullopt, false, AppendKind::log_line, 0, "new\n"},
      {"log line after a whole line", "old\n", false, AppendKind::log_line, 0, "old\nnew\n"},
      {"log line after a cut line starts its own", "ol", false, AppendKind::log_line, 0,
       "ol\nnew\n"},
      {"record to a missing file is refused", std::nullopt, false, AppendKind::record, ENOENT,
       std::nullopt},
      {"record after its header", "H\n", false, AppendKind::record, 0, "H\nnew\n"},
      {"record after a cut line stays joined", "H", false, AppendKind::record, 0, "Hnew\n"},
      {"a folder in the way", std::nullopt, true, AppendKind::log_line, EISDIR, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder dir;
    const std::string path = dir.file("log.txt");
    if (c.before) {
      ASSERT_TRUE(create_new_file(path, *c.before).ok());
    }
    if (c.folder) {
      ASSERT_TRUE(make_directory(path).ok());
    }
    EXPECT_EQ(failure(append_whole(path, "new\n", c.kind)),
              std::pair(c.error == 0 ? SysStep::none : SysStep::open, c.error));
    if (c.folder) continue;
    EXPECT_EQ(read_whole_file(path), c.after);
  }
}

// Text read back line by line whatever line ends the system writes; a
// replacement that leaves nothing beside; a new file that refuses an existing
// one; a part read from an offset; the failing step of each refusal.
TEST(Files, WrittenFilesReadBackAndRefusalsNameTheirStep) {
  TempFolder dir;
  const std::string config = dir.file("config.ini");
  ASSERT_TRUE(write_text_file(config, "[modem]\nKISS_Port = 1\n\nlast\n").ok());
  std::FILE* file = open_regular_file(config);
  ASSERT_NE(file, nullptr);
  std::vector<std::string> lines;
  char line[64];
  while (std::fgets(line, sizeof line, file) != nullptr) lines.emplace_back(line);
  std::fclose(file);
  EXPECT_EQ(lines, (std::vector<std::string>{"[modem]\n", "KISS_Port = 1\n", "\n", "last\n"}));
  ASSERT_TRUE(remove_file(config).ok());
  EXPECT_FALSE(path_exists(config));
  EXPECT_EQ(failure(remove_file(config)), std::pair(SysStep::remove, ENOENT));

  const std::string state = dir.file("forward.state");
  ASSERT_TRUE(replace_file(state, "first").ok());
  ASSERT_TRUE(replace_file(state, "second").ok());
  EXPECT_EQ(read_whole_file(state), "second");
  EXPECT_EQ(regular_file_names(dir.path), std::vector<std::string>{"forward.state"});
  EXPECT_EQ(failure(replace_file(dir.file("gone/forward.state"), "third")),
            std::pair(SysStep::open, ENOENT));

  const std::string record = dir.file("a.rec");
  ASSERT_TRUE(create_new_file(record, "0123456789").ok());
  EXPECT_EQ(failure(create_new_file(record, "two")), std::pair(SysStep::open, EEXIST));
  const FilePart middle = read_file_part(record, 3, 4);
  EXPECT_EQ(std::tie(middle.error, middle.bytes, middle.size), std::tuple(0, "3456", 10u));
  const FilePart beyond = read_file_part(record, 12, 4);
  EXPECT_EQ(std::tie(beyond.error, beyond.bytes), std::tuple(0, ""));
  EXPECT_EQ(read_file_part(dir.file("missing"), 0, 4).error, ENOENT);
  EXPECT_EQ(file_size(record), 10u);
  EXPECT_FALSE(file_size(dir.file("missing")).has_value());
}

TEST(Files, LockIsExclusiveUntilItsOwnerEnds) {
  TempFolder dir;
  const std::string path = dir.file("forward.lock");
  {
    FileLock first;
    ASSERT_TRUE(lock_file(path, first).ok());
    FileLock second;
    EXPECT_EQ(failure(lock_file(path, second)), std::pair(SysStep::lock, EWOULDBLOCK));
  }
  FileLock again;
  EXPECT_TRUE(lock_file(path, again).ok());
}

TEST(Files, FoldersAtEveryLevelAndUtf8Names) {
  TempFolder dir;
  const std::string deep = dir.file("a/b/Zürich");
  EXPECT_TRUE(make_directories(deep).ok());
  EXPECT_TRUE(is_directory(deep));
  EXPECT_TRUE(make_directories(deep).ok());
  ASSERT_TRUE(create_new_file(deep + "/Grüße.txt", "x").ok());
  EXPECT_TRUE(file_has_content(deep + "/Grüße.txt"));
  EXPECT_EQ(regular_file_names(deep), std::vector<std::string>{"Grüße.txt"});
  EXPECT_FALSE(env_var("KESTRELIS_SURELY_NOT_SET_ANYWHERE").has_value());
}

}  // namespace

}  // namespace kestrelis
