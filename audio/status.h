#pragma once

#include <optional>
#include <string>
#include <utility>

namespace sondrel {

// sondrel's one way of reporting a failure: a Status is success or a Failure, a Result<T> a
// value or a Failure. A Failure's text is a complete sentence for the log; whoever turns a
// failure into "nothing" logs it. Platform error codes and exceptions stay inside the
// platform code.
struct Failure {
    std::string why;
};

class [[nodiscard]] Status {
  public:
    Status() = default;  // success
    Status(Failure failure) : why_(std::move(failure.why)) {}
    bool ok() const { return !why_; }
    const std::string& why() const { return *why_; }

  private:
    std::optional<std::string> why_;
};

template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : why_(std::move(failure.why)) {}
    bool ok() const { return value_.has_value(); }
    T& value() { return *value_; }
    const std::string& why() const { return why_; }

  private:
    std::optional<T> value_;
    std::string why_;
};

}  // namespace sondrel
