// A second thread for the library's long loops: the writer formats every other band of text on it,
// the reader parses the second half of a long text raster, a noise pass marks half its draws.
// Internal to the library and its noise step; the tests run every caller both ways.
#ifndef IMAGELIB_WORKER_H
#define IMAGELIB_WORKER_H

#include <cstdint>
#include <functional>
#include <memory>

namespace imagelib_detail {

// Whether this build can start threads (not so a wasm32 build without threads).
bool threads_available();

// Allows a Worker its thread (the default) or keeps every Worker's jobs on the caller's thread,
// from now on; for tests that hold both ways to the same results.
void set_threads(bool allowed);

// One helper thread running one job at a time, started with the Worker and joined when it goes.
// Without threads (none in the build, not allowed, or none to be had from the system), every job
// runs on the caller's thread within start(), so a caller's results are the same either way.
class Worker {
 public:
  // wanted false keeps the jobs on the caller's thread.
  explicit Worker(bool wanted = true);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Whether the jobs run on a thread of their own, beside the caller.
  bool has_thread() const { return shared_ != nullptr; }

  // Waits for the job before, then hands job over.
  void start(std::function<void()> job);
  // Waits until the job handed over last has run.
  void wait();

 private:
  struct Shared;
  std::unique_ptr<Shared> shared_;
};

// Numbered turns, 0, 1, 2..., taken in order by a caller and its Worker's jobs: each party waits
// for its turn, does what must come in order, and finishes the turn. A failed turn ends all the
// turns after it.
class TurnOrder {
 public:
  TurnOrder();
  ~TurnOrder();
  TurnOrder(const TurnOrder&) = delete;
  TurnOrder& operator=(const TurnOrder&) = delete;

  // Waits until every turn before this one is finished; false once one of them has failed.
  bool wait_for(uint64_t turn);
  // Finishes the turn waited for last.
  void finish(bool failed);

 private:
  struct Shared;
  std::unique_ptr<Shared> shared_;
};

}  // namespace imagelib_detail

#endif
