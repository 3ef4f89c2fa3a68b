// Builders of the four messages the extension writes, all on the common envelope.
//
// Each builder returns a new message that the caller owns, or an empty JsonRef if the
// message could not be built whole; a message is never returned with a member missing.
// Strings handed in must be valid UTF-8 without NUL bytes, as every string that the
// parser produced is: they are not checked again.
#ifndef SAMPLE_PROTOCOL_OUTGOING_H_
#define SAMPLE_PROTOCOL_OUTGOING_H_

#include <jansson.h>

#include <string_view>

#include "base/json_ref.h"

// A new message holding the envelope: "type", "request_id", "extension_id" and
// "protocol_version".
JsonRef make_envelope(std::string_view type, std::string_view request_id);

// "handshake_result": the extension's identity and versions.
JsonRef build_handshake_result();

// "register": announces `callables`. Takes ownership of `callables`, on failure too.
JsonRef build_register(JsonRef callables);

// "call_result" answering the call `request_id` with `value`, which the reply shares with
// its other holder by taking one more reference. REQUIRES: value != nullptr.
JsonRef build_call_result(std::string_view request_id, json_t* value);

// "error" answering the call `request_id` with the fixed sample error.
JsonRef build_error(std::string_view request_id);

#endif  // SAMPLE_PROTOCOL_OUTGOING_H_
