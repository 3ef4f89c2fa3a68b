// Builders of the four messages the extension writes, all on the common envelope.
//
// Each builder returns a new message that the caller owns, or an empty JsonRef if the
// message could not be built whole; a message is never returned with a member missing.
// Strings handed in must be valid UTF-8 without NUL bytes, as every string that the
// parser produced is: they are not checked again.
//
// A reply shares the call's own "request_id" string, taking one more reference to it.
//
// The reply to a call is the line the extension writes most: rather than building and
// encoding a "call_result" for every call, the driver builds one at start-up and keeps
// its encoded text as a LineTemplate, into which each reply encodes only its request_id
// and value; the bytes are those of the message built whole.
#ifndef SAMPLE_PROTOCOL_OUTGOING_H_
#define SAMPLE_PROTOCOL_OUTGOING_H_

#include <jansson.h>

#include <optional>
#include <string_view>

#include "base/json_ref.h"
#include "channel/line_template.h"

// A new message holding the envelope: "type", "request_id", "extension_id" and
// "protocol_version". Takes ownership of `request_id`, on failure too.
JsonRef make_envelope(std::string_view type, JsonRef request_id);

// "handshake_result": the extension's identity and versions.
JsonRef build_handshake_result();

// "register": announces `callables`. Takes ownership of `callables`, on failure too.
JsonRef build_register(JsonRef callables);

// "call_result" answering the call whose "request_id" string is `request_id` with `value`.
// The reply shares both with the call, taking one more reference to each.
// REQUIRES: request_id is a JSON string; value != nullptr.
JsonRef build_call_result(json_t* request_id, json_t* value);

// The line of every "call_result": the message that build_call_result makes, encoded
// once, in which each reply puts its call's "request_id" string and its value, in this
// order. Returns none if it could not be made.
std::optional<LineTemplate> make_call_result_template();

// "error" answering the call whose "request_id" string is `request_id` with the fixed
// sample error. REQUIRES: request_id is a JSON string.
JsonRef build_error(json_t* request_id);

#endif  // SAMPLE_PROTOCOL_OUTGOING_H_
