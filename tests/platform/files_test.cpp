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
  const std::nullopt_t none = std::nullopt;
  const AppendKind log_line = AppendKind::log_line, record = AppendKind::record;
  // The text there before (none: no file, "/": a folder), the kind, the error
  // at open (0: appended), the text after (none: still no file).
  const std::tuple<const char*, std::optional<std::string>, AppendKind, int,
                   std::optional<std::string>>
      cases[] = {
          {"log line makes a missing file", none, log_line, 0, "new\n"},
          {"log line after a whole line", "old\n", log_line, 0, "old\nnew\n"},
          {"log line after a cut line starts its own", "ol", log_line, 0, "ol\nnew\n"},
          {"record to a missing file is refused", none, record, ENOENT, none},
          {"record after its header", "H\n", record, 0, "H\nnew\n"},
          {"record after a cut line stays joined", "H", record, 0, "Hnew\n"},
          {"a folder in the way", "/", log_line, EISDIR, none},
      };
  for (const auto& [name, before, kind, error, after] : cases) {
    SCOPED_TRACE(name);
    TempFolder dir;
    const std::string path = dir.file("log.txt");
    if (before) {
      ASSERT_TRUE((*before == "/" ? make_directory(path) : create_new_file(path, *before)).ok());
    }
    EXPECT_EQ(failure(append_whole(path, "new\n", kind)),
              std::pair(error == 0 ? SysStep::none : SysStep::open, error));
    if (before == "/") continue;
    EXPECT_EQ(read_whole_file(path), after);
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

// A lock held until its owner ends; folders made at every level, and UTF-8 names.
TEST(Files, LockIsExclusiveUntilItsOwnerEndsAndFoldersAtEveryLevelHaveUtf8Names) {
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
