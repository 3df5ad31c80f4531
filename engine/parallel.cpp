#include "engine/parallel.h"

#include <pthread.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// A thread waiting for its next task. Threads are never ended: the process keeps as many as the
// most parts that ever ran at once, each of them asleep between tasks.
struct Worker {
  std::mutex mutex;
  std::condition_variable wake;
  std::function<void()> task;
};

class Workers {
 public:
  explicit Workers(Workers* before = nullptr) : before_(before) {}
  // An idle worker, or a new one; nullptr when no thread can be started.
  Worker* Take() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        Worker* worker = idle_.back();
        idle_.pop_back();
        return worker;
      }
    }
    auto* worker = new Worker;
    try {
      std::thread([this, worker] { Serve(*worker); }).detach();
    } catch (const std::system_error&) {
      delete worker;
      return nullptr;
    }
    return worker;
  }

 private:
  void Serve(Worker& worker) {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(worker.mutex);
        worker.wake.wait(lock, [&] { return worker.task != nullptr; });
        task = std::move(worker.task);
        worker.task = nullptr;
      }
      task();
      std::lock_guard lock(mutex_);
      idle_.push_back(&worker);
    }
  }

  std::mutex mutex_;
  std::vector<Worker*> idle_;
  [[maybe_unused]] Workers* before_;  // those of the parent, in a forked child: kept, never used
};

// Never destroyed: a worker may still be putting itself back as the process exits. A child
// forked from the process has none of its threads: it starts with workers of its own.
Workers* shared_workers = nullptr;

Workers& SharedWorkers() {
  static const bool once = [] {
    shared_workers = new Workers;
    return pthread_atfork(nullptr, nullptr, [] { shared_workers = new Workers(shared_workers); }) ==
           0;
  }();
  (void)once;
  return *shared_workers;
}

}  // namespace

void OnCores(int parts, const std::function<void(int)>& fn, bool spread) {
  if (parts <= 1 || !spread) {
    for (int part = 0; part < parts; ++part) fn(part);
    return;
  }
  std::vector<std::exception_ptr> errors(static_cast<size_t>(parts));
  auto run = [&](int part) {
    try {
      fn(part);
    } catch (...) {
      errors[static_cast<size_t>(part)] = std::current_exception();
    }
  };
  std::vector<Worker*> taken;
  for (int part = 1; part < parts; ++part) {
    Worker* worker = SharedWorkers().Take();
    if (worker == nullptr) break;
    taken.push_back(worker);
  }
  // The caller waits until each taken worker has said it is done, under the lock: nothing of
  // this call is touched once the wait is over.
  std::mutex mutex;
  std::condition_variable finished;
  size_t running = taken.size();
  for (size_t k = 0; k < taken.size(); ++k) {
    const int part = static_cast<int>(k) + 1;
    {
      std::lock_guard lock(taken[k]->mutex);
      taken[k]->task = [&, part] {
        run(part);
        std::lock_guard done(mutex);
        --running;
        finished.notify_all();
      };
    }
    taken[k]->wake.notify_one();
  }
  run(0);
  for (int part = static_cast<int>(taken.size()) + 1; part < parts; ++part) run(part);
  std::unique_lock lock(mutex);
  finished.wait(lock, [&] { return running == 0; });
  lock.unlock();
  for (const std::exception_ptr& error : errors)
    if (error) std::rethrow_exception(error);
}
