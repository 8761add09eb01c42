#include "archive/archive_writer.hpp"

#include <chrono>
#include <utility>

namespace kestrelis {

ArchiveWriter::ArchiveWriter(size_t capacity, ArchiveWrite write_item, ArchiveReport report_change,
                             std::atomic<uint64_t>& lost_items)
    : capacity_bytes_(capacity),
      write_(std::move(write_item)),
      report_(std::move(report_change)),
      lost_(lost_items),
      thread_(&ArchiveWriter::write_queue, this) {}

ArchiveWriter::~ArchiveWriter() {
  {
    const MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

uint64_t ArchiveWriter::items_written() const {
  return items_written_.load(std::memory_order_relaxed);
}

uint64_t ArchiveWriter::bytes_written() const {
  return bytes_written_.load(std::memory_order_relaxed);
}

void ArchiveWriter::write_queue() {
  bool last_written = true;
  mutex_.lock();
  for (;;) {
    while (!stopping_ && queue_.empty()) changed_.wait(mutex_);
    if (stopping_) break;
    ArchiveItem item = std::move(queue_.front());
    queue_.pop_front();
    queued_bytes_ -= item.bytes.size();
    busy_ = true;
    mutex_.unlock();

    const ArchiveWritten outcome = write_(item);
    if (outcome.written()) {
      items_written_.fetch_add(1, std::memory_order_relaxed);
      bytes_written_.fetch_add(item.bytes.size(), std::memory_order_relaxed);
    } else {
      lost_.fetch_add(1, std::memory_order_relaxed);
    }
    if (outcome.written() != last_written) report_(item, outcome);
    last_written = outcome.written();

    mutex_.lock();
    busy_ = false;
    changed_.notify_all();
  }
  mutex_.unlock();
}

bool archive_offer(ArchiveWriter& writer, ArchiveItem item) {
  {
    const MutexLock lock(writer.mutex_);
    const size_t size = item.bytes.size();
    if (!writer.drained_ && size <= writer.capacity_bytes_ - writer.queued_bytes_) {
      writer.queued_bytes_ += size;
      writer.queue_.push_back(std::move(item));
      writer.changed_.notify_all();
      return true;
    }
  }
  writer.lost_.fetch_add(1, std::memory_order_relaxed);
  return false;
}

size_t archive_drain(ArchiveWriter& writer, int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const MutexLock lock(writer.mutex_);
  while (!writer.queue_.empty() || writer.busy_) {
    if (!writer.changed_.wait_until(writer.mutex_, deadline)) break;
  }
  // The process ends after the drain, so a write still in progress (a stuck
  // disk or network mount) counts as not made.
  const size_t left = writer.queue_.size() + (writer.busy_ ? 1 : 0);
  writer.drained_ = true;
  writer.queue_.clear();
  writer.queued_bytes_ = 0;
  writer.lost_.fetch_add(left, std::memory_order_relaxed);
  return left;
}

}  // namespace kestrelis
