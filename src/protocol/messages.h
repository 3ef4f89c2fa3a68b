// The protocol's fixed words: the extension's identity, the message types, and the one
// error the extension ever reports.
#ifndef SAMPLE_PROTOCOL_MESSAGES_H_
#define SAMPLE_PROTOCOL_MESSAGES_H_

#include <string_view>

inline constexpr std::string_view EXTENSION_ID = "sample";
inline constexpr std::string_view EXTENSION_VERSION = "0.1.0";
inline constexpr std::string_view PROTOCOL_VERSION = "1.0";

// Message types, host to extension.
inline constexpr std::string_view TYPE_HANDSHAKE = "handshake";
inline constexpr std::string_view TYPE_CALL = "call";
inline constexpr std::string_view TYPE_SHUTDOWN = "shutdown";
// Message types, extension to host.
inline constexpr std::string_view TYPE_HANDSHAKE_RESULT = "handshake_result";
inline constexpr std::string_view TYPE_REGISTER = "register";
inline constexpr std::string_view TYPE_CALL_RESULT = "call_result";
inline constexpr std::string_view TYPE_ERROR = "error";

// The fixed request identifiers of the two lines the extension sends unasked.
inline constexpr std::string_view REQUEST_ID_HANDSHAKE = "handshake";
inline constexpr std::string_view REQUEST_ID_REGISTER = "register";

// The only error the extension reports, as the answer of "sample.fail".
inline constexpr std::string_view SAMPLE_ERROR_KIND = "SampleError";
inline constexpr std::string_view SAMPLE_ERROR_CODE = "SAMPLE_FAILURE";
inline constexpr std::string_view SAMPLE_ERROR_MESSAGE = "sample failure";

#endif  // SAMPLE_PROTOCOL_MESSAGES_H_
