#pragma once
// A bounded queue of whole records (packet log lines, recorded datagrams) and
// the thread that writes them, so that the receive thread never waits on the
// disk: it only queues, and what does not fit is counted as lost, never held.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>

#include "platform/sys_result.hpp"
#include "platform/thread_safety.hpp"

namespace kestrelis {

struct ArchiveItem {
  std::string path;   // the file the bytes go to
  std::string bytes;  // one whole record
};

// What became of one item: written, failed (where and why in `status`), or
// left unwritten on purpose because the copy it was meant for has ended,
// which counts it as lost like a failure but is no failure to report.
struct [[nodiscard]] ArchiveWritten {
  SysResult status;
  bool copy_ended = false;

  [[nodiscard]] bool written() const { return status.ok() && !copy_ended; }
};

// Writes one item. Runs on the writer thread.
using ArchiveWrite = std::function<ArchiveWritten(const ArchiveItem& item)>;

// Runs on the writer thread at the first item not written after a written
// one (or at the start) and at the first written one after one that was not,
// with what became of it; so an operator hears once of a failure and once of
// the recovery.
using ArchiveReport = std::function<void(const ArchiveItem& item, const ArchiveWritten& outcome)>;

// The queue and its writer thread, started by the constructor. `lost` counts
// every item not written: refused because the queue held `capacity` bytes,
// failed to write, left unwritten by archive_drain or offered after it (the
// receive thread runs on while the process ends). Any thread may offer and
// read the counters at any time.
class ArchiveWriter {
 public:
  ArchiveWriter(size_t capacity, ArchiveWrite write_item, ArchiveReport report_change,
                std::atomic<uint64_t>& lost_items);
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;
  // Stops the thread after the item in hand (which the write function must
  // return from); what is still queued is dropped.
  ~ArchiveWriter() EXCLUDES(mutex_);

  // Items and bytes written so far.
  [[nodiscard]] uint64_t items_written() const;
  [[nodiscard]] uint64_t bytes_written() const;

  friend bool archive_offer(ArchiveWriter& writer, ArchiveItem item) EXCLUDES(writer.mutex_);
  friend size_t archive_drain(ArchiveWriter& writer, int timeout_ms) EXCLUDES(writer.mutex_);

 private:
  // The writer thread: takes items off the queue and writes them with the
  // lock released, so that offers never wait on the disk.
  void write_queue() EXCLUDES(mutex_);

  const size_t capacity_bytes_;
  const ArchiveWrite write_;
  const ArchiveReport report_;
  std::atomic<uint64_t>& lost_;
  std::atomic<uint64_t> items_written_{0};
  std::atomic<uint64_t> bytes_written_{0};

  Mutex mutex_;
  CondVar changed_;
  std::deque<ArchiveItem> queue_ GUARDED_BY(mutex_);
  size_t queued_bytes_ GUARDED_BY(mutex_) = 0;
  bool busy_ GUARDED_BY(mutex_) = false;     // writing an item it took off the queue
  bool drained_ GUARDED_BY(mutex_) = false;  // archive_drain has run: the process is ending
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last, so that it starts once everything else is built
};

// Queues `item` without waiting for anything but the queue's lock. Returns
// false, counting the item as lost, when it does not fit.
bool archive_offer(ArchiveWriter& writer, ArchiveItem item);

// Waits up to `timeout_ms` for the queue to be written out. Returns the
// number of items not written by then, which are counted as lost: those
// still queued, which are dropped, and the one whose write has not returned
// (0: all written). Every later offer is refused and counted as lost.
[[nodiscard]] size_t archive_drain(ArchiveWriter& writer, int timeout_ms);

}  // namespace kestrelis
