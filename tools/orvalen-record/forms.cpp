#include "forms.h"

#include "records/record_format.h"
#include "state/loose_value.h"

#include <cmath>

namespace recordtool {

QByteArray jsonNumber(const std::optional<double> &v)
{
    return v && std::isfinite(*v) ? plainNumber(*v).toLatin1() : QByteArray("null");
}

QByteArray jsonString(const QString &text)
{
    // Escaped as text and encoded once, so that a character outside the Basic
    // Multilingual Plane keeps both halves of its surrogate pair.
    QString out = QStringLiteral("\"");
    for (const QChar ch : readableRecordText(text)) {
        const char16_t u = ch.unicode();
        if (u == u'"' || u == u'\\')
            out += u'\\';
        if (u < 0x20)
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return (out + u'"').toUtf8();
}

QByteArray jsonStrings(const QStringList &texts, bool trimmed)
{
    QByteArray out = "[";
    for (qsizetype i = 0; i < texts.size(); ++i)
        out += (i ? ", " : "") + jsonString(trimmed ? texts[i].trimmed() : texts[i]);
    return out + ']';
}

QString cell(const std::optional<double> &v)
{
    if (!v || !std::isfinite(*v))
        return QStringLiteral("-");
    const double rounded = std::round(*v * 100) / 100;
    return plainNumber(std::isfinite(rounded) ? rounded : *v);
}

} // namespace recordtool
