// Writing conform's reports.
#include "conformance/conform_report.h"

#include <algorithm>
#include <array>
#include <cstdio>

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
  for (std::size_t index = 0; index < conformance.catalogue.size(); ++index) {
    text += (index == 0 ? " " : ", ") + visible(conformance.catalogue[index].name);
  }
  return conformance.catalogue.empty() ? text + " none" : text;
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
        report += "FAILED        " + head + ": " + row.statement + "\n     " +
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
      " time=\"" + report_seconds(conformance.elapsed) +
      "\">\n    <properties>\n      <property name=\"sandbox\" value=\"" +
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

std::string markdown_conform_report(const Judged& judged) {
  const Conformance& conformance = *judged.conformance;
  std::string report = "## Protocol 1.0 conformance of `" + markdown_cell(judged.command) +
                       "`\n\nExtension: " + markdown_cell(identity(conformance)) +
                       "  \nSandbox: " + markdown_cell(judged.containment) +
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
