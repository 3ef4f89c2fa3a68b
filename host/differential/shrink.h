// Shrinking a conversation that shows a difference to a smallest one that still does.
#ifndef HOST_DIFFERENTIAL_SHRINK_H_
#define HOST_DIFFERENTIAL_SHRINK_H_

#include <cstddef>
#include <functional>

#include "differential/generator.h"

// Whether a conversation still shows the difference being shrunk.
using StillDiffers = std::function<bool(const GeneratedConversation&)>;

// Makes `conversation` smaller while `differs` holds: the default command line first, then
// lines dropped, then each line's damage undone, values made simpler (fewer members and
// elements, shorter strings, smaller numbers, shallower nesting) and raw bytes cut.
// Tries at most `budget` conversations. REQUIRES: differs(conversation).
GeneratedConversation shrink(GeneratedConversation conversation, const StillDiffers& differs,
                             std::size_t budget);

#endif  // HOST_DIFFERENTIAL_SHRINK_H_
