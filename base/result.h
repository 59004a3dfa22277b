#pragma once

// One result type for every fallible operation: a value, or an error that
// carries a code, a detail for the log, and the Korean message a user sees
// (empty when the failure is not shown to anyone). No exceptions cross a
// module boundary; callers test the result or pass it on with TRY.

#include <string>
#include <utility>
#include <variant>

namespace tillbay {

struct Error {
    int code = 0;
    std::string detail;  // for the log: errno text, library error, what was being done
    std::string message; // the user's Korean text, when there is one

    static Error with_message(std::string message, std::string detail = {}, int code = 0)
    {
        return Error { code, std::move(detail), std::move(message) };
    }
    static Error from_detail(std::string detail, int code = 0) { return Error { code, std::move(detail), {} }; }
};

template<typename T>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Error error)
        : m_value(std::move(error))
    {
    }

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_value); }
    T const& value() const& { return std::get<0>(m_value); }
    T&& value() && { return std::get<0>(std::move(m_value)); }
    T release_value() { return std::get<0>(std::move(m_value)); }

    Error const& error() const { return std::get<1>(m_value); }
    Error release_error() { return std::get<1>(std::move(m_value)); }

private:
    std::variant<T, Error> m_value;
};

template<>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
        , m_failed(true)
    {
    }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    void value() const { }
    void release_value() const { }

    Error const& error() const { return m_error; }
    Error release_error() { return std::move(m_error); }

private:
    Error m_error;
    bool m_failed = false;
};

using Status = Result<void>;

} // namespace tillbay

// Early return of the error; the expression's value otherwise (GNU statement
// expression, as in Ladybird's TRY).
#define TRY(expression)                                  \
    ({                                                   \
        auto _tb_result = (expression);                  \
        if (!_tb_result.ok())                            \
            return _tb_result.release_error();           \
        _tb_result.release_value();                      \
    })
