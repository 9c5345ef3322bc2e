#include "record_format.h"

#include "state/shared_state.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <qplatformdefs.h>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr qint64 kBlock = 16 * 1024;

void appendLine(QByteArray &out, QStringEncoder &encode, const LooseValue &value)
{
    out += encode(value.printForm());
    out += "\r\n";
}

} // namespace

RecordLineReader::RecordLineReader(QIODevice &device) : m_device(device) {}

bool RecordLineReader::fill()
{
    if (m_failed)
        return false;
    m_buffer.resize(kBlock);
    const qint64 n = m_device.read(m_buffer.data(), kBlock);
    m_pos = 0;
    if (n <= 0) {
        m_buffer.clear();
        m_failed = n < 0;
        return false;
    }
    m_buffer.resize(qsizetype(n));
    return true;
}

RecordLineReader::Result RecordLineReader::next(QString &line)
{
    QByteArray raw;
    bool sawAny = false;
    for (;;) {
        if (m_pos >= m_buffer.size() && !fill()) {
            if (m_failed)
                return Result::Error;
            if (!sawAny)
                return Result::End;
            break;
        }
        const char ch = m_buffer[m_pos++];
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
    // Before the first run the clock is empty; its count is written as 0 so
    // that the record reads back.
    appendLine(out, encode, s.runTicks.isEmpty() ? LooseValue(0) : s.runTicks);
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

RecordContent readRecord(QIODevice &device)
{
    RecordContent r;
    RecordLineReader reader(device);
    // Reads the next line, or notes why there is none.
    auto readLine = [&](QString &line, const QString &what) {
        switch (reader.next(line)) {
        case RecordLineReader::Result::Line:
            return true;
        case RecordLineReader::Result::End:
            r.refusal = RecordRefusal{reader.lineNumber() + 1,
                                      QStringLiteral("the file ends where %1 should be.").arg(what)};
            return false;
        case RecordLineReader::Result::TooLong:
            r.refusal = RecordRefusal{
                    reader.lineNumber(),
                    QStringLiteral("the line is longer than %1 characters; no record has such lines.")
                            .arg(RecordLineReader::kMaxLine)};
            return false;
        case RecordLineReader::Result::Error:
            break;
        }
        r.refusal = RecordRefusal{reader.lineNumber() + 1,
                                  QStringLiteral("reading failed: %1").arg(device.errorString())};
        return false;
    };

    static const char *const stampNames[] = {"the year", "the month", "the day",
                                             "the hour", "the minute", "the second"};
    QString line;
    for (const char *name : stampNames) {
        if (!readLine(line, QString::fromLatin1(name)))
            return r;
        r.stamp << line;
    }
    if (!readLine(line, QStringLiteral("the sample count")))
        return r;
    r.count = line;
    for (int stage = 1; stage <= 3; ++stage) {
        if (!readLine(line, QStringLiteral("the stage %1 temperature").arg(stage)))
            return r;
        r.profile << line;
        if (!readLine(line, QStringLiteral("the stage %1 time").arg(stage)))
            return r;
        r.profile << line;
    }

    const std::optional<double> count = strictNumber(*r.count);
    if (!count) {
        r.refusal = RecordRefusal{7, QStringLiteral("the sample count \"%1\" is no number.").arg(*r.count)};
        return r;
    }
    if (*count > SharedState::kSampleCount) {
        r.refusal = RecordRefusal{
                7, QStringLiteral("the sample count %1 is above %2, more than a record can hold.")
                           .arg(plainNumber(*count))
                           .arg(SharedState::kSampleCount)};
        return r;
    }
    r.countValue = count;
    for (double k = 0; k <= *count - 1; k += 1) {
        if (!readLine(line, QStringLiteral("sample %1").arg(plainNumber(k))))
            return r;
        r.samples << line;
    }
    return r;
}

bool openRecordFile(QFile &file, QString &why)
{
    // Asked before opening: opening a pipe or a serial device can itself block.
    const QFileInfo info(file.fileName());
    const QString notAFile = QStringLiteral("it is not a record file but %1.");
    if (info.isDir()) {
        why = notAFile.arg(QStringLiteral("a folder"));
        return false;
    }
    if (info.exists() && !info.isFile()) {
        why = notAFile.arg(QStringLiteral("a pipe, a device or a socket, which is never read"));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        why = file.errorString();
        return false;
    }
    // What was opened may not be what was looked at (replaced in between).
    QT_STATBUF st{};
    if (QT_FSTAT(file.handle(), &st) != 0 || (st.st_mode & QT_STAT_MASK) != QT_STAT_REG) {
        file.close();
        why = notAFile.arg(QStringLiteral("a pipe, a device or a socket, which is never read"));
        return false;
    }
    return true;
}

QString refusalMessage(const QString &fileName, const RecordRefusal &refusal)
{
    return QStringLiteral("The record %1 cannot be read further.\nLine %2: %3")
            .arg(fileName)
            .arg(refusal.line)
            .arg(refusal.reason);
}
