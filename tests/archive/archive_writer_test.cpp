// The bounded writer: while its write function is stuck the queue side never
// waits, takes what fits and counts the rest; failures and the recovery are
// reported once each.

#include "archive/archive_writer.hpp"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace kestrelis {

namespace {

// A write function that holds every write until released, and records what it wrote.
struct StuckDisk {
  std::mutex mutex;
  std::condition_variable changed;
  bool released = false;
  int entered = 0;
  std::vector<std::string> written;
  std::vector<int> errors;  // the result of each write, in turn; 0 once used up

  int write(const ArchiveItem& item) {
    std::unique_lock lock(mutex);
    ++entered;
    changed.notify_all();
    changed.wait(lock, [&] { return released; });
    const size_t n = written.size();
    written.push_back(item.bytes);
    return n < errors.size() ? errors[n] : 0;
  }
  void wait_entered(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered >= n; });
  }
  void release() {
    const std::lock_guard lock(mutex);
    released = true;
    changed.notify_all();
  }
};

TEST(ArchiveWriter, StuckWriteNeverHoldsTheQueueSideAndDropsAreCounted) {
  StuckDisk disk;
  std::atomic<uint64_t> lost{0};
  std::vector<std::pair<std::string, int>> reports;
  {
    ArchiveWriter writer(
        100, [&](const ArchiveItem& item) { return disk.write(item); },
        [&](const ArchiveItem& item, int error) { reports.emplace_back(item.bytes, error); }, lost);
    ASSERT_TRUE(archive_offer(writer, {"f", "line 0..\n"}));
    disk.wait_entered(1);  // the writer holds item 0 and is stuck
    // Ten 10-byte items fill the 100 bytes; the next ten are refused at once.
    int taken = 0;
    for (int i = 1; i <= 20; ++i) {
      taken += archive_offer(writer, {"f", std::string(9, char('a' + i)) + "\n"}) ? 1 : 0;
    }
    EXPECT_EQ(taken, 10);
    EXPECT_EQ(lost.load(), 10u);
    disk.release();
    EXPECT_EQ(archive_drain(writer, 5000), 0u);
    EXPECT_EQ(writer.items_written.load(), 11u);
    EXPECT_EQ(writer.bytes_written.load(), 9u + 10 * 10u);
  }
  ASSERT_EQ(disk.written.size(), 11u);
  EXPECT_EQ(disk.written[10], "kkkkkkkkk\n");
  EXPECT_TRUE(reports.empty());
}

TEST(ArchiveWriter, AFailureIsReportedOnceAndSoIsTheRecovery) {
  StuckDisk disk;
  disk.errors = {0, 28, 28, 28, 0, 0, 5, 0};
  disk.release();
  std::atomic<uint64_t> lost{0};
  std::vector<std::pair<std::string, int>> reports;
  ArchiveWriter writer(
      1000, [&](const ArchiveItem& item) { return disk.write(item); },
      [&](const ArchiveItem& item, int error) { reports.emplace_back(item.bytes, error); }, lost);
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(archive_offer(writer, {"f", std::to_string(i)}));
  EXPECT_EQ(archive_drain(writer, 5000), 0u);
  const std::vector<std::pair<std::string, int>> expected = {
      {"1", 28}, {"4", 0}, {"6", 5}, {"7", 0}};
  EXPECT_EQ(reports, expected);
  EXPECT_EQ(lost.load(), 4u);
  EXPECT_EQ(writer.items_written.load(), 4u);
}

TEST(ArchiveWriter, DrainGivesUpOnAStuckWriteAndCountsWhatIsLeft) {
  StuckDisk disk;
  std::atomic<uint64_t> lost{0};
  ArchiveWriter writer(
      1000, [&](const ArchiveItem& item) { return disk.write(item); },
      [](const ArchiveItem&, int) {}, lost);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(archive_offer(writer, {"f", "x"}));
  disk.wait_entered(1);
  EXPECT_EQ(archive_drain(writer, 50), 4u);
  EXPECT_EQ(lost.load(), 4u);
  disk.release();  // lets the destructor join the thread
}

}  // namespace

}  // namespace kestrelis
