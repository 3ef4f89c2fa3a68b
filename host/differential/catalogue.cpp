// Learning the reference's catalogue.
#include "differential/catalogue.h"

#include <memory>
#include <string_view>

#include "base/json.h"
#include "hosting/hosted_extension.h"
#include "text/visible.h"

namespace {

// The one callable whose meaning the host knows beyond its descriptor: the sample's wait
// sleeps as many milliseconds as asked, so a port of it can be timed as well as read.
constexpr std::string_view SAMPLE_WAIT = "sample.wait";

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
  // Held as any host application holds an extension: started, its announcement read while
  // it is at work (a slow start is not a late one), and ended.
  auto settings = std::make_shared<HostSettings>();
  settings->start = timeout + ANNOUNCEMENT_ALLOWANCE;
  settings->check_calls = false;
  std::vector<std::string> command = reference;
  command.insert(command.end(), {"--protocol", "1"});
  Status outcome;
  // The sandbox is the caller's, and outlives this conversation: not owned here.
  const std::unique_ptr<HostedExtension> extension = HostedExtension::start(
      std::move(settings), std::shared_ptr<const Sandbox>(std::shared_ptr<void>(), &sandbox),
      std::move(command), /*interrupt=*/-1, &outcome);
  if (outcome.status == EH_CANNOT_START) {
    *problem = "the reference cannot be started: " + outcome.why;
    return std::nullopt;
  }
  if (outcome.ok()) {
    extension->stop();
    return catalogue_of(extension->extension_id(), extension->announced());
  }
  if (!extension->catalogue_fault().empty()) {
    *problem = "the reference's catalogue cannot be read: " + extension->catalogue_fault();
    return std::nullopt;
  }
  std::string instead = outcome.why;
  if (extension->end_step() == EH_ENDED_ALONE && extension->ending()) {
    instead = "it wrote " + std::to_string(extension->output_total()) + " bytes and ended (" +
              describe(*extension->ending()) + ")";
  }
  *problem = "the reference announced no catalogue (\"register\") after the handshake: " + instead;
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
