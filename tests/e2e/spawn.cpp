// fork and exec with files for the standard streams: files never fill up, so the test
// needs no pump, and wait4 reports the child's peak memory.
#include "e2e/spawn.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

int file_with(const std::string& bytes) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fflush(file);
  const int fd = dup(fileno(file));
  std::fclose(file);
  lseek(fd, 0, SEEK_SET);
  return fd;
}

std::string contents_of(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char chunk[65536];
  for (ssize_t got = 0; (got = read(fd, chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(got));
  }
  return text;
}

}  // namespace

Ended run_program(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& input, OutputTo output_to) {
  const int input_fd = file_with(input);
  Ended ended = run_program_on(program, arguments, input_fd, output_to);
  close(input_fd);
  return ended;
}

Ended run_program_on(const std::string& program, const std::vector<std::string>& arguments,
                     int input_fd, OutputTo output_to) {
  const int output_fd = file_with("");
  const int error_fd = file_with("");
  int broken[2] = {-1, -1};
  if (output_to == OutputTo::kBrokenPipe && pipe(broken) == 0) {
    close(broken[0]);  // nobody will ever read
  }
  std::vector<char*> argv{const_cast<char*>(program.c_str())};  // NOLINT
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));  // NOLINT
  }
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    dup2(input_fd, STDIN_FILENO);
    switch (output_to) {
      case OutputTo::kFile:
        dup2(output_fd, STDOUT_FILENO);
        break;
      case OutputTo::kFullDevice:
        dup2(open("/dev/full", O_WRONLY), STDOUT_FILENO);
        break;
      case OutputTo::kClosed:
        close(STDOUT_FILENO);
        break;
      case OutputTo::kBrokenPipe:
        dup2(broken[1], STDOUT_FILENO);
        break;
    }
    dup2(error_fd, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (broken[1] >= 0) {
    close(broken[1]);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
  }
  Ended ended;
  ended.signaled = WIFSIGNALED(status);
  ended.code = ended.signaled ? WTERMSIG(status) : WEXITSTATUS(status);
  ended.output = contents_of(output_fd);
  ended.error_output = contents_of(error_fd);
  ended.max_rss_kib = usage.ru_maxrss;
  close(output_fd);
  close(error_fd);
  return ended;
}

Ended run_extension(const std::string& input, OutputTo output_to) {
  return run_program(SAMPLE_EXTENSION_PATH, {"--protocol", "1"}, input, output_to);
}
