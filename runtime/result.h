#pragma once
// Errors as values. Library operations return Result<T>: either a value or an
// Error carrying one message and, optionally, the chain of underlying causes
// (outermost first). Only the Python binding turns an Error into an exception.

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quelmar::runtime {

class Error {
public:
    explicit Error(std::string message, std::vector<std::string> causes = {})
        : message_(std::move(message)), causes_(std::move(causes)) {}

    const std::string& message() const noexcept { return message_; }
    const std::vector<std::string>& causes() const noexcept { return causes_; }

    // The message; when there are causes, an empty line, "Caused by:" and one
    // line per cause indented by four spaces, numbered "0: ", "1: ", ... when
    // there are several.
    std::string report() const;

private:
    std::string message_;
    std::vector<std::string> causes_;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const& { return std::get<1>(state_); }
    Error&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const noexcept { return !failed_; }
    explicit operator bool() const noexcept { return ok(); }
    const Error& error() const& { return error_; }
    Error&& error() && { return std::move(error_); }

private:
    Error error_{std::string()};
    bool failed_ = false;
};

// The operating system's description of errno value `code`, followed by
// " (os error <code>)".
std::string os_error_text(int code);

}  // namespace quelmar::runtime
