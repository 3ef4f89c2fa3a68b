// Writing conform's reports.
#include "conformance/conform_report.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "base/json.h"
#include "text/markup.h"
#include "text/visible.h"

namespace {

const Outcome& outcome_of(const Conformance& conformance, const RequirementRow& row) {
  return conformance.outcomes.at(static_cast<std::size_t>(row.requirement));
}

const char* standing_name(Standing standing) {
  switch (standing) {
    case Standing::kHeld:
      return "held";
    case Standing::kFailed:
      return "failed";
    case Standing::kNotVerified:
      return "not verified";
  }
  return "?";
}

// "weather 1.2.0, protocol 1.0; callables: weather.now, weather.forecast"
std::string identity(const Conformance& conformance) {
  if (conformance.extension_id.empty()) {
    return "no identity: no \"handshake_result\" came";
  }
  std::string text = visible(conformance.extension_id) + " " +
                     visible(conformance.extension_version) + "; callables:";
  const std::vector<std::string>& names = conformance.announced_names;
  for (std::size_t index = 0; index < names.size(); ++index) {
    text += (index == 0 ? " " : ", ") + visible(names[index]);
  }
  return names.empty() ? text + " none" : text;
}

// What failed, and the conversation that shows it.
std::string failure_text(const Outcome& outcome) {
  const Evidence& evidence = outcome.evidence.front();
  std::string where = "in the conversation \"" + evidence.title + "\", the extension run with '";
  for (std::size_t index = 0; index < evidence.arguments.size(); ++index) {
    where += (index == 0 ? "" : " ") + evidence.arguments[index];
  }
  std::string text = evidence.problem + "\n" + where + "':\n" + conversation_text(evidence);
  text.pop_back();  // each form ends the text its own way
  return text;
}

bool expected(const Judged& judged, const RequirementRow& row) {
  return judged.excusal != nullptr &&
         judged.excusal->excused.at(static_cast<std::size_t>(row.requirement));
}

// A JSON string of `text`, which holds what an extension wrote: made visible where it is
// no UTF-8, which a JSON string cannot carry.
Json json_text(const std::string& text) {
  Json string(json_stringn(text.data(), text.size()));
  if (!string) {
    const std::string shown = visible(text);
    string.reset(json_stringn(shown.data(), shown.size()));
  }
  return string;
}

void set(json_t* object, const char* key, Json value) {
  json_object_set_new(object, key, value.release());
}

}  // namespace

std::string conform_summary(const Conformance& conformance) {
  std::string summary;
  for (const Level level : {Level::kMust, Level::kShould}) {
    std::array<std::size_t, 3> counts{};
    std::size_t rows = 0;
    for (const RequirementRow& row : REQUIREMENTS) {
      if (row.level == level) {
        ++rows;
        ++counts.at(static_cast<std::size_t>(outcome_of(conformance, row).standing));
      }
    }
    summary += (summary.empty() ? "" : "; ") + std::to_string(rows) + " " + level_name(level) +
               ": " + std::to_string(counts[static_cast<std::size_t>(Standing::kHeld)]) + " held";
    for (const Standing standing : {Standing::kFailed, Standing::kNotVerified}) {
      if (const std::size_t count = counts.at(static_cast<std::size_t>(standing)); count > 0) {
        summary += ", " + std::to_string(count) + " " + standing_name(standing);
      }
    }
  }
  return summary;
}

std::string people_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  std::string report =
      "sandbox: " + judged.containment + "\nextension: " + identity(conformance) + "\n";
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    const std::string head = std::string(row.identifier) + " (" + level_name(row.level) + ")";
    switch (outcome.standing) {
      case Standing::kHeld:
        report += "held          " + head + "\n";
        break;
      case Standing::kNotVerified:
        report += "not verified  " + head + ": " + outcome.not_verified + "\n";
        break;
      case Standing::kFailed:
        report += std::string(expected(judged, row) ? "FAILED, expected " : "FAILED        ") +
                  head + ": " + row.statement + "\n     " +
                  continued(failure_text(outcome), "     ") + "\n";
        break;
    }
  }
  return report + conform_summary(conformance) + " (" + std::to_string(conformance.dialogues) +
         " conversations in " + report_seconds(conformance.elapsed) + " s)\n";
}

std::string tap_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  std::string report = "TAP version 13\n1.." + std::to_string(REQUIREMENTS.size()) +
                       "\n# sandbox: " + visible(judged.containment) +
                       "\n# extension: " + identity(conformance) + "\n";
  std::size_t number = 0;
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    const std::string head =
        std::to_string(++number) + " - " +
        tap_description(std::string(row.identifier) + " (" + level_name(row.level) + ")");
    if (outcome.standing == Standing::kHeld) {
      report += "ok " + head + "\n";
    } else if (outcome.standing == Standing::kNotVerified) {
      report +=
          "ok " + head + " # SKIP not verified: " + tap_description(outcome.not_verified) + "\n";
    } else if (row.level == Level::kShould) {
      report += "not ok " + head + " # TODO a should, not a must\n  ---\n  message: " +
                yaml_block(failure_text(outcome)) + "\n  ...\n";
    } else {
      report += "not ok " + head + "\n  ---\n  requirement: " + yaml_quoted(row.statement) +
                "\n  message: " + yaml_block(failure_text(outcome)) + "\n  ...\n";
    }
  }
  return report + "# " + conform_summary(conformance) + "\n";
}

std::string junit_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  std::size_t failures = 0;
  std::size_t skipped = 0;
  for (const RequirementRow& row : REQUIREMENTS) {
    const Standing standing = outcome_of(conformance, row).standing;
    failures += standing == Standing::kFailed && row.level == Level::kMust ? 1 : 0;
    skipped += standing == Standing::kNotVerified ? 1 : 0;
  }
  const std::string counts = " tests=\"" + std::to_string(REQUIREMENTS.size()) + "\" failures=\"" +
                             std::to_string(failures) + R"(" errors="0" skipped=")" +
                             std::to_string(skipped) + "\"";
  std::string class_name = judged.command;
  std::replace(class_name.begin(), class_name.end(), '.', '_');
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"extension-host "
      "conform\"" +
      counts + ">\n  <testsuite name=\"" + xml_escaped(judged.command) + "\"" + counts +
      " time=\"" + report_seconds(conformance.elapsed) + "\" timestamp=\"" +
      xml_escaped(judged.timestamp) +
      "\">\n    <properties>\n      <property name=\"host\" value=\"extension-host " +
      xml_escaped(judged.host_version) + "\"/>\n      <property name=\"sandbox\" value=\"" +
      xml_escaped(judged.containment) + "\"/>\n      <property name=\"extension\" value=\"" +
      xml_escaped(identity(conformance)) + "\"/>\n    </properties>\n";
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    xml += "    <testcase name=\"" + std::string(row.identifier) + " (" + level_name(row.level) +
           ")\" classname=\"" + xml_escaped(class_name) + "\"";
    if (outcome.standing == Standing::kHeld) {
      xml += "/>\n";
    } else if (outcome.standing == Standing::kNotVerified) {
      xml += ">\n      <skipped message=\"not verified: " + xml_escaped(outcome.not_verified) +
             "\"/>\n    </testcase>\n";
    } else if (row.level == Level::kShould) {
      // A should that fails is told, and fails no build.
      xml += ">\n      <system-out>" + xml_escaped(failure_text(outcome), true) +
             "</system-out>\n    </testcase>\n";
    } else {
      xml += ">\n      <failure message=\"" + xml_escaped(outcome.evidence.front().problem) +
             "\" type=\"" + row.identifier + "\">" +
             xml_escaped(std::string(row.statement) + "\n" + failure_text(outcome), true) +
             "</failure>\n    </testcase>\n";
    }
  }
  return xml + "  </testsuite>\n</testsuites>\n";
}

std::string json_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  Json report(json_object());
  set(report.get(), "tool", json_text("extension-host conform"));
  set(report.get(), "version", json_text(judged.host_version));
  set(report.get(), "timestamp", json_text(judged.timestamp));
  set(report.get(), "command", json_text(judged.command));
  set(report.get(), "sandbox", json_text(judged.containment));
  Json extension(json_object());
  set(extension.get(), "id", json_text(conformance.extension_id));
  set(extension.get(), "version", json_text(conformance.extension_version));
  Json callables(json_array());
  for (const AnnouncedCallable& callable : conformance.catalogue) {
    json_array_append_new(callables.get(), json_text(callable.name).release());
  }
  set(extension.get(), "callables", std::move(callables));
  set(report.get(), "extension", std::move(extension));
  Json requirements(json_array());
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    Json entry(json_object());
    set(entry.get(), "id", json_text(row.identifier));
    set(entry.get(), "level", json_text(level_name(row.level)));
    set(entry.get(), "protocol_part", json_text(std::string("protocol 1.0, ") + row.part));
    set(entry.get(), "statement", json_text(row.statement));
    set(entry.get(), "status", json_text(standing_name(outcome.standing)));
    set(entry.get(), "expected_failure", Json(json_boolean(expected(judged, row))));
    if (outcome.standing == Standing::kNotVerified) {
      set(entry.get(), "reason", json_text(outcome.not_verified));
    } else if (outcome.standing == Standing::kFailed) {
      const Evidence& evidence = outcome.evidence.front();
      Json shown(json_object());
      set(shown.get(), "conversation", json_text(evidence.title));
      set(shown.get(), "problem", json_text(evidence.problem));
      set(shown.get(), "line", Json(json_integer(static_cast<json_int_t>(evidence.line))));
      set(shown.get(), "byte", Json(json_integer(static_cast<json_int_t>(evidence.byte))));
      set(shown.get(), "transcript", json_text(conversation_text(evidence)));
      set(entry.get(), "evidence", std::move(shown));
    }
    json_array_append_new(requirements.get(), entry.release());
  }
  set(report.get(), "requirements", std::move(requirements));
  set(report.get(), "summary", json_text(conform_summary(conformance)));
  set(report.get(), "conversations",
      Json(json_integer(static_cast<json_int_t>(conformance.dialogues))));
  set(report.get(), "seconds",
      Json(json_real(std::chrono::duration<double>(conformance.elapsed).count())));
  char* text = json_dumps(report.get(), JSON_INDENT(2) | JSON_PRESERVE_ORDER);
  std::string written = text != nullptr ? std::string(text) + "\n" : std::string("{}\n");
  std::free(text);
  return written;
}

std::string markdown_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  std::string report = "## Protocol 1.0 conformance of `" + markdown_cell(judged.command) +
                       "`\n\nExtension: " + markdown_cell(identity(conformance)) +
                       "  \nSandbox: " + markdown_cell(judged.containment) +
                       "  \nJudged by: extension-host " + markdown_cell(judged.host_version) +
                       ", " + markdown_cell(judged.timestamp) +
                       "  \nResult: " + conform_summary(conformance) +
                       "\n\n| requirement | level | result | what holds when it is met |\n"
                       "|---|---|---|---|\n";
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    std::string result = standing_name(outcome.standing);
    if (outcome.standing == Standing::kFailed) {
      result = "**failed**";
    } else if (outcome.standing == Standing::kNotVerified) {
      result += ": " + markdown_cell(outcome.not_verified);
    }
    report += "| `" + std::string(row.identifier) + "` | " + level_name(row.level) + " | " +
              result + " | " + markdown_cell(row.statement) + " |\n";
  }
  for (const RequirementRow& row : REQUIREMENTS) {
    const Outcome& outcome = outcome_of(conformance, row);
    if (outcome.standing == Standing::kFailed) {
      const Evidence& evidence = outcome.evidence.front();
      report += "\n### `" + std::string(row.identifier) + "` (" + level_name(row.level) + ")\n\n" +
                markdown_cell(evidence.problem) + ", in the conversation \"" +
                markdown_cell(evidence.title) + "\":\n\n" +
                markdown_code(conversation_text(evidence));
    }
  }
  return report;
}
