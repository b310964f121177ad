#pragma once
// The percentile engine's error and its result-or-error wrapper. This library
// stands alone, so it carries its own small error type rather than borrowing
// one: an error is one owned message text.

#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quelmar::percentiles {

class StatsError {
public:
    // From a fixed text, which is copied.
    static StatsError fixed(std::string_view text) { return StatsError(std::string(text)); }
    // From a text already formatted for this error, which is taken over.
    static StatsError formatted(std::string text) { return StatsError(std::move(text)); }

    const std::string& message() const noexcept { return message_; }

private:
    explicit StatsError(std::string message) : message_(std::move(message)) {}
    std::string message_;
};

template <class T>
class [[nodiscard]] StatsResult {
public:
    StatsResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    StatsResult(StatsError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const StatsError& error() const& { return std::get<1>(state_); }
    StatsError&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, StatsError> state_;
};

}  // namespace quelmar::percentiles
