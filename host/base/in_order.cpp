// A small pool of threads over an index, and an in-order reader of its results.
#include "base/in_order.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

std::size_t run_in_order(std::size_t count, std::size_t workers, bool stop_at_failure,
                         const std::function<bool(std::size_t)>& job,
                         const std::function<void(std::size_t)>& report) {
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<char> done(count, 0);
  std::vector<char> succeeded(count, 0);
  std::size_t next = 0;
  bool stopped = false;
  const auto work = [&] {
    for (;;) {
      std::size_t index = 0;
      {
        const std::lock_guard lock(mutex);
        if (stopped || next >= count) {
          return;
        }
        index = next++;
      }
      const bool good = job(index);
      {
        const std::lock_guard lock(mutex);
        done[index] = 1;
        succeeded[index] = good ? 1 : 0;
        stopped = stopped || (!good && stop_at_failure);
      }
      ended.notify_all();
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t worker = 0; worker < std::min(workers, count); ++worker) {
    threads.emplace_back(work);
  }
  std::size_t reported = 0;
  while (reported < count) {
    std::unique_lock lock(mutex);
    // Jobs start in order, so one not started by the time of a stop never will be.
    ended.wait(lock, [&] { return done[reported] != 0 || (stopped && reported >= next); });
    if (done[reported] == 0) {
      break;
    }
    const bool good = succeeded[reported] != 0;
    lock.unlock();
    report(reported++);
    if (!good && stop_at_failure) {
      break;
    }
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  return reported;
}
