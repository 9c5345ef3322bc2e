#pragma once

#include <QString>

#include <optional>
#include <utility>

// The one error convention of the seams: an operation that can fail returns an
// Outcome, which holds either its value or why it failed, in the operator's
// words. Chosen over bool or nullptr with an out-parameter, and over an empty
// string for success, because the reason travels with the result, a caller
// cannot drop it unread ([[nodiscard]]) and success cannot be mistaken for a
// failure without a reason. An answer that is no failure (a dialog cancelled)
// stays a plain value.
template<typename T> class [[nodiscard]] Outcome
{
public:
    Outcome(T value) : m_value(std::move(value)) {} // implicit: `return value;`
    [[nodiscard]] static Outcome failure(QString why) { return Outcome(Failed{std::move(why)}); }

    [[nodiscard]] bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] T &value() { return *m_value; }
    [[nodiscard]] const QString &error() const { return m_error; }

private:
    struct Failed
    {
        QString why;
    };
    explicit Outcome(Failed failed) : m_error(std::move(failed.why)) {}
    std::optional<T> m_value;
    QString m_error;
};

// The value of an operation that has none.
struct Done
{};
using Status = Outcome<Done>;
