// JsonRef: one owned reference to a jansson value.
//
// Every JSON value in the extension is held through a JsonRef, so that each reference is
// released on every path by construction. A JsonRef is move-only: copying a value's
// ownership would hide a second reference. Sharing a value between two holders (the echoed
// argument lives in the call and in its reply) is spelled out with JsonRef::share, which
// takes one more reference; nothing is ever deep-copied.
#ifndef SAMPLE_BASE_JSON_REF_H_
#define SAMPLE_BASE_JSON_REF_H_

#include <jansson.h>

#include <utility>

class JsonRef {
 public:
  JsonRef() noexcept = default;  // GCOVR_EXCL_LINE: defaulted, gcov sees a line never entered

  // Takes over the reference that `value` already carries, as one fresh from json_object()
  // or json_loadb(). A null `value` gives an empty JsonRef.
  static JsonRef adopt(json_t* value) noexcept { return JsonRef(value); }

  // Takes one more reference to `value`, which stays owned by its other holders too.
  // REQUIRES: value != nullptr.
  static JsonRef share(json_t* value) noexcept { return JsonRef(json_incref(value)); }

  JsonRef(JsonRef&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
  JsonRef& operator=(JsonRef&& other) noexcept {
    JsonRef doomed(std::move(*this));
    value_ = std::exchange(other.value_, nullptr);
    return *this;
  }
  JsonRef(const JsonRef&) = delete;
  JsonRef& operator=(const JsonRef&) = delete;
  ~JsonRef() { json_decref(value_); }

  // The value, still owned by this JsonRef; null when empty.
  [[nodiscard]] json_t* get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != nullptr; }

  // Gives the reference up to the caller, who must pass it on (for example to
  // json_object_set_new, which consumes it) or release it. The JsonRef is empty afterwards.
  [[nodiscard]] json_t* release() noexcept { return std::exchange(value_, nullptr); }

 private:
  explicit JsonRef(json_t* value) noexcept : value_(value) {}

  json_t* value_ = nullptr;
};

#endif  // SAMPLE_BASE_JSON_REF_H_
