#pragma once

// The record file's format on its own: the bytes Save writes and the reading
// that Open does, with no dialog, message box or window. Open, Save and the
// command-line tool share it, so they accept and refuse the same files.

#include "state/outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct SharedState;
class QFile;
class QIODevice;

// The record of the last run as it is written: 13 + runTicks lines, each the
// print form of its value and CR LF, in the system's 8-bit encoding; an empty
// run clock (no run yet) gives the count 0. A failure says why when a sample
// index would fall outside the samples.
[[nodiscard]] Outcome<QByteArray> recordBytes(const SharedState &s);

// Record text in the system's 8-bit encoding, without loss: bytes that the
// encoding cannot map are carried in the text as the lone surrogates
// U+DC00 + byte, which no decoding produces, and are written back as those
// very bytes. So a record from another machine's code page goes through Open
// and Save unchanged.
[[nodiscard]] QString decodeRecordText(QByteArrayView bytes);
[[nodiscard]] QByteArray encodeRecordText(QStringView text);
// The text for people to read: carried bytes shown as U+FFFD.
[[nodiscard]] QString readableRecordText(QString text);

// Reads one record line at a time: a line ends at CR (a LF right after it is
// skipped) or at a bare LF. Lines longer than kMaxLine characters are refused
// instead of read into memory whole.
class RecordLineReader
{
public:
    static constexpr qsizetype kMaxLine = 4096;
    explicit RecordLineReader(QIODevice &device);

    enum class Result { Line, End, TooLong, Error };
    Result next(QString &line);
    [[nodiscard]] int lineNumber() const { return m_lineNumber; }

private:
    bool fill();

    QIODevice &m_device;
    QByteArray m_buffer; // read ahead in blocks, never more than one block
    QByteArray m_raw; // the line being read
    qsizetype m_pos = 0;
    bool m_failed = false;
    int m_lineNumber = 0;
    bool m_pendingLf = false;
};

// Where and why a record cannot be read further.
struct RecordRefusal
{
    int line = 0;
    QString reason;
};

// What a record holds, as far as it could be read: every line is text as
// read. A refused record keeps the lines read before the refusal.
struct RecordContent
{
    QStringList stamp; // lines 1-6: year, month, day, hour, minute, second
    std::optional<QString> count; // line 7
    QStringList profile; // lines 8-13: temperature and time of stages 1, 2, 3
    std::optional<double> countValue; // line 7 as a number, once accepted
    QStringList samples; // lines 14 on: samples 0, 1, ...
    std::optional<RecordRefusal> refusal;

    [[nodiscard]] bool complete() const { return !refusal; }
    [[nodiscard]] bool profileComplete() const { return profile.size() == 6; }
};

// Reads a whole record as Open does: the stamp, the count, the profile, then
// as many samples as the count says and no more. The count must be a number no
// larger than the samples can hold. Memory stays bounded whatever the device
// holds.
[[nodiscard]] RecordContent readRecord(QIODevice &device);

// Puts what was read where Open keeps it: the stamp lines into recordStamp,
// the count line into fileSampleCount, the profile lines into the stage
// elements 1-3 (temperature, then time), the sample lines into samples from 0.
// Everything else stays as it was.
void storeRecord(const RecordContent &record, SharedState &s);

// Opens a record file for reading, but only a regular file: a pipe, a device
// or a socket could block the reader for as long as nothing writes to it.
// A failure says why the file cannot be read as a record.
[[nodiscard]] Status openRecordFile(QFile &file);

// The operator's text for a sample the curve cannot use (index from 0).
[[nodiscard]] QString sampleNotDrawnMessage(const QString &fileName, int index, const QString &text);

// The operator's text for a refusal.
[[nodiscard]] QString refusalMessage(const QString &fileName, const RecordRefusal &refusal);
