// Linked into the extension in coverage builds only.
//
// Its counters go beside its objects in the build tree. Where that tree may not be
// written (the host's sandbox shows it read-only unless it is granted), libgcov would say
// so on standard error at exit, which every test requires to stay empty; there the
// counters are dropped instead, into the extension's own TMPDIR, which vanishes with its
// sandbox. The tests that grant the build tree keep theirs.
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

[[gnu::constructor]] void counters_where_they_may_be_written() {
  if (access(SAMPLE_COVERAGE_ROOT, W_OK) == 0) {
    return;
  }
  const char* temporary = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): one thread
  const std::string dropped =
      std::string(temporary != nullptr && temporary[0] == '/' ? temporary : "/dev/shm") +
      "/coverage-counters";
  setenv("GCOV_PREFIX", dropped.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): one thread
}

}  // namespace
