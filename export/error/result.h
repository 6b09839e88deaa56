#pragma once

#include <optional>
#include <stdexcept>
#include <system_error>
#include <type_traits>
#include <utility>

namespace brindle {

// What a call below the run that can fail gives back: its value, or the system's cause of its
// failure, never both and never neither. A caller cannot drop it unseen; one that means to
// go on whatever happened says so with a cast to void.
template <typename T> class [[nodiscard]] Result {
    static_assert(!std::is_same_v<std::decay_t<T>, std::error_code>,
                  "a result that is an error_code is Result<void>");

public:
    Result(T value) : value_(std::move(value)) {}
    // A failure: the cause must be one, since a value-less success means nothing.
    Result(std::error_code error) : error_(error) {
        if (!error_)
            throw std::logic_error("a failed result without a cause");
    }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The cause; none while ok().
    std::error_code error() const { return error_; }

    // The value; asking a failure for it is the caller's mistake.
    T& value() & { return checked(), *value_; }
    const T& value() const& { return checked(), *value_; }
    T&& value() && { return checked(), std::move(*value_); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    // The value, or `otherwise` for a failure whose cause the caller has no use for.
    T value_or(T otherwise) const& { return ok() ? *value_ : std::move(otherwise); }

private:
    void checked() const {
        if (!value_)
            throw std::logic_error("the value of a failed result");
    }

    std::optional<T> value_;
    std::error_code error_;
};

// What a call with nothing to give back came to: success, or the cause of its failure. An
// empty error_code is a success, so a call may return the cause it holds as it is.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(std::error_code error) : error_(error) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    std::error_code error() const { return error_; }

private:
    std::error_code error_;
};

using Status = Result<void>;

} // namespace brindle
