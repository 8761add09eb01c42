// The file calls of the platform layer, on every system the same: appends
// whole or refused, text read back line by line, replacement by rename,
// exclusive locks and UTF-8 names.

#include "platform/files.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "system/child_process.hpp"

namespace kestrelis {

namespace {

class TempFolder {
 public:
  TempFolder() : path_(make_temp_directory("kestrelis-files-").value()) {}
  ~TempFolder() { remove_tree(path_); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  [[nodiscard]] std::string file(const std::string& name) const { return path_ + "/" + name; }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(Files, AppendWholeByKindAndWhatIsThere) {
  struct Case {
    const char* name;
    std::optional<std::string> before;  // none: no file
    bool folder = false;                // a folder in the file's place
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
    const SysResult appended = append_whole(path, "new\n", c.kind);
    EXPECT_EQ(appended.error, c.error);
    EXPECT_EQ(appended.failed_at, c.error == 0 ? SysStep::none : SysStep::open);
    if (c.folder) continue;
    EXPECT_EQ(read_whole_file(path), c.after);
  }
}

TEST(Files, TextFileReadsBackLineByLine) {
  TempFolder dir;
  const std::string path = dir.file("config.ini");
  ASSERT_TRUE(write_text_file(path, "[modem]\nKISS_Port = 1\n\nlast\n").ok());
  // Whatever line ends the system writes, a text reader gets the lines back.
  std::FILE* file = open_regular_file(path);
  ASSERT_NE(file, nullptr);
  std::vector<std::string> lines;
  char line[64];
  while (std::fgets(line, sizeof line, file) != nullptr) lines.emplace_back(line);
  std::fclose(file);
  EXPECT_EQ(lines, (std::vector<std::string>{"[modem]\n", "KISS_Port = 1\n", "\n", "last\n"}));
}

TEST(Files, ReplaceLeavesTheNewTextAndNothingBeside) {
  TempFolder dir;
  const std::string path = dir.file("forward.state");
  ASSERT_TRUE(replace_file(path, "first").ok());
  ASSERT_TRUE(replace_file(path, "second").ok());
  EXPECT_EQ(read_whole_file(path), "second");
  EXPECT_EQ(regular_file_names(dir.path()), std::vector<std::string>{"forward.state"});
  const SysResult no_folder = replace_file(dir.file("gone/forward.state"), "third");
  EXPECT_EQ(no_folder.failed_at, SysStep::open);
  EXPECT_EQ(no_folder.error, ENOENT);
}

TEST(Files, CreateNewRefusesAnExistingFile) {
  TempFolder dir;
  const std::string path = dir.file("a.rec");
  ASSERT_TRUE(create_new_file(path, "one").ok());
  const SysResult again = create_new_file(path, "two");
  EXPECT_EQ(again.failed_at, SysStep::open);
  EXPECT_EQ(again.error, EEXIST);
  EXPECT_EQ(read_whole_file(path), "one");
  EXPECT_TRUE(remove_file(path).ok());
  EXPECT_FALSE(path_exists(path));
  const SysResult removed_again = remove_file(path);
  EXPECT_EQ(removed_again.failed_at, SysStep::remove);
  EXPECT_EQ(removed_again.error, ENOENT);
}

TEST(Files, ReadPartFromAnOffset) {
  TempFolder dir;
  const std::string path = dir.file("part");
  ASSERT_TRUE(create_new_file(path, "0123456789").ok());
  const FilePart middle = read_file_part(path, 3, 4);
  EXPECT_EQ(middle.error, 0);
  EXPECT_EQ(middle.bytes, "3456");
  EXPECT_EQ(middle.size, 10u);
  const FilePart beyond = read_file_part(path, 12, 4);
  EXPECT_EQ(beyond.error, 0);
  EXPECT_EQ(beyond.bytes, "");
  EXPECT_EQ(read_file_part(dir.file("missing"), 0, 4).error, ENOENT);
  EXPECT_EQ(file_size(path), 10u);
  EXPECT_FALSE(file_size(dir.file("missing")).has_value());
}

TEST(Files, LockIsExclusiveUntilItsOwnerEnds) {
  TempFolder dir;
  const std::string path = dir.file("forward.lock");
  {
    FileLock first;
    ASSERT_TRUE(lock_file(path, first).ok());
    FileLock second;
    const SysResult taken = lock_file(path, second);
    EXPECT_EQ(taken.failed_at, SysStep::lock);
    EXPECT_EQ(taken.error, EWOULDBLOCK);
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
