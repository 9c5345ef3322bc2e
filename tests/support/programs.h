#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <cmath>

// Running the programs the tests check, and reading what they make.
namespace programs {

struct Run
{
    int status = -1; // -1: crashed or did not end within a minute
    QByteArray out;
    QString err;
};

// The program in dir, with neither a display nor a platform in its
// environment; its standard output appended to stdoutFile where one is named.
inline Run
run(const QString &program, const QStringList &args, const QString &dir, const QString &stdoutFile = {})
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile, QIODevice::Append);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            QString::fromUtf8(p.readAllStandardError())};
}

// The words of a PDF with their boxes, as pdftotext -bbox writes them.
inline QString pdfWords(const QString &pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The words of the printed report that are not where its layout puts them
// (in twips from the printable area's corner), given pdfWords of the report;
// empty when all are in place.
inline QStringList misplacedReportWords(const QString &html)
{
    const struct
    {
        const char *text;
        double x, y;
    } expected[] = {{"ORVALEN", 4000, 1200}, {"Parameter1(TEMP):", 1000, 2000},
                    {"Date:", 8000, 2000},   {"Parameter3(Time):", 1000, 4500},
                    {"TEMP(℃)", 500, 7600},  {"(S)", 10800, 13200},
                    {"450", 10310, 13200}};
    QStringList misplaced;
    for (const auto &e : expected) {
        const QRegularExpression re(
                QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>%1</word>")
                        .arg(QRegularExpression::escape(QString::fromUtf8(e.text))));
        const QRegularExpressionMatch m = re.match(html);
        // Twips to points is /20; the printable area starts 18 pt in.
        if (!m.hasMatch() || std::abs(m.captured(1).toDouble() - (18 + e.x / 20)) >= 6
            || std::abs(m.captured(2).toDouble() - (18 + e.y / 20)) >= 6)
            misplaced << QStringLiteral("%1 at %2,%3")
                                 .arg(QString::fromUtf8(e.text), m.captured(1), m.captured(2));
    }
    return misplaced;
}

} // namespace programs
