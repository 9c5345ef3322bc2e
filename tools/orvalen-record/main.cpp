// orvalen-record: judges, exports and prints recorded runs from the command
// line, reading records exactly as Open does and never changing one.
#include "cli.h"
#include "forms.h"
#include "output.h"
#include "record_stats.h"

#include "records/record_format.h"
#include "report/pdf_printer.h"
#include "report/report.h"
#include "state/chart.h"
#include "state/shared_state.h"
#include "ui/layout.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <memory>

namespace cli {

using namespace recordstats;
using namespace recordtool;

constexpr int kUsageError = 2;

const char *const kUsage =
        "usage: orvalen-record analyze FILE... [--window NAME|PATH] [--slope-window S] [--json]\n"
        "       orvalen-record csv FILE [-o OUT]\n"
        "       orvalen-record report FILE -o OUT.pdf\n"
        "       orvalen-record chart FILE -o OUT.png [--scale K]\n"
        "       orvalen-record runs [DIR] [--window NAME|PATH] [--slope-window S] [--json]\n"
        "       orvalen-record trend [PATH...] [--window NAME|PATH] [--slope-window S] [--last N]\n"
        "                            [--json] [--chart OUT.png] [--scale K]\n"
        "runs and trend read the journal's runs folder when given no folder or file. runs tells\n"
        "how each run ended: \"stopped\" (Stop or Stop Communicate) or \"cut off\" (the program\n"
        "ended or died during the run; also a run still going, and one stopped in the very\n"
        "second it started); \"unknown\" for a file not named as the journal names runs.\n"
        "Built-in windows: sac305 (the default), sn63pb37.\n";

void say(const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
}

int usage(const QString &problem)
{
    say(QStringLiteral("orvalen-record: %1").arg(problem));
    std::fputs(kUsage, stderr);
    return kUsageError;
}

// Reads a record as Open does; tells why not on standard error.
bool load(const QString &path, RecordContent &record)
{
    QFile file(readableName(path));
    const Status opened = openRecordFile(file);
    if (!opened) {
        say(QStringLiteral("The record %1 cannot be opened:\n%2").arg(shownName(path), opened.error()));
        return false;
    }
    record = readRecord(file);
    if (record.refusal) {
        say(refusalMessage(shownName(path), *record.refusal));
        return false;
    }
    return true;
}

// Output must never land on one of the records being read.
bool overwritesInput(const QString &out, const QStringList &inputs)
{
    for (const QString &in : inputs)
        if (sameFile(out, in)) {
            say(QStringLiteral("orvalen-record: %1 is a record being read; it is never written.")
                        .arg(shownName(out)));
            return true;
        }
    return false;
}

// Standard output for an empty path. Says why not on standard error.
bool writeOut(const QString &path, const QByteArray &bytes)
{
    QString why;
    if (writeOutput(path, bytes, why))
        return true;
    say(path.isEmpty()
                ? QStringLiteral("orvalen-record: %1.").arg(why)
                : QStringLiteral("orvalen-record: %1 cannot be written: %2").arg(shownName(path), why));
    return false;
}

std::optional<Window> loadWindow(const QString &spec)
{
    if (std::optional<Window> w = builtinWindow(spec))
        return w;
    const QFileInfo info(readableName(spec));
    if (!info.exists()) {
        say(QStringLiteral(
                    "orvalen-record: unknown window \"%1\": not a built-in window (%2) and no such file.")
                    .arg(shownName(spec), builtinWindowNames().join(QStringLiteral(", "))));
        return std::nullopt;
    }
    QFile f(info.filePath());
    if (!info.isFile() || info.size() > 1024 * 1024 || !f.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("orvalen-record: the window %1 cannot be read: it is no window file.")
                    .arg(shownName(spec)));
        return std::nullopt;
    }
    WindowError error;
    std::optional<Window> w = parseWindow(QString::fromUtf8(f.readAll()), shownName(spec), error);
    if (!w)
        say(QStringLiteral("orvalen-record: the window %1, line %2: %3.")
                    .arg(shownName(spec))
                    .arg(error.line)
                    .arg(error.reason));
    return w;
}

} // namespace cli

namespace {

using namespace cli;

int analyze(const QStringList &rest)
{
    const Args a(rest, {QStringLiteral("--window"), QStringLiteral("--slope-window")},
                 {QStringLiteral("--json")});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    if (a.files.isEmpty())
        return usage(QStringLiteral("analyze needs at least one record file"));
    bool ok = true;
    const int slope = a.values.value(QStringLiteral("--slope-window"), QStringLiteral("5")).toInt(&ok);
    if (!ok || slope < 1)
        return usage(QStringLiteral("--slope-window takes a whole number of seconds, 1 or more"));
    const std::optional<Window> window = loadWindow(
            a.values.value(QStringLiteral("--window"), QStringLiteral("sac305")));
    if (!window)
        return 2;
    const bool asJson = a.flags.contains(QStringLiteral("--json"));

    int status = 0;
    long written = 0;
    QList<QStringList> rows;
    for (const QString &path : a.files) {
        RecordContent record;
        if (!load(path, record)) {
            status = 2;
            continue;
        }
        const Stats st = computeStats(sampleValues(record.samples), *window, slope);
        const Judgement j = judge(st, *window);
        if (!j.inWindow && status == 0)
            status = 1;
        // JSON is written as it goes, one record at a time, so that any number
        // of records is judged in bounded memory.
        if (asJson) {
            QByteArray byStat;
            for (Stat limited : kStats)
                if (window->limit(limited))
                    byStat += QByteArray(byStat.isEmpty() ? "" : ", ") + '"' + statName(limited)
                              + "\": " + jsonNumber(j.pwiByStat[std::size_t(limited)]);
            QByteArray o = written == 0 ? "[\n" : ",\n";
            o += "  {\"file\": " + jsonString(path) + ",\n";
            o += "   \"count\": " + jsonNumber(record.countValue) + ",\n";
            o += "   \"stamp\": " + jsonStrings(record.stamp, true) + ",\n";
            o += "   \"profile\": " + jsonStrings(record.profile, false) + ",\n";
            o += "   \"window\": " + jsonString(window->name) + ",\n";
            o += "   \"peak_c\": " + jsonNumber(st.peakC) + ", \"peak_s\": " + jsonNumber(st.peakS) + ",\n";
            o += "   \"tal_s\": " + jsonNumber(st.talS) + ", \"soak_s\": " + jsonNumber(st.soakS) + ",\n";
            o += "   \"max_rise_c_per_s\": " + jsonNumber(st.maxRise)
                 + ", \"max_fall_c_per_s\": " + jsonNumber(st.maxFall) + ",\n";
            o += "   \"pwi_by_stat\": {" + byStat + "},\n";
            o += "   \"pwi\": " + jsonNumber(j.pwi) + ", \"in_window\": " + (j.inWindow ? "true" : "false")
                 + "}";
            if (!writeOut(QString(), o))
                return 2;
            ++written;
        } else {
            rows << QStringList{shownName(path),
                                cell(record.countValue),
                                cell(st.peakC),
                                cell(st.peakS),
                                cell(st.talS),
                                cell(st.soakS),
                                cell(st.maxRise),
                                cell(st.maxFall),
                                cell(j.pwi),
                                j.inWindow ? QStringLiteral("yes") : QStringLiteral("no"),
                                j.worst ? QString::fromLatin1(statName(*j.worst)) : QString()};
        }
    }
    QByteArray out;
    if (asJson) {
        out = written == 0 ? "[]\n" : "\n]\n";
    } else if (!rows.isEmpty()) {
        rows.prepend({QStringLiteral("file"), QStringLiteral("count"), QStringLiteral("peak_c"),
                      QStringLiteral("peak_s"), QStringLiteral("tal_s"), QStringLiteral("soak_s"),
                      QStringLiteral("rise/s"), QStringLiteral("fall/s"), QStringLiteral("pwi"),
                      QStringLiteral("in window"), QStringLiteral("worst (%1)").arg(window->name)});
        std::vector<qsizetype> width(std::size_t(rows[0].size()), 0);
        for (const QStringList &r : rows)
            for (qsizetype c = 0; c < r.size(); ++c)
                width[std::size_t(c)] = std::max(width[std::size_t(c)], r[c].size());
        for (const QStringList &r : rows) {
            QString line;
            for (qsizetype c = 0; c < r.size(); ++c) {
                // The file left-aligned, the numbers right-aligned.
                const auto w = int(width[std::size_t(c)]);
                line += c == 0 || c + 1 == r.size() ? r[c].leftJustified(w) : r[c].rightJustified(w);
                line += c + 1 == r.size() ? QString() : QStringLiteral("  ");
            }
            out += line.trimmed().toUtf8() + '\n';
        }
    }
    if (!writeOut(QString(), out))
        return 2;
    return status;
}

int csv(const QStringList &rest)
{
    const Args a(rest, {QStringLiteral("-o")}, {});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    if (a.files.size() != 1)
        return usage(QStringLiteral("csv takes one record file"));
    const QString out = a.values.value(QStringLiteral("-o"));
    RecordContent record;
    if (overwritesInput(out, a.files) || !load(a.files[0], record))
        return 2;
    QByteArray text = "second,temperature_c\n";
    const Samples values = sampleValues(record.samples);
    for (std::size_t k = 0; k < values.size(); ++k)
        text += QByteArray::number(qulonglong(k)) + ','
                + (values[k] ? plainNumber(*values[k]).toLatin1() : QByteArray()) + '\n';
    return writeOut(out, text) ? 0 : 2;
}

// The state a freshly started program holds after opening the record.
std::unique_ptr<SharedState> openedState(const RecordContent &record)
{
    auto s = std::make_unique<SharedState>();
    storeRecord(record, *s);
    return s;
}

int report(const QStringList &rest)
{
    const Args a(rest, {QStringLiteral("-o")}, {});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    const QString out = a.values.value(QStringLiteral("-o"));
    if (a.files.size() != 1 || out.isEmpty())
        return usage(QStringLiteral("report takes one record file and -o OUT.pdf"));
    RecordContent record;
    if (overwritesInput(out, a.files) || !load(a.files[0], record))
        return 2;
    const std::unique_ptr<SharedState> s = openedState(record);
    // Made in a scratch folder and put in place like any output, so that a device,
    // a pipe or a full disk at OUT is told and never replaced.
    const QTemporaryDir scratch;
    const QString made = scratch.filePath(QStringLiteral("report.pdf"));
    if (!scratch.isValid()) {
        say(QStringLiteral("orvalen-record: no folder for the page: %1").arg(scratch.errorString()));
        return 2;
    }
    PdfPrinter printer(made);
    Outcome<PrintSurface *> page = printer.beginDocument();
    if (!page) {
        say(QStringLiteral("orvalen-record: %1").arg(page.error()));
        return 2;
    }
    drawReport(*page.value(), *s);
    if (const Status ended = printer.endDocument(); !ended) {
        say(QStringLiteral("orvalen-record: %1").arg(ended.error()));
        return 2;
    }
    QFile pdf(made);
    if (!pdf.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("orvalen-record: the page cannot be read back: %1").arg(pdf.errorString()));
        return 2;
    }
    return writeOut(out, pdf.readAll()) ? 0 : 2;
}

int chartImage(const QStringList &rest)
{
    const Args a(rest, {QStringLiteral("-o"), QStringLiteral("--scale")}, {});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    const QString out = a.values.value(QStringLiteral("-o"));
    if (a.files.size() != 1 || out.isEmpty())
        return usage(QStringLiteral("chart takes one record file and -o OUT.png"));
    bool ok = true;
    const double scale = a.values.value(QStringLiteral("--scale"), QStringLiteral("2")).toDouble(&ok);
    if (!ok || !(scale >= 0.25 && scale <= 16))
        return usage(QStringLiteral("--scale takes a number from 0.25 to 16"));
    RecordContent record;
    if (overwritesInput(out, a.files) || !load(a.files[0], record))
        return 2;
    const std::unique_ptr<SharedState> s = openedState(record);
    // The window's chart: its surface in twips, at the screen's usual 96 dots
    // per inch, K device pixels to each.
    RetainedChart chart(layout::kPicture.width, layout::kPicture.height, 96, scale);
    chart.clear();
    chart::drawGrid(chart, s->loopIndex);
    if (const std::optional<int> bad = chart::drawRecordedCurve(chart, *s,
                                                                s->fileSampleCount.leadingNumber()))
        say(sampleNotDrawnMessage(shownName(a.files[0]), *bad,
                                  readableRecordText(s->samples[std::size_t(*bad)].text())));
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !chart.image().save(&buffer, "PNG")) {
        say(QStringLiteral("orvalen-record: the chart cannot be encoded as PNG."));
        return 2;
    }
    return writeOut(out, png) ? 0 : 2;
}

// Qt's own chatter (a missing runtime folder, font fallbacks) is no concern of
// someone judging records; its errors still are.
void quietQt(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        say(message);
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    QStringList rest;
    for (int i = 2; i < argc; ++i)
        rest << argumentText(argv[i]); // file names keep the bytes the system gave
    const bool drawing = mode == u"report" || mode == u"chart"
                         || (mode == u"trend" && rest.contains(QStringLiteral("--chart")));
    // Fonts and painting need a GUI application, but never a display: the
    // offscreen platform is chosen here, whatever the environment says.
    qInstallMessageHandler(quietQt);
    std::vector<char *> args(argv, argv + argc);
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    if (drawing)
        args.insert(args.begin() + 1, {platformOption, platformName});
    int count = int(args.size());
    std::unique_ptr<QCoreApplication> app;
    if (drawing)
        app = std::make_unique<QGuiApplication>(count, args.data());
    else
        app = std::make_unique<QCoreApplication>(count, args.data());

    if (mode == u"analyze")
        return analyze(rest);
    if (mode == u"csv")
        return csv(rest);
    if (mode == u"report")
        return report(rest);
    if (mode == u"chart")
        return chartImage(rest);
    if (mode == u"runs")
        return cli::runs(rest);
    if (mode == u"trend")
        return cli::trend(rest);
    if (mode == u"--version") {
        std::puts("orvalen-record " ORVALEN_VERSION);
        return 0;
    }
    if (mode == u"--help" || mode == u"-h" || mode == u"help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    return usage(mode.isEmpty() ? QStringLiteral("no subcommand given")
                                : QStringLiteral("unknown subcommand %1").arg(mode));
}
