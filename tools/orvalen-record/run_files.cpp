#include "run_files.h"

#include "state/loose_value.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <cmath>

namespace runfiles {

namespace {

std::optional<Stamp> makeStamp(const std::array<double, 6> &f)
{
    for (double v : f)
        if (!(v >= 0 && v <= 9999) || v != std::floor(v))
            return std::nullopt;
    const QDate date{int(f[0]), int(f[1]), int(f[2])};
    const QTime time{int(f[3]), int(f[4]), int(f[5])};
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return Stamp{date, time};
}

QStringView withoutSuffix(const QString &name)
{
    return name.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive) ? QStringView(name).chopped(4)
                                                                     : QStringView(name);
}

} // namespace

QString Stamp::text() const { return date.toString(Qt::ISODate) + u'T' + time.toString(Qt::ISODate); }

std::optional<Stamp> stampOf(const QStringList &lines)
{
    if (lines.size() != 6)
        return std::nullopt;
    std::array<double, 6> f{};
    for (std::size_t i = 0; i < f.size(); ++i) {
        const std::optional<double> v = strictNumber(lines[qsizetype(i)]);
        if (!v)
            return std::nullopt;
        f[i] = *v;
    }
    return makeStamp(f);
}

std::optional<Stamp> journalStamp(const QString &fileName)
{
    static const QRegularExpression re(
            QStringLiteral("^(\\d{4})-(\\d\\d)-(\\d\\d)_(\\d\\d)-(\\d\\d)-(\\d\\d)(-[1-9]\\d{0,8})?\\.dbf$"));
    const QRegularExpressionMatch m = re.match(fileName);
    if (!m.hasMatch())
        return std::nullopt;
    std::array<double, 6> f{};
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = m.capturedView(int(i) + 1).toDouble();
    return makeStamp(f);
}

bool nameLess(const QString &a, const QString &b)
{
    const QStringView x = withoutSuffix(a), y = withoutSuffix(b);
    qsizetype i = 0, j = 0;
    while (i < x.size() && j < y.size()) {
        if (x[i].isDigit() && y[j].isDigit()) {
            qsizetype ie = i, je = j;
            while (ie < x.size() && x[ie].isDigit())
                ++ie;
            while (je < y.size() && y[je].isDigit())
                ++je;
            // By value: the shorter run of digits without its leading zeros
            // is the smaller number.
            QStringView dx = x.sliced(i, ie - i), dy = y.sliced(j, je - j);
            while (dx.size() > 1 && dx[0] == u'0')
                dx = dx.sliced(1);
            while (dy.size() > 1 && dy[0] == u'0')
                dy = dy.sliced(1);
            if (dx.size() != dy.size())
                return dx.size() < dy.size();
            if (const int c = dx.compare(dy); c != 0)
                return c < 0;
            i = ie;
            j = je;
        } else {
            if (x[i] != y[j])
                return x[i] < y[j];
            ++i;
            ++j;
        }
    }
    if (x.size() - i != y.size() - j)
        return x.size() - i < y.size() - j;
    return a < b; // equal by value: 01 and 1, or the suffix's case
}

QStringList recordFiles(const QStringList &paths, QStringList &unreadable)
{
    QStringList out;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (!info.isDir()) {
            out << path;
            continue;
        }
        const QDir dir(path);
        if (!dir.isReadable()) {
            unreadable << path;
            continue;
        }
        // Pipes and devices too: the reader names them instead of blocking on them.
        for (const QString &name : dir.entryList({QStringLiteral("*.dbf")}, QDir::Files | QDir::System))
            out << dir.filePath(name);
    }
    return out;
}

} // namespace runfiles
