#pragma once
// The one way a step of the release tool reports failure: a value, or the text that says what
// went wrong ("cannot read x: reason"), which the command line prints after its prefix. Portable.
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace df::publish {

// What went wrong, in words.
struct Failure {
    std::string message;
};

template <typename T = std::monostate>
class Result {
public:
    Result()
        requires std::is_same_v<T, std::monostate>
        : value_(std::monostate{}) {}
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : error_(std::move(failure.message)) {}

    explicit operator bool() const { return value_.has_value(); }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // The failure's text; empty on success.
    const std::string& error() const { return error_; }

private:
    std::optional<T> value_;
    std::string error_;
};

}  // namespace df::publish
