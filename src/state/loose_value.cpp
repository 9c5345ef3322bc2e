#include "loose_value.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Length of the longest prefix of s that is a decimal number:
// [sign] digits [. digits] [e|E [sign] digits], with at least one mantissa digit.
std::size_t numberPrefix(const std::string &s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    std::size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) {
        ++i;
        ++digits;
    }
    if (i < s.size() && s[i] == '.') {
        std::size_t j = i + 1;
        std::size_t fraction = 0;
        while (j < s.size() && isDigit(s[j])) {
            ++j;
            ++fraction;
        }
        if (digits + fraction > 0) {
            i = j;
            digits += fraction;
        }
    }
    if (digits == 0)
        return 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            ++j;
        std::size_t expDigits = 0;
        while (j < s.size() && isDigit(s[j])) {
            ++j;
            ++expDigits;
        }
        if (expDigits > 0)
            i = j;
    }
    return i;
}

// Converts a string that numberPrefix accepted whole. Magnitudes beyond the
// double range become infinite, tiny ones zero.
double convert(const std::string &s)
{
    std::size_t start = 0;
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        start = 1;
    }
    double value = 0;
    const char *first = s.data() + start;
    const char *last = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        const auto e = s.find_first_of("eE");
        const bool tiny = e != std::string::npos && e + 1 < s.size() && s[e + 1] == '-';
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc()) {
        value = 0;
    }
    return negative ? -value : value;
}

bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

} // namespace

double leadingNumber(QStringView text)
{
    std::string compact;
    compact.reserve(std::size_t(std::min<qsizetype>(text.size(), 400)));
    for (QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        const char16_t u = c.unicode();
        const bool partOfNumber = (u >= u'0' && u <= u'9') || u == u'.' || u == u'+' || u == u'-' || u == u'e'
                                  || u == u'E';
        if (!partOfNumber)
            break;
        compact.push_back(char(u));
        if (compact.size() > 4096) // no number of ours is that long; stay bounded
            break;
    }
    const std::size_t n = numberPrefix(compact);
    return n == 0 ? 0.0 : convert(compact.substr(0, n));
}

std::optional<double> strictNumber(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin == end || end - begin > 4096)
        return std::nullopt;
    std::string s;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t u = text[i].unicode();
        if (u > 0x7f)
            return std::nullopt;
        s.push_back(char(u));
    }
    if (numberPrefix(s) != s.size())
        return std::nullopt;
    const double value = convert(s);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

QString plainNumber(double value)
{
    if (value == 0)
        return QStringLiteral("0"); // also for -0
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    char buf[400];
    const double magnitude = std::fabs(value);
    const auto format = (magnitude >= 1e15 || magnitude < 1e-5) ? std::chars_format::scientific
                                                                : std::chars_format::fixed;
    auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, value, format);
    if (ec != std::errc())
        return QString::number(value, 'g', 17);
    return QString::fromLatin1(buf, ptr - buf).toUpper();
}

QString printNumber(double value)
{
    const QString plain = plainNumber(value);
    return (plain.startsWith(u'-') ? plain : u' ' + plain) + u' ';
}

double LooseValue::number() const
{
    if (const double *d = std::get_if<double>(&m_value))
        return *d;
    return 0;
}

QString LooseValue::text() const
{
    if (const QString *t = std::get_if<QString>(&m_value))
        return *t;
    return {};
}

double LooseValue::leadingNumber() const
{
    if (isNumber())
        return number();
    if (isText())
        return ::leadingNumber(text());
    return 0;
}

std::optional<double> LooseValue::strictValue() const
{
    if (isNumber())
        return number();
    if (isText())
        return strictNumber(text());
    return 0.0;
}

QString LooseValue::printForm() const
{
    if (isNumber())
        return printNumber(number());
    return text();
}

QString LooseValue::plainForm() const
{
    if (isNumber())
        return plainNumber(number());
    return text();
}
