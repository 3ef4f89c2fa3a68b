// Text made safe for the formats reports are written in: XML, TAP and its YAML blocks,
// Markdown. Everything is made visible first (see visible.h), so that no byte an
// extension or a case wrote can break a report's syntax or forge a line of it.
#ifndef HOST_TEXT_MARKUP_H_
#define HOST_TEXT_MARKUP_H_

#include <chrono>
#include <string>

// Text safe inside an XML element or a double-quoted attribute; with `keep_line_feeds`,
// line feeds stay line feeds.
std::string xml_escaped(const std::string& text, bool keep_line_feeds = false);

// A YAML double-quoted scalar.
std::string yaml_quoted(const std::string& text);

// A YAML literal block ("|") of `text`, indented under a key at two spaces: its line
// breaks stay line breaks, and a "\\n" in the data stays two characters. The plain "|"
// form is the only one TAP's YAMLish readers take.
std::string yaml_block(const std::string& text);

// A TAP description: on one line, with '#' escaped, since "# SKIP" or "# TODO" in a name
// would turn a failure into a skip; and so with backslashes, the escape itself.
std::string tap_description(const std::string& name);

// A Markdown table cell: on one line, its '|' escaped.
std::string markdown_cell(const std::string& text);

// A Markdown fenced code block of `text`, fenced by more backticks than any run in it.
std::string markdown_code(const std::string& text);

// `elapsed` in seconds with three decimals, as JUnit's "time" and the reports write it.
std::string report_seconds(std::chrono::milliseconds elapsed);

#endif  // HOST_TEXT_MARKUP_H_
