#include "imagelib/worker.h"

#include <atomic>
#include <utility>

#if defined(IMAGELIB_THREADS)
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace {

std::atomic<bool> threads_allowed{true};

}  // namespace

namespace imagelib_detail {

bool threads_available() {
#if defined(IMAGELIB_THREADS)
  return true;
#else
  return false;
#endif
}

void set_threads(bool allowed) {
  threads_allowed.store(allowed);
}

#if defined(IMAGELIB_THREADS)

struct Worker::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::function<void()> job;  // handed over and not yet finished
  bool busy = false;
  bool stopping = false;
  std::thread thread;

  void run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return busy || stopping; });
      if (!busy) {
        return;
      }
      lock.unlock();
      job();
      lock.lock();
      job = nullptr;
      busy = false;
      changed.notify_all();
    }
  }
};

Worker::Worker(bool wanted) {
  if (!wanted || !threads_allowed.load()) {
    return;
  }
  auto shared = std::make_unique<Shared>();
  try {
    shared->thread = std::thread([raw = shared.get()] { raw->run(); });
  } catch (const std::system_error&) {
    return;  // no thread to be had: the jobs run here
  }
  shared_ = std::move(shared);
}

Worker::~Worker() {
  if (shared_ == nullptr) {
    return;
  }
  {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->stopping = true;
  }
  shared_->changed.notify_all();
  shared_->thread.join();
}

void Worker::start(std::function<void()> job) {
  if (shared_ == nullptr) {
    job();
    return;
  }
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [this] { return !shared_->busy; });
  shared_->job = std::move(job);
  shared_->busy = true;
  lock.unlock();
  shared_->changed.notify_all();
}

void Worker::wait() {
  if (shared_ == nullptr) {
    return;
  }
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [this] { return !shared_->busy; });
}

struct TurnOrder::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t next = 0;
  bool failed = false;
};

TurnOrder::TurnOrder() : shared_(std::make_unique<Shared>()) {}
TurnOrder::~TurnOrder() = default;

bool TurnOrder::wait_for(uint64_t turn) {
  std::unique_lock<std::mutex> lock(shared_->mutex);
  shared_->changed.wait(lock, [this, turn] { return shared_->failed || shared_->next == turn; });
  return !shared_->failed;
}

void TurnOrder::finish(bool failed) {
  {
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    ++shared_->next;
    shared_->failed = shared_->failed || failed;
  }
  shared_->changed.notify_all();
}

#else

struct Worker::Shared {};

Worker::Worker(bool) {}
Worker::~Worker() = default;

void Worker::start(std::function<void()> job) {
  job();
}

void Worker::wait() {}

// One thread takes every turn, in order.
struct TurnOrder::Shared {
  bool failed = false;
};

TurnOrder::TurnOrder() : shared_(std::make_unique<Shared>()) {}
TurnOrder::~TurnOrder() = default;

bool TurnOrder::wait_for(uint64_t) {
  return !shared_->failed;
}

void TurnOrder::finish(bool failed) {
  shared_->failed = shared_->failed || failed;
}

#endif

}  // namespace imagelib_detail
