#pragma once
// Errors as values. Library operations return Result<T>: either a value or an
// Error carrying one message and, optionally, the chain of underlying causes
// (outermost first). Only the Python binding turns an Error into an exception.
// What went wrong is data: a kind, and the operating system's errno where it
// gave one, so that nothing downstream reads the message to find out.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace quelmar::runtime {

// The message of work stopped on request.
inline constexpr std::string_view kInterrupted = "interrupted";

enum class ErrorKind : unsigned char {
    kInvalidInput,  // the input (file, snapshot, argument) breaks a rule
    kOs,            // the operating system refused; os_errno() says why
    kInterrupted,   // a monitor or a stop request ended the work
    kLimit,         // beyond what the model can hold (32-bit node ids)
    kNotFound,      // a named item is absent
};

// Where in a text input an error was found: the 1-based line number and the
// offending token as written (empty when the line lacks one).
struct TextPosition {
    std::uint64_t line = 0;
    std::string token;
};

class Error {
public:
    explicit Error(std::string message, std::vector<std::string> causes = {},
                   ErrorKind kind = ErrorKind::kInvalidInput)
        : message_(std::move(message)), causes_(std::move(causes)), kind_(kind) {}
    Error(ErrorKind kind, std::string message) : message_(std::move(message)), kind_(kind) {}

    // The operating system's failure `code`, its message os_error_text(code).
    static Error os(int code);
    // The same failure told in words of the caller's.
    static Error os(int code, std::string message);
    // Work stopped on request, with the message kInterrupted.
    static Error interrupted();

    const std::string& message() const noexcept { return message_; }
    const std::vector<std::string>& causes() const noexcept { return causes_; }
    ErrorKind kind() const noexcept { return kind_; }
    // The errno of a kOs error, else 0.
    int os_errno() const noexcept { return os_errno_; }
    // Set by the text readers; never part of the message or the report.
    const std::optional<TextPosition>& position() const noexcept { return position_; }
    Error&& at(TextPosition position) && {
        position_ = std::move(position);
        return std::move(*this);
    }

    // The message; when there are causes, an empty line, "Caused by:" and one
    // line per cause indented by four spaces, numbered "0: ", "1: ", ... when
    // there are several.
    std::string report() const;

private:
    std::string message_;
    std::vector<std::string> causes_;
    ErrorKind kind_ = ErrorKind::kInvalidInput;
    int os_errno_ = 0;
    std::optional<TextPosition> position_;
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
    // The value, which must be there.
    T& operator*() & noexcept { return *std::get_if<0>(&state_); }
    const T& operator*() const& noexcept { return *std::get_if<0>(&state_); }
    T* operator->() noexcept { return std::get_if<0>(&state_); }
    const T* operator->() const noexcept { return std::get_if<0>(&state_); }
    const Error& error() const& { return std::get<1>(state_); }
    Error&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, Error> state_;
};

// Small plain values (counts, flags, decoded words) skip the variant: a
// success is then the value and an empty optional, which keeps the hot
// per-value paths of the readers as cheap as a bool and an out-parameter.
template <class T>
requires std::is_trivially_copyable_v<T> && std::is_default_constructible_v<T>
class [[nodiscard]] Result<T> {
public:
    Result(T value) : value_(value) {}
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return value_; }
    const T& value() const& { return value_; }
    T value() && { return value_; }
    T& operator*() & noexcept { return value_; }
    const T& operator*() const& noexcept { return value_; }
    T* operator->() noexcept { return &value_; }
    const T* operator->() const noexcept { return &value_; }
    const Error& error() const& { return *error_; }
    Error&& error() && { return std::move(*error_); }

private:
    T value_{};
    std::optional<Error> error_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const noexcept { return !error_; }
    explicit operator bool() const noexcept { return ok(); }
    const Error& error() const& { return *error_; }
    Error&& error() && { return std::move(*error_); }

private:
    // Empty on success, so that succeeding costs no more than a flag.
    std::optional<Error> error_;
};

// The operating system's description of errno value `code`, followed by
// " (os error <code>)".
std::string os_error_text(int code);
// The description alone.
std::string os_error_description(int code);

}  // namespace quelmar::runtime
