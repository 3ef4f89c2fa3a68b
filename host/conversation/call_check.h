// A call checked against the catalogue the extension announced, before it is sent,
// wherever it comes from (the prompt, --call, a script, standard input): its name, its
// number of arguments, and their JSON types where the catalogue's input type is one the
// host knows. A call the extension would refuse is told before it ends the conversation.
#ifndef HOST_CONVERSATION_CALL_CHECK_H_
#define HOST_CONVERSATION_CALL_CHECK_H_

#include <optional>
#include <string>
#include <vector>

#include "conversation/calls.h"
#include "conversation/session.h"

// Whether `catalogue` holds a callable named `name`.
bool announced(const std::string& name, const std::vector<AnnouncedCallable>& catalogue);

// The announced name nearest to `name`, when one is close enough to be what was meant:
// the same but for letter case, the verb alone, or a slip of a letter or two.
std::optional<std::string> nearest_name(const std::string& name,
                                        const std::vector<AnnouncedCallable>& catalogue);

// Why `call` does not fit `catalogue`, with what to type instead ("the extension
// announced no callable named 'sample.ecoh'; did you mean sample.echo?", "sample.wait
// takes 1 argument, not 2", "sample.wait takes Int: an integer, not "x" (a string)"); ""
// when it fits. The input types known: Value (any), () (none), Int, Number, String,
// Bool, Array, Object; any other is not checked.
std::string unfit_call(const Call& call, const std::vector<AnnouncedCallable>& catalogue);

#endif  // HOST_CONVERSATION_CALL_CHECK_H_
