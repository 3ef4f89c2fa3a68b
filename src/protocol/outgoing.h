// Builders of the four messages the extension writes, all on the common envelope.
//
// Each builder returns a new message that the caller owns, or an empty JsonRef if the
// message could not be built whole; a message is never returned with a member missing.
// Strings handed in must be valid UTF-8 without NUL bytes, as every string that the
// parser produced is: they are not checked again.
//
// The strings that every message repeats are made once, as EnvelopeStrings, and each
// message takes one more reference to them; the call's own "request_id" string is shared
// with its reply the same way.
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

// The strings shared by the messages of one conversation.
struct EnvelopeStrings {
  JsonRef extension_id;      // "sample"
  JsonRef protocol_version;  // "1.0"
  JsonRef call_result;       // the type of a reply that carries a value

  // Whether every string was made.
  explicit operator bool() const { return extension_id && protocol_version && call_result; }
};

// Makes the shared strings; the result is false when one could not be made.
EnvelopeStrings make_envelope_strings();

// A new message holding the envelope: "type", "request_id", "extension_id" and
// "protocol_version". Takes ownership of `type` and `request_id`, on failure too.
// REQUIRES: `shared` is whole.
JsonRef make_envelope(const EnvelopeStrings& shared, JsonRef type, JsonRef request_id);

// "handshake_result": the extension's identity and versions.
JsonRef build_handshake_result(const EnvelopeStrings& shared);

// "register": announces `callables`. Takes ownership of `callables`, on failure too.
JsonRef build_register(const EnvelopeStrings& shared, JsonRef callables);

// "call_result" answering the call whose "request_id" string is `request_id` with `value`.
// The reply shares both with the call, taking one more reference to each.
// REQUIRES: request_id is a JSON string; value != nullptr.
JsonRef build_call_result(const EnvelopeStrings& shared, json_t* request_id, json_t* value);

// The line of every "call_result": the message that build_call_result makes, encoded
// once, in which each reply puts its call's "request_id" string and its value, in this
// order. Returns none if it could not be made.
std::optional<LineTemplate> make_call_result_template(const EnvelopeStrings& shared);

// "error" answering the call whose "request_id" string is `request_id` with the fixed
// sample error. REQUIRES: request_id is a JSON string.
JsonRef build_error(const EnvelopeStrings& shared, json_t* request_id);

#endif  // SAMPLE_PROTOCOL_OUTGOING_H_
