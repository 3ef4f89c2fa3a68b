// Driving the calls through the pipes and timing them.
#include "exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_between(Clock::time_point start, Clock::time_point end) {
  return std::chrono::duration<double>(end - start).count();
}

// Replies as they arrive, split into lines and checked one by one.
class ReplyChecker {
 public:
  ReplyChecker(const Contestant& contestant, const Workload& workload)
      : contestant_(contestant), workload_(workload) {}

  // Checks every whole line in `*buffer` and removes it; an unfinished last line stays.
  // Returns false at the first wrong reply, or at a reply beyond the last call.
  bool take(std::string* buffer) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t found = buffer->find('\n', scanned_);
      if (found == std::string::npos) {
        break;
      }
      const std::size_t end = found + 1;
      const std::string_view reply = std::string_view(*buffer).substr(start, end - start);
      if (checked_ == workload_.calls ||
          !reply_matches(workload_, contestant_.reply_form, contestant_.ignore_hex_case, checked_,
                         reply)) {
        problem_ =
            "reply " + std::to_string(checked_) + " is wrong: " + std::string(reply.substr(0, 160));
        return false;
      }
      ++checked_;
      start = end;
      scanned_ = end;
    }
    buffer->erase(0, start);
    scanned_ = buffer->size();
    return true;
  }

  [[nodiscard]] std::size_t checked() const { return checked_; }
  [[nodiscard]] const std::string& problem() const { return problem_; }

 private:
  const Contestant& contestant_;
  const Workload& workload_;
  std::size_t checked_ = 0;
  std::size_t scanned_ = 0;
  std::string problem_;
};

void set_nonblocking(int fd, bool nonblocking) {
  const int flags = fcntl(fd, F_GETFL);
  fcntl(fd, F_SETFL, nonblocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK);
}

}  // namespace

Exchange run_pipelined(const Process& process, const Contestant& contestant,
                       const Workload& workload) {
  Exchange exchange;
  ReplyChecker checker(contestant, workload);
  set_nonblocking(process.input(), true);
  std::string_view unsent = workload.input;
  std::string buffer;
  std::array<char, 262144> chunk{};
  const Clock::time_point start = Clock::now();
  while (checker.checked() < workload.calls) {
    std::array<pollfd, 2> watched{{{process.output(), POLLIN, 0}, {-1, POLLOUT, 0}}};
    if (!unsent.empty()) {
      watched[1].fd = process.input();
    }
    if (poll(watched.data(), watched.size(), -1) < 0) {
      continue;
    }
    if ((watched[1].revents & (POLLOUT | POLLERR)) != 0) {
      const ssize_t sent = write(process.input(), unsent.data(), unsent.size());
      if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        exchange.problem = "the contestant stopped reading";
        break;
      }
      unsent.remove_prefix(sent > 0 ? static_cast<std::size_t>(sent) : 0);
    }
    if ((watched[0].revents & (POLLIN | POLLHUP)) != 0) {
      const ssize_t got = read(process.output(), chunk.data(), chunk.size());
      if (got == 0) {
        exchange.problem = "output ended after " + std::to_string(checker.checked()) + " replies";
        break;
      }
      if (got > 0) {
        buffer.append(chunk.data(), static_cast<std::size_t>(got));
        if (!checker.take(&buffer)) {
          exchange.problem = checker.problem();
          break;
        }
      }
    }
  }
  exchange.seconds = seconds_between(start, Clock::now());
  set_nonblocking(process.input(), false);
  exchange.ok = exchange.problem.empty() && buffer.empty();
  return exchange;
}

Exchange run_ping_pong(const Process& process, const Contestant& contestant,
                       const Workload& workload) {
  Exchange exchange;
  exchange.round_trips_us.reserve(workload.calls);
  std::string buffer;
  const Clock::time_point start = Clock::now();
  for (std::size_t index = 0; index < workload.calls; ++index) {
    const Clock::time_point sent = Clock::now();
    if (!write_all(process.input(), workload.line(index))) {
      exchange.problem = "the contestant stopped reading";
      break;
    }
    const std::optional<std::size_t> end = read_through_line_feed(process.output(), &buffer, 0);
    const Clock::time_point answered = Clock::now();
    if (!end || *end != buffer.size() ||
        !reply_matches(workload, contestant.reply_form, contestant.ignore_hex_case, index,
                       buffer)) {
      exchange.problem = "reply " + std::to_string(index) + " is wrong or missing";
      break;
    }
    buffer.clear();
    exchange.round_trips_us.push_back(seconds_between(sent, answered) * 1e6);
  }
  exchange.seconds = seconds_between(start, Clock::now());
  exchange.ok = exchange.problem.empty();
  return exchange;
}
