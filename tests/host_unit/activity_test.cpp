// Whether an extension is at work, read from the kernel: a process whose first thread
// sleeps while another is ready to run is at work (a wrapper passing an answer on); one
// whose every thread sleeps is not. Each state is awaited as an event, never a pause.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "process/activity.h"

namespace {

// The state letters of every thread of `pid`.
std::string thread_states(pid_t pid) {
  std::string states;
  std::error_code failure;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", failure)) {
    std::ifstream stat(task.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t name_end = text.rfind(')');
    if (name_end != std::string::npos && name_end + 2 < text.size()) {
      states += text[name_end + 2];
    }
  }
  return states;
}

// A child of this process with two threads: the first blocked reading a pipe, the second
// spinning or blocked as well. It ends when the pipe closes.
class TwoThreads {
 public:
  explicit TwoThreads(bool second_spins) {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    child_ = fork();
    if (child_ == 0) {
      close(ends[1]);
      std::thread second([&] {
        char byte = 0;
        if (second_spins) {
          for (std::atomic<long> turns = 0;; turns.fetch_add(1, std::memory_order_relaxed)) {
          }
        }
        (void)read(ends[0], &byte, 1);
      });
      second.detach();
      char byte = 0;
      (void)read(ends[0], &byte, 1);
      _exit(0);
    }
    close(ends[0]);
    write_end_ = ends[1];
    // Two threads, the first asleep: the picture the test reads.
    const std::size_t sleeping = second_spins ? 1 : 2;
    for (std::string states = thread_states(child_);
         states.size() != 2 ||
         static_cast<std::size_t>(std::count(states.begin(), states.end(), 'S')) != sleeping ||
         (second_spins && states.find('R') == std::string::npos);
         states = thread_states(child_)) {
      std::this_thread::yield();
    }
  }
  ~TwoThreads() {
    close(write_end_);
    kill(child_, SIGKILL);
    waitpid(child_, nullptr, 0);
  }
  TwoThreads(const TwoThreads&) = delete;
  TwoThreads& operator=(const TwoThreads&) = delete;

 private:
  pid_t child_ = -1;
  int write_end_ = -1;
};

TEST(Activity, EveryThreadCountsNotTheFirstAlone) {
  {
    const TwoThreads asleep(/*second_spins=*/false);
    EXPECT_FALSE(any_process_at_work(getpid())) << "a child whose every thread sleeps is at work";
  }
  const TwoThreads ready(/*second_spins=*/true);
  EXPECT_TRUE(any_process_at_work(getpid()))
      << "a child whose first thread sleeps, and whose second runs, is not at work";
}

}  // namespace
