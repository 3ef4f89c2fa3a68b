// What compare draws its calls from: the catalogue the reference announces, learned from
// one conversation with it before the search, so that any extension of the protocol can
// be compared with another version of itself or with a port.
#ifndef HOST_DIFFERENTIAL_CATALOGUE_H_
#define HOST_DIFFERENTIAL_CATALOGUE_H_

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversation/descriptor.h"
#include "conversation/play.h"

// The identifier the sample announces: the installed cases are its own.
inline constexpr std::string_view SAMPLE_EXTENSION_ID = "sample";

// The longest wait the sample's wait takes.
inline constexpr long long WAIT_LIMIT_MS = 5000;

struct Catalogue {
  std::string extension_id;
  std::vector<AnnouncedCallable> callables;  // in the order announced
  // The callable whose one Int argument is a wait in milliseconds up to WAIT_LIMIT_MS, so
  // that its answer cannot come sooner: the sample's wait. "" when the catalogue has none.
  std::string timed_callable;
};

// The catalogue of `callables` announced by `extension_id`; its timed callable is the
// sample's wait when `callables` holds it as the sample announces it.
Catalogue catalogue_of(std::string extension_id, std::vector<AnnouncedCallable> callables);

// Plays the handshake and "shutdown" with `reference` (its command line before the
// protocol's arguments) in `sandbox`, waiting for its announcement as a host does, and
// reads the catalogue from its "register". Returns none, with `*problem` saying what it
// did instead, when it announces no well-formed catalogue within `timeout` of its start
// (a slow start has ANNOUNCEMENT_ALLOWANCE besides).
std::optional<Catalogue> learn_catalogue(const std::vector<std::string>& reference,
                                         const Sandbox& sandbox, std::chrono::milliseconds timeout,
                                         std::string* problem);

// "sample: sample.echo 1..1 Value, sample.fail 0..0 (), ..." for a report's summary.
std::string catalogue_summary(const Catalogue& catalogue);

#endif  // HOST_DIFFERENTIAL_CATALOGUE_H_
