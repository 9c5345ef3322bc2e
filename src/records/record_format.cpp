#include "record_format.h"

#include "state/shared_state.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QStringDecoder>
#include <QStringEncoder>
#include <qplatformdefs.h>

namespace {

constexpr qint64 kBlock = 16 * 1024;

constexpr char16_t kCarriedByte = 0xDC00;

bool isAscii(QByteArrayView bytes)
{
    for (const char ch : bytes)
        if (uchar(ch) >= 0x80)
            return false;
    return true;
}

bool isAscii(QStringView text)
{
    for (const QChar ch : text)
        if (ch.unicode() >= 0x80)
            return false;
    return true;
}

// A byte the decoding could not map: a low surrogate U+DC00..U+DCFF with no
// high surrogate before it.
bool isCarriedByte(QStringView text, qsizetype i)
{
    const char16_t u = text[i].unicode();
    return u >= kCarriedByte && u <= kCarriedByte + 0xff && (i == 0 || !text[i - 1].isHighSurrogate());
}

bool hasCarriedBytes(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isCarriedByte(text, i))
            return true;
    return false;
}

QByteArray systemBytes(QStringView text)
{
    QStringEncoder encode(QStringEncoder::System);
    return encode(text);
}

// The characters that exactly these bytes decode to and encode back from, if any.
std::optional<QString> exactDecoding(QByteArrayView bytes)
{
    QStringDecoder decode(QStringDecoder::System);
    QString text = decode(bytes);
    if (decode.hasError() || text.isEmpty() || hasCarriedBytes(text) || systemBytes(text) != bytes)
        return std::nullopt;
    return text;
}

void appendLine(QByteArray &out, const LooseValue &value)
{
    out += encodeRecordText(value.printForm());
    out += "\r\n";
}

} // namespace

QString decodeRecordText(QByteArrayView bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    if (std::optional<QString> whole = exactDecoding(bytes))
        return *whole;
    // Character by character: the shortest run of bytes (a character is at
    // most four) that decodes and encodes back exactly, else one carried byte.
    QString text;
    qsizetype i = 0;
    while (i < bytes.size()) {
        qsizetype used = 0;
        for (qsizetype n = 1; n <= 4 && i + n <= bytes.size() && used == 0; ++n) {
            if (std::optional<QString> part = exactDecoding(bytes.sliced(i, n))) {
                text += *part;
                used = n;
            }
        }
        if (used == 0) {
            text += QChar(char16_t(kCarriedByte + uchar(bytes[i])));
            used = 1;
        }
        i += used;
    }
    return text;
}

QByteArray encodeRecordText(QStringView text)
{
    if (isAscii(text))
        return QByteArray(text.toLatin1());
    QByteArray out;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isCarriedByte(text, i))
            continue;
        out += systemBytes(text.sliced(runStart, i - runStart));
        out += char(text[i].unicode() - kCarriedByte);
        runStart = i + 1;
    }
    out += systemBytes(text.sliced(runStart));
    return out;
}

QString readableRecordText(QString text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (isCarriedByte(text, i))
            text[i] = QChar::ReplacementCharacter;
    return text;
}

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
    m_raw.resize(0); // keeps its room for the next line
    bool sawAny = false;
    for (;;) {
        if (m_pos >= m_buffer.size() && !fill()) {
            if (m_failed)
                return Result::Error;
            if (!sawAny)
                return Result::End;
            break;
        }
        if (m_pendingLf) {
            m_pendingLf = false;
            if (m_buffer[m_pos] == '\n') {
                ++m_pos;
                continue;
            }
        }
        sawAny = true;
        // The rest of the line as far as this block holds it.
        const char *begin = m_buffer.constData() + m_pos;
        const char *end = m_buffer.constData() + m_buffer.size();
        const char *stop = begin;
        while (stop != end && *stop != '\r' && *stop != '\n')
            ++stop;
        const qsizetype n = stop - begin;
        if (m_raw.size() + n > kMaxLine) {
            ++m_lineNumber;
            return Result::TooLong;
        }
        m_raw.append(begin, n);
        m_pos += n;
        if (stop != end) {
            m_pendingLf = *stop == '\r';
            ++m_pos;
            break;
        }
    }
    ++m_lineNumber;
    line = decodeRecordText(m_raw);
    return Result::Line;
}

Outcome<QByteArray> recordBytes(const SharedState &s)
{
    QByteArray out;
    for (const LooseValue &v : s.runStamp)
        appendLine(out, v);
    // Before the first run the clock is empty; its count is written as 0 so
    // that the record reads back.
    appendLine(out, s.runTicks.isEmpty() ? LooseValue(0) : s.runTicks);
    for (int stage = 1; stage <= 3; ++stage) {
        appendLine(out, s.stageTemp[std::size_t(stage)]);
        appendLine(out, s.stageTime[std::size_t(stage)]);
    }
    const double n = s.runTicks.leadingNumber();
    for (double k = 0; k <= n - 1; k += 1) {
        if (!SharedState::isSampleIndex(k)) {
            return Outcome<QByteArray>::failure(
                    QStringLiteral("the run has more seconds (%1) than can be recorded").arg(plainNumber(n)));
        }
        appendLine(out, s.samples[std::size_t(k)]);
    }
    return out;
}

namespace {

// The count line read as the number of samples that follow, or the refusal.
std::optional<double> sampleCount(RecordContent &r)
{
    const std::optional<double> count = strictNumber(*r.count);
    if (!count) {
        r.refusal = RecordRefusal{7, QStringLiteral("the sample count \"%1\" is no number.").arg(*r.count)};
        return std::nullopt;
    }
    if (*count > SharedState::kSampleCount) {
        r.refusal = RecordRefusal{
                7, QStringLiteral("the sample count %1 is above %2, more than a record can hold.")
                           .arg(plainNumber(*count))
                           .arg(SharedState::kSampleCount)};
        return std::nullopt;
    }
    return count;
}

} // namespace

RecordContent readRecord(QIODevice &device)
{
    RecordContent r;
    RecordLineReader reader(device);
    // Reads the next line, or notes why there is none; what names the line
    // for the refusal and is only asked then.
    auto readLine = [&](QString &line, const auto &what) {
        switch (reader.next(line)) {
        case RecordLineReader::Result::Line: return true;
        case RecordLineReader::Result::End:
            r.refusal = RecordRefusal{reader.lineNumber() + 1,
                                      QStringLiteral("the file ends where %1 should be.").arg(what())};
            return false;
        case RecordLineReader::Result::TooLong:
            r.refusal = RecordRefusal{
                    reader.lineNumber(),
                    QStringLiteral("the line is longer than %1 characters; no record has such lines.")
                            .arg(RecordLineReader::kMaxLine)};
            return false;
        case RecordLineReader::Result::Error: break;
        }
        r.refusal = RecordRefusal{reader.lineNumber() + 1,
                                  QStringLiteral("reading failed: %1").arg(device.errorString())};
        return false;
    };

    static const char *const stampNames[] = {"the year", "the month",  "the day",
                                             "the hour", "the minute", "the second"};
    QString line;
    for (const char *name : stampNames) {
        if (!readLine(line, [&] { return QString::fromLatin1(name); }))
            return r;
        r.stamp << line;
    }
    if (!readLine(line, [] { return QStringLiteral("the sample count"); }))
        return r;
    r.count = line;
    for (int stage = 1; stage <= 3; ++stage) {
        if (!readLine(line, [&] { return QStringLiteral("the stage %1 temperature").arg(stage); }))
            return r;
        r.profile << line;
        if (!readLine(line, [&] { return QStringLiteral("the stage %1 time").arg(stage); }))
            return r;
        r.profile << line;
    }

    const std::optional<double> count = sampleCount(r);
    if (!count)
        return r;
    r.countValue = count;
    for (double k = 0; k <= *count - 1; k += 1) {
        if (!readLine(line, [&] { return QStringLiteral("sample %1").arg(plainNumber(k)); }))
            return r;
        r.samples << line;
    }
    return r;
}

void storeRecord(const RecordContent &record, SharedState &s)
{
    for (qsizetype i = 0; i < record.stamp.size() && i < 6; ++i)
        s.recordStamp[std::size_t(i)] = record.stamp[i];
    if (record.count)
        s.fileSampleCount = *record.count;
    for (qsizetype i = 0; i < record.profile.size() && i < 6; ++i) {
        auto &element = i % 2 == 0 ? s.stageTemp : s.stageTime;
        element[std::size_t(i / 2 + 1)] = record.profile[i];
    }
    for (qsizetype k = 0; k < record.samples.size() && k < SharedState::kSampleCount; ++k)
        s.samples[std::size_t(k)] = record.samples[k];
}

Status openRecordFile(QFile &file)
{
    // Asked before opening: opening a pipe or a serial device can itself block.
    const QFileInfo info(file.fileName());
    const QString notAFile = QStringLiteral("it is not a record file but %1.");
    if (info.isDir())
        return Status::failure(notAFile.arg(QStringLiteral("a folder")));
    if (info.exists() && !info.isFile())
        return Status::failure(
                notAFile.arg(QStringLiteral("a pipe, a device or a socket, which is never read")));
    // The line reader reads in blocks of its own; a second buffer would only copy.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return Status::failure(file.errorString());
    // What was opened may not be what was looked at (replaced in between).
    QT_STATBUF st{};
    if (QT_FSTAT(file.handle(), &st) != 0 || (st.st_mode & QT_STAT_MASK) != QT_STAT_REG) {
        file.close();
        return Status::failure(
                notAFile.arg(QStringLiteral("a pipe, a device or a socket, which is never read")));
    }
    return Done{};
}

QString sampleNotDrawnMessage(const QString &fileName, int index, const QString &text)
{
    return QStringLiteral("The record %1: line %2 holds \"%3\", which is no temperature; "
                          "that second of the curve is not drawn.")
            .arg(fileName)
            .arg(index + 14)
            .arg(text);
}

QString refusalMessage(const QString &fileName, const RecordRefusal &refusal)
{
    return QStringLiteral("The record %1 cannot be read further.\nLine %2: %3")
            .arg(fileName)
            .arg(refusal.line)
            .arg(refusal.reason);
}
