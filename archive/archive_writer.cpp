#include "archive/archive_writer.hpp"

#include <chrono>
#include <utility>

namespace kestrelis {

namespace {

void write_queue(ArchiveWriter& w) {
  int last_error = 0;
  std::unique_lock lock(w.mutex);
  for (;;) {
    w.changed.wait(lock, [&] { return w.stopping || !w.queue.empty(); });
    if (w.stopping) return;
    ArchiveItem item = std::move(w.queue.front());
    w.queue.pop_front();
    w.queued_bytes -= item.bytes.size();
    w.busy = true;
    lock.unlock();

    const int error = w.write(item);
    if (error == 0) {
      w.items_written.fetch_add(1, std::memory_order_relaxed);
      w.bytes_written.fetch_add(item.bytes.size(), std::memory_order_relaxed);
    } else {
      w.lost.fetch_add(1, std::memory_order_relaxed);
    }
    if ((error != 0) != (last_error != 0)) w.report(item, error);
    last_error = error;

    lock.lock();
    w.busy = false;
    w.changed.notify_all();
  }
}

}  // namespace

ArchiveWriter::ArchiveWriter(size_t capacity, ArchiveWrite write_item, ArchiveReport report_change,
                             std::atomic<uint64_t>& lost_items)
    : capacity_bytes(capacity),
      write(std::move(write_item)),
      report(std::move(report_change)),
      lost(lost_items),
      thread(write_queue, std::ref(*this)) {}

ArchiveWriter::~ArchiveWriter() {
  {
    const std::lock_guard lock(mutex);
    stopping = true;
  }
  changed.notify_all();
  thread.join();
}

bool archive_offer(ArchiveWriter& writer, ArchiveItem item) {
  {
    const std::lock_guard lock(writer.mutex);
    const size_t size = item.bytes.size();
    if (!writer.drained && size <= writer.capacity_bytes - writer.queued_bytes) {
      writer.queued_bytes += size;
      writer.queue.push_back(std::move(item));
      writer.changed.notify_all();
      return true;
    }
  }
  writer.lost.fetch_add(1, std::memory_order_relaxed);
  return false;
}

size_t archive_drain(ArchiveWriter& writer, int timeout_ms) {
  std::unique_lock lock(writer.mutex);
  writer.changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                          [&] { return writer.queue.empty() && !writer.busy; });
  // The process ends after the drain, so a write still in progress (a stuck
  // disk or network mount) counts as not made.
  const size_t left = writer.queue.size() + (writer.busy ? 1 : 0);
  writer.drained = true;
  writer.queue.clear();
  writer.queued_bytes = 0;
  writer.lost.fetch_add(left, std::memory_order_relaxed);
  return left;
}

}  // namespace kestrelis
