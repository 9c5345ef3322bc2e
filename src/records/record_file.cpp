#include "record_file.h"

#include "state/chart.h"
#include "state/context.h"
#include "state/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <qplatformdefs.h>

#include <cmath>

namespace {

// What has reached the disk of the file being written.
qint64 writtenSize(const QFileDevice &file)
{
    QT_STATBUF st{};
    return QT_FSTAT(file.handle(), &st) == 0 ? qint64(st.st_size) : -1;
}

void appendLine(QByteArray &out, QStringEncoder &encode, const LooseValue &value)
{
    out += encode(value.printForm());
    out += "\r\n";
}

// Reports a record that cannot be read further; what was read stays.
void refuse(Context &c, const QString &fileName, int line, const QString &why)
{
    c.services.messages.show(QStringLiteral("The record %1 cannot be read further.\nLine %2: %3")
                                     .arg(fileName)
                                     .arg(line)
                                     .arg(why),
                             MessageService::Kind::Error);
}

} // namespace

RecordLineReader::RecordLineReader(QIODevice &device) : m_device(device) {}

RecordLineReader::Result RecordLineReader::next(QString &line)
{
    QByteArray raw;
    bool sawAny = false;
    for (;;) {
        char ch = 0;
        if (!m_device.getChar(&ch)) {
            const auto *file = qobject_cast<const QFileDevice *>(&m_device);
            if (file && file->error() != QFileDevice::NoError)
                return Result::Error;
            if (!sawAny)
                return Result::End;
            break;
        }
        if (m_pendingLf) {
            m_pendingLf = false;
            if (ch == '\n')
                continue;
        }
        sawAny = true;
        if (ch == '\r') {
            m_pendingLf = true;
            break;
        }
        if (ch == '\n')
            break;
        if (raw.size() >= kMaxLine) {
            ++m_lineNumber;
            return Result::TooLong;
        }
        raw += ch;
    }
    ++m_lineNumber;
    QStringDecoder decode(QStringDecoder::System);
    line = decode(raw);
    return Result::Line;
}

QByteArray recordBytes(const SharedState &s, QString &error)
{
    QStringEncoder encode(QStringEncoder::System);
    QByteArray out;
    for (const LooseValue &v : s.runStamp)
        appendLine(out, encode, v);
    appendLine(out, encode, s.runTicks);
    for (int stage = 1; stage <= 3; ++stage) {
        appendLine(out, encode, s.stageTemp[std::size_t(stage)]);
        appendLine(out, encode, s.stageTime[std::size_t(stage)]);
    }
    const double n = s.runTicks.leadingNumber();
    for (double k = 0; k <= n - 1; k += 1) {
        if (!SharedState::isSampleIndex(k)) {
            error = QStringLiteral("the run has more seconds (%1) than can be recorded")
                            .arg(plainNumber(n));
            return {};
        }
        appendLine(out, encode, s.samples[std::size_t(k)]);
    }
    return out;
}

void savefile_Click(Context &c)
{
    c.services.Timer1.setEnabled(false);
    const QString fileName = c.services.files.saveFileName(QString::fromLatin1(kRecordFilter),
                                                           kRecordFilterSelected);
    if (fileName.isEmpty())
        return;
    SharedState &s = c.state;
    QString error;
    const QByteArray bytes = recordBytes(s, error);
    const double n = s.runTicks.leadingNumber();
    s.loopIndex = n >= 1 ? std::floor(n - 1) + 1 : 0; // where the sample loop ends
    if (!error.isEmpty()) {
        c.services.messages.show(QStringLiteral("The run was not saved: %1.").arg(error),
                                 MessageService::Kind::Error);
        return;
    }
    // Only a record file is ever replaced: never a folder, a device or a pipe,
    // which replacing would destroy (as root, even a device node).
    const QFileInfo existing(fileName);
    if (existing.exists() && !existing.isFile()) {
        c.services.messages.show(QStringLiteral("The run was NOT saved: %1 is not a file.\n\n"
                                                "The run is still in memory; save it elsewhere.")
                                         .arg(fileName),
                                 MessageService::Kind::Error);
        return;
    }
    // Written beside the target and put in its place only when complete, so a
    // failed save never costs the record that was there.
    // Unbuffered, so that a write cut short by a full disk is seen here: with
    // its own buffer, Qt 6.4 commits a truncated file and reports success.
    QSaveFile file(fileName);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    if (ok)
        ok = file.write(bytes) == bytes.size() && file.flush() && writtenSize(file) == bytes.size();
    if (ok)
        ok = file.commit();
    if (!ok) {
        const QString why = file.errorString();
        file.cancelWriting();
        c.services.messages.show(QStringLiteral("The run was NOT saved to %1:\n%2\n\n"
                                                "The run is still in memory; save it elsewhere.")
                                         .arg(fileName, why),
                                 MessageService::Kind::Error);
        return;
    }
    c.services.messages.show(QStringLiteral("OK"));
}

void openfile_Click(Context &c)
{
    c.services.Timer1.setEnabled(false);
    Form &form = c.services.form;
    form.chart().clear();
    const QString fileName = c.services.files.openFileName(QString::fromLatin1(kRecordFilter),
                                                           kRecordFilterSelected);
    SharedState &s = c.state;
    s.loopIndex = 0;
    if (fileName.isEmpty())
        return;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        c.services.messages.show(
                QStringLiteral("The record %1 cannot be opened:\n%2").arg(fileName, file.errorString()),
                MessageService::Kind::Error);
        return;
    }
    RecordLineReader reader(file);
    // Reads the next line, or tells the operator why there is none.
    auto readLine = [&](QString &line, const QString &what) {
        switch (reader.next(line)) {
        case RecordLineReader::Result::Line:
            return true;
        case RecordLineReader::Result::End:
            refuse(c, fileName, reader.lineNumber() + 1,
                   QStringLiteral("the file ends where %1 should be.").arg(what));
            return false;
        case RecordLineReader::Result::TooLong:
            refuse(c, fileName, reader.lineNumber(),
                   QStringLiteral("the line is longer than %1 characters; no record has such lines.")
                           .arg(RecordLineReader::kMaxLine));
            return false;
        case RecordLineReader::Result::Error:
            break;
        }
        refuse(c, fileName, reader.lineNumber() + 1,
               QStringLiteral("reading failed: %1").arg(file.errorString()));
        return false;
    };

    static const char *const stampNames[] = {"the year", "the month", "the day",
                                             "the hour", "the minute", "the second"};
    QString line;
    for (std::size_t i = 0; i < 6; ++i) {
        if (!readLine(line, QString::fromLatin1(stampNames[i])))
            return;
        s.recordStamp[i] = line;
    }
    if (!readLine(line, QStringLiteral("the sample count")))
        return;
    s.fileSampleCount = line;
    for (std::size_t stage = 1; stage <= 3; ++stage) {
        if (!readLine(line, QStringLiteral("the stage %1 temperature").arg(stage)))
            return;
        s.stageTemp[stage] = line;
        if (!readLine(line, QStringLiteral("the stage %1 time").arg(stage)))
            return;
        s.stageTime[stage] = line;
    }
    showProfile(c);
    const auto &st = s.recordStamp;
    form.setCaption(Form::Caption::Label5,
                    st[0].plainForm() + u'-' + st[1].plainForm() + u'-' + st[2].plainForm());
    form.setCaption(Form::Caption::Label6,
                    st[3].plainForm() + u':' + st[4].plainForm() + u':' + st[5].plainForm());

    const std::optional<double> count = s.fileSampleCount.strictValue();
    if (!count) {
        refuse(c, fileName, 7,
               QStringLiteral("the sample count \"%1\" is no number.").arg(s.fileSampleCount.text()));
        return;
    }
    if (*count > SharedState::kSampleCount) {
        refuse(c, fileName, 7,
               QStringLiteral("the sample count %1 is above %2, more than a record can hold.")
                       .arg(plainNumber(*count))
                       .arg(SharedState::kSampleCount));
        return;
    }
    for (double k = 0; k <= *count - 1; k += 1) {
        s.loopIndex = k;
        if (!readLine(line, QStringLiteral("sample %1").arg(plainNumber(k))))
            return;
        s.samples[std::size_t(k)] = line;
    }
    file.close();
    chart::drawGrid(form.chart(), s.loopIndex);
    const std::optional<int> bad =
            chart::drawRecordedCurve(form.chart(), s, s.fileSampleCount.leadingNumber());
    if (bad) {
        c.services.messages.show(
                QStringLiteral("The record %1: line %2 holds \"%3\", which is no temperature; "
                               "that second of the curve is not drawn.")
                        .arg(fileName)
                        .arg(*bad + 14)
                        .arg(s.samples[std::size_t(*bad)].text()),
                MessageService::Kind::Warning);
    }
}
