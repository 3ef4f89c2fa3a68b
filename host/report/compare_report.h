// compare's report for people: a generated conversation shown as a porter reads it.
#ifndef HOST_REPORT_COMPARE_REPORT_H_
#define HOST_REPORT_COMPARE_REPORT_H_

#include <string>

#include "differential/generator.h"

// The conversation's command line and its lines, numbered, each made visible and escaped
// no more than it was written; a long line cut, with its length and how deep it nests.
std::string conversation_for_people(const GeneratedConversation& conversation);

#endif  // HOST_REPORT_COMPARE_REPORT_H_
