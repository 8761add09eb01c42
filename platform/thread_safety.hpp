#pragma once
// A mutex, its scoped lock and a condition variable that clang's
// thread-safety analysis (-Wthread-safety) understands, so that the compiler
// checks which lock guards which field. libstdc++'s std::mutex carries no
// annotations. With other compilers the annotations expand to nothing.

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define KESTRELIS_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KESTRELIS_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) KESTRELIS_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY KESTRELIS_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) KESTRELIS_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) KESTRELIS_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) KESTRELIS_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) KESTRELIS_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) KESTRELIS_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KESTRELIS_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(x) KESTRELIS_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS KESTRELIS_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace kestrelis {

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to the end of the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Waits release the mutex while asleep and hold it again on return, as
// std::condition_variable's do. Callers loop on their own condition: a
// predicate passed as a lambda would read guarded fields where the analysis
// cannot see the lock.
class CondVar {
 public:
  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock lock(mutex.mutex_, std::adopt_lock);
    condition_.wait(lock);
    lock.release();
  }
  // False when `deadline` passed first.
  bool wait_until(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock lock(mutex.mutex_, std::adopt_lock);
    const bool woken = condition_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return woken;
  }
  void notify_one() { condition_.notify_one(); }
  void notify_all() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};

}  // namespace kestrelis
