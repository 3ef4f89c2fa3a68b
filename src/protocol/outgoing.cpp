// The envelope and the messages built on it.
#include "protocol/outgoing.h"

#include <array>

#include "protocol/messages.h"

namespace {

JsonRef make_string(std::string_view text) {
  return JsonRef::adopt(json_stringn_nocheck(text.data(), text.size()));
}

// Adds `value` under `key`, consuming it. Returns false if either is missing or the
// object could not take it.
bool add_member(json_t* object, const char* key, JsonRef value) {
  return value && json_object_set_new_nocheck(object, key, value.release()) == 0;
}

}  // namespace

JsonRef make_envelope(std::string_view type, JsonRef request_id) {
  JsonRef envelope = JsonRef::adopt(json_object());
  const bool whole = envelope && add_member(envelope.get(), "type", make_string(type)) &&
                     add_member(envelope.get(), "request_id", std::move(request_id)) &&
                     add_member(envelope.get(), "extension_id", make_string(EXTENSION_ID)) &&
                     add_member(envelope.get(), "protocol_version", make_string(PROTOCOL_VERSION));
  return whole ? std::move(envelope) : JsonRef();
}

JsonRef build_handshake_result() {
  JsonRef message = make_envelope(TYPE_HANDSHAKE_RESULT, make_string(REQUEST_ID_HANDSHAKE));
  const bool whole =
      message && add_member(message.get(), "extension_version", make_string(EXTENSION_VERSION));
  return whole ? std::move(message) : JsonRef();
}

JsonRef build_register(JsonRef callables) {
  JsonRef message = make_envelope(TYPE_REGISTER, make_string(REQUEST_ID_REGISTER));
  const bool whole = message && add_member(message.get(), "callables", std::move(callables));
  return whole ? std::move(message) : JsonRef();
}

JsonRef build_call_result(json_t* request_id, json_t* value) {
  JsonRef message = make_envelope(TYPE_CALL_RESULT, JsonRef::share(request_id));
  const bool whole = message && add_member(message.get(), "value", JsonRef::share(value));
  return whole ? std::move(message) : JsonRef();
}

std::optional<LineTemplate> make_call_result_template() {
  // Markers that no constant of the envelope can hold: the text of a control character
  // is an escape, which none of them has.
  const JsonRef request_id = make_string("\x01request_id");
  const JsonRef value = make_string("\x01value");
  // A marker or a message that could not be made is null, and the template refuses it.
  const JsonRef message =
      request_id && value ? build_call_result(request_id.get(), value.get()) : JsonRef();
  const std::array<const json_t*, 2> markers{request_id.get(), value.get()};
  return LineTemplate::make(message.get(), markers);
}

JsonRef build_error(json_t* request_id) {
  JsonRef message = make_envelope(TYPE_ERROR, JsonRef::share(request_id));
  const bool whole = message && add_member(message.get(), "kind", make_string(SAMPLE_ERROR_KIND)) &&
                     add_member(message.get(), "code", make_string(SAMPLE_ERROR_CODE)) &&
                     add_member(message.get(), "message", make_string(SAMPLE_ERROR_MESSAGE));
  return whole ? std::move(message) : JsonRef();
}
