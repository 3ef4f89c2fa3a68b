// Learning the reference's catalogue.
#include "differential/catalogue.h"

#include <string_view>

#include "base/json.h"
#include "text/visible.h"

namespace {

// The one callable whose meaning the host knows beyond its descriptor: the sample's wait
// sleeps as many milliseconds as asked, so a port of it can be timed as well as read.
constexpr std::string_view SAMPLE_WAIT = "sample.wait";

constexpr char LEARNING_INPUT[] =
    "{\"type\":\"handshake\",\"protocol_version\":\"1.0\"}\n{\"type\":\"shutdown\"}\n";

// Far above any honest announcement, and a bound on what a hostile one can make us hold.
constexpr std::size_t LONGEST_ANNOUNCEMENT = std::size_t{16} << 20U;

// What the reference did instead of announcing itself, in words.
std::string instead(const Observed& observed) {
  std::string words =
      observed.timed_out ? "it was killed at the deadline, having written " : "it wrote ";
  words += std::to_string(observed.output_total);
  words += " bytes";
  if (!observed.timed_out) {
    words += " and ended (";
    words += describe(observed.termination);
    words += ')';
  }
  return words;
}

}  // namespace

Catalogue catalogue_of(std::string extension_id, std::vector<AnnouncedCallable> callables) {
  Catalogue catalogue{std::move(extension_id), std::move(callables), ""};
  for (const AnnouncedCallable& callable : catalogue.callables) {
    if (callable.name == SAMPLE_WAIT && callable.input == "Int" && callable.minimum_arity == 1 &&
        callable.maximum_arity == 1) {
      catalogue.timed_callable = callable.name;
    }
  }
  return catalogue;
}

std::optional<Catalogue> learn_catalogue(const std::vector<std::string>& reference,
                                         const Sandbox& sandbox, std::chrono::milliseconds timeout,
                                         std::string* problem) {
  const std::string input = LEARNING_INPUT;
  const HandshakeWait handshake{input.find('\n') + 1, "", ANNOUNCEMENT_ALLOWANCE};
  const Observed observed = observe(reference, sandbox, {"--protocol", "1"}, input, timeout,
                                    LONGEST_ANNOUNCEMENT, std::nullopt, handshake);
  if (!observed.started) {
    *problem = "the reference cannot be started: " + observed.start_error;
    return std::nullopt;
  }
  std::string extension_id;
  std::string_view rest = observed.output;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
      break;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const Json message(json_loadb(line.data(), line.size(), JSON_REJECT_DUPLICATES, nullptr));
    const std::string type = string_member(message.get(), "type");
    if (type == "handshake_result") {
      extension_id = string_member(message.get(), "extension_id");
    } else if (type == "register") {
      std::vector<AnnouncedCallable> callables;
      if (const std::string wrong = read_catalogue(message.get(), &callables); !wrong.empty()) {
        *problem = "the reference's catalogue cannot be read: " + wrong;
        return std::nullopt;
      }
      if (extension_id.empty()) {
        extension_id = string_member(message.get(), "extension_id");
      }
      return catalogue_of(extension_id, std::move(callables));
    }
  }
  *problem = "the reference announced no catalogue (\"register\") after the handshake: " +
             instead(observed);
  return std::nullopt;
}

std::string catalogue_summary(const Catalogue& catalogue) {
  std::string summary = visible(catalogue.extension_id) + ":";
  if (catalogue.callables.empty()) {
    return summary + " no callables";
  }
  for (std::size_t i = 0; i < catalogue.callables.size(); ++i) {
    const AnnouncedCallable& callable = catalogue.callables[i];
    // Appended piece by piece: GCC 12 misreads a literal before a temporary as an
    // overlapping copy.
    summary += i == 0 ? " " : ", ";
    summary += visible(callable.name);
    summary += ' ';
    summary += std::to_string(callable.minimum_arity);
    summary += "..";
    summary += std::to_string(callable.maximum_arity);
    summary += ' ';
    summary += visible(callable.input);
  }
  return summary;
}
