// Conform's verdict on an extension: every dialogue held, and each requirement judged on
// what they showed: held, failed with the first dialogue that breaks it, or not verified,
// with why.
#ifndef HOST_CONFORMANCE_JUDGEMENT_H_
#define HOST_CONFORMANCE_JUDGEMENT_H_

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "conformance/dialogue.h"
#include "conformance/requirements.h"
#include "conversation/session.h"
#include "sandbox/sandbox.h"

enum class Standing { kNotVerified, kHeld, kFailed };

// The conversation that breaks a requirement, and where.
struct Evidence {
  std::string title;
  std::vector<std::string> arguments;
  std::vector<std::string> sent;  // the lines the host wrote, in order
  Exchange exchange;
  std::size_t line = 0;  // which of the lines written breaks it, from 1; 0: the ending
  std::size_t byte = 0;  // at which byte of that line, from 1; 0: the line as a whole
  std::string problem;
};

struct Outcome {
  Standing standing = Standing::kNotVerified;
  std::string not_verified;        // why, when not verified
  std::vector<Evidence> evidence;  // the first that breaks it, when failed
};

struct Conformance {
  std::string extension_id;  // as the handshake's result said; "" when none came
  std::string extension_version;
  std::vector<AnnouncedCallable> catalogue;
  // The name of each callable announced, faulty descriptors' too, in their order: what a
  // report lists, so that a faulty catalogue is not told as none.
  std::vector<std::string> announced_names;
  std::array<Outcome, REQUIREMENT_COUNT> outcomes;
  std::size_t dialogues = 0;
  std::chrono::milliseconds elapsed{0};
  // Whether no "must" failed. One not verified (an "error" never written by an extension
  // whose callables never fail) is said, and does not fail it.
  [[nodiscard]] bool conforms() const;
};

// Holds every dialogue with `command` in `sandbox`, `jobs` at once, each answer awaited at
// most `timeout` (the first, the start, ANNOUNCEMENT_ALLOWANCE), and judges each
// requirement. REQUIRES: jobs > 0.
Conformance judge_conformance(const std::vector<std::string>& command, const Sandbox& sandbox,
                              std::chrono::milliseconds timeout, std::size_t jobs);

// The conversation of `evidence` for people: each line sent ("->") and written ("<-") in
// their order, the one that breaks the requirement marked, and how it ended.
std::string conversation_text(const Evidence& evidence);

#endif  // HOST_CONFORMANCE_JUDGEMENT_H_
