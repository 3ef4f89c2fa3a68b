// libextension-host for C++: the C API's handles as move-only RAII types.
//
// Each type owns one handle and frees it when it goes; a function's status comes back as
// eh::Status, whose why() is the handle's reason in words. Nothing throws. Threads,
// memory and signals are as extension_host.h states them.
#ifndef EXTENSION_HOST_HPP_
#define EXTENSION_HOST_HPP_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extension_host.h"

namespace eh {

// A status and, when it is not EH_OK, why.
class Status {
 public:
  Status() = default;
  Status(eh_status code, std::string why) : code_(code), why_(std::move(why)) {}
  [[nodiscard]] bool ok() const { return code_ == EH_OK; }
  [[nodiscard]] eh_status code() const { return code_; }
  [[nodiscard]] const std::string& why() const { return why_; }
  [[nodiscard]] std::string to_string() const {
    std::string text = eh_status_name(code_);
    if (!why_.empty()) {
      text += ": ";
      text += why_;
    }
    return text;
  }

 private:
  eh_status code_ = EH_OK;
  std::string why_;
};

class Settings {
 public:
  // New settings; valid() is false only when memory ran out.
  Settings() { eh_settings_new(&handle_); }
  Settings(Settings&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Settings& operator=(Settings&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Settings(const Settings&) = delete;
  Settings& operator=(const Settings&) = delete;
  ~Settings() { eh_settings_free(handle_); }

  [[nodiscard]] bool valid() const { return handle_ != nullptr; }
  [[nodiscard]] const eh_settings* get() const { return handle_; }

  Status sandbox(eh_sandbox sandbox) { return said(eh_settings_sandbox(handle_, sandbox)); }
  Status network(bool allowed) { return said(eh_settings_network(handle_, allowed ? 1 : 0)); }
  Status grant(const std::string& folder, eh_grant grant) {
    return said(eh_settings_grant(handle_, folder.c_str(), grant));
  }
  Status environment(const std::string& variable) {
    return said(eh_settings_environment(handle_, variable.c_str()));
  }
  Status limits(long processes, std::size_t memory) {
    return said(eh_settings_limits(handle_, processes, memory));
  }
  Status deadline(eh_deadline which, unsigned milliseconds) {
    return said(eh_settings_deadline(handle_, which, milliseconds));
  }
  Status check_calls(bool check) { return said(eh_settings_check_calls(handle_, check ? 1 : 0)); }
  // REQUIRES: `context` outlives every extension started with these settings.
  Status error_lines(eh_error_line callback, void* context) {
    return said(eh_settings_error_lines(handle_, callback, context));
  }

 private:
  [[nodiscard]] Status said(eh_status code) const {
    return {code, code == EH_OK ? std::string() : std::string(eh_settings_errmsg(handle_))};
  }
  eh_settings* handle_ = nullptr;
};

class Reply {
 public:
  Reply() = default;
  explicit Reply(eh_reply* owned) : handle_(owned) {}
  Reply(Reply&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Reply& operator=(Reply&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Reply(const Reply&) = delete;
  Reply& operator=(const Reply&) = delete;
  ~Reply() { eh_reply_free(handle_); }

  [[nodiscard]] bool valid() const { return handle_ != nullptr; }
  [[nodiscard]] std::uint64_t ticket() const { return eh_reply_ticket(handle_); }
  [[nodiscard]] bool failed() const { return eh_reply_failed(handle_) != 0; }
  // The value as compact JSON; "" for a failure.
  [[nodiscard]] std::string value() const { return text(eh_reply_value(handle_)); }
  [[nodiscard]] std::string error_kind() const { return text(eh_reply_error_kind(handle_)); }
  [[nodiscard]] std::string error_code() const { return text(eh_reply_error_code(handle_)); }
  [[nodiscard]] std::string error_message() const { return text(eh_reply_error_message(handle_)); }
  [[nodiscard]] std::int64_t microseconds() const { return eh_reply_microseconds(handle_); }

 private:
  static std::string text(const char* maybe) { return maybe == nullptr ? "" : maybe; }
  eh_reply* handle_ = nullptr;
};

class Extension {
 public:
  // Starts `command` (the protocol's "--protocol" "1" included) and reads its
  // announcement. The extension is returned whatever came of it; `*status` says what
  // (when it is not ok, the extension can only say why).
  static Extension start(const Settings& settings, const std::vector<std::string>& command,
                         Status* status) {
    std::vector<const char*> words;
    words.reserve(command.size() + 1);
    for (const std::string& word : command) {
      words.push_back(word.c_str());
    }
    words.push_back(nullptr);
    Extension extension;
    const eh_status code = eh_start(settings.get(), words.data(), &extension.handle_);
    *status = extension.said(code);
    return extension;
  }

  // Starts again what this one started, into a new extension.
  Extension restart(Status* status) const {
    Extension extension;
    const eh_status code = eh_restart(handle_, &extension.handle_);
    *status = extension.said(code);
    return extension;
  }

  Extension() = default;
  Extension(Extension&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Extension& operator=(Extension&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Extension(const Extension&) = delete;
  Extension& operator=(const Extension&) = delete;
  // Ends it at once if it still runs.
  ~Extension() { eh_free(handle_); }

  [[nodiscard]] eh_extension* get() const { return handle_; }
  [[nodiscard]] std::string id() const { return eh_extension_id(handle_); }
  [[nodiscard]] std::string version() const { return eh_extension_version(handle_); }
  [[nodiscard]] std::string sandbox_words() const { return eh_sandbox_words(handle_); }

  [[nodiscard]] std::size_t callable_count() const { return eh_callable_count(handle_); }
  [[nodiscard]] std::string callable_text(std::size_t index, eh_member member) const {
    const char* text = eh_callable_text(handle_, index, member);
    return text == nullptr ? "" : text;
  }
  [[nodiscard]] long long callable_number(std::size_t index, eh_member member) const {
    long long value = 0;
    eh_callable_number(handle_, index, member, &value);
    return value;
  }

  Status call(const std::string& callable, const std::string& arguments, Reply* reply) {
    eh_reply* answer = nullptr;
    const eh_status code = eh_call(handle_, callable.c_str(), arguments.c_str(), &answer);
    *reply = Reply(answer);
    return said(code);
  }
  Status submit(const std::string& callable, const std::string& arguments, std::uint64_t* ticket) {
    return said(eh_submit(handle_, callable.c_str(), arguments.c_str(), ticket));
  }
  [[nodiscard]] int descriptor() const { return eh_descriptor(handle_); }
  Status perform() { return said(eh_perform(handle_)); }
  [[nodiscard]] int timeout_ms() const { return eh_timeout_ms(handle_); }
  Status next_reply(Reply* reply) {
    eh_reply* answer = nullptr;
    const eh_status code = eh_next_reply(handle_, &answer);
    *reply = Reply(answer);
    return said(code);
  }
  [[nodiscard]] std::size_t pending() const { return eh_pending(handle_); }

  Status stop() { return said(eh_stop(handle_)); }
  Status kill() { return said(eh_kill(handle_)); }
  [[nodiscard]] eh_end_step end_step() const {
    eh_end_step step = EH_RUNNING;
    eh_ending(handle_, &step, nullptr, nullptr);
    return step;
  }
  [[nodiscard]] std::string ending_words() const { return eh_ending_words(handle_); }
  [[nodiscard]] std::string error_output() const {
    std::size_t length = 0;
    const char* bytes = eh_error_output(handle_, &length);
    return {bytes, length};
  }

  Status write_raw(std::string_view bytes) {
    return said(eh_write_raw(handle_, bytes.data(), bytes.size()));
  }
  Status close_input() { return said(eh_close_input(handle_)); }
  Status read_line(unsigned milliseconds, std::string* line, std::int64_t* arrived = nullptr) {
    const char* bytes = nullptr;
    std::size_t length = 0;
    const eh_status code = eh_read_line(handle_, milliseconds, &bytes, &length, arrived);
    line->assign(bytes == nullptr ? "" : bytes, length);
    return said(code);
  }

 private:
  [[nodiscard]] Status said(eh_status code) const {
    return {code, code == EH_OK ? std::string() : std::string(eh_errmsg(handle_))};
  }
  eh_extension* handle_ = nullptr;
};

}  // namespace eh

#endif  // EXTENSION_HOST_HPP_
