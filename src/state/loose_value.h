#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <variant>

// The value kind of the profile, the stamps, the samples and the shared loop
// counter: empty, a number or a text. Consumers pick the conversion they need.
class LooseValue
{
public:
    LooseValue() = default;
    LooseValue(double number) : m_value(number) {}
    LooseValue(int number) : m_value(double(number)) {}
    LooseValue(const QString &text) : m_value(text) {}
    LooseValue(const char *text) : m_value(QString::fromUtf8(text)) {}

    [[nodiscard]] bool isEmpty() const { return std::holds_alternative<std::monostate>(m_value); }
    [[nodiscard]] bool isNumber() const { return std::holds_alternative<double>(m_value); }
    [[nodiscard]] bool isText() const { return std::holds_alternative<QString>(m_value); }

    // Only meaningful for the kind that is held; other kinds give 0 / "".
    [[nodiscard]] double number() const;
    [[nodiscard]] QString text() const;

    // The number a text starts with (blanks skipped anywhere); never fails.
    [[nodiscard]] double leadingNumber() const;
    // The number a text spells, blanks around it allowed; empty value is 0.
    [[nodiscard]] std::optional<double> strictValue() const;
    // Record lines and printed items: " 150 ", "-5 ", texts unchanged.
    [[nodiscard]] QString printForm() const;
    // Fields and captions: "150", texts unchanged, empty gives "".
    [[nodiscard]] QString plainForm() const;

    bool operator==(const LooseValue &) const = default;

private:
    std::variant<std::monostate, double, QString> m_value;
};

[[nodiscard]] double leadingNumber(QStringView text);
[[nodiscard]] std::optional<double> strictNumber(QStringView text);
// Shortest decimal form that reads back as the same double; never "1e+06" for a
// plain integer, exponent form only for very large or very small magnitudes.
[[nodiscard]] QString plainNumber(double value);
[[nodiscard]] QString printNumber(double value);
