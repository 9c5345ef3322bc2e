#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct Context;
struct SharedState;
class QIODevice;

inline constexpr const char *kRecordFilter = "All Files (*.*)|*.*|Text Files(*.dbf)|*.dbf";
inline constexpr int kRecordFilterSelected = 2;

void savefile_Click(Context &c);
void openfile_Click(Context &c);

// The record of the last run as it is written: 13 + runTicks lines, each the
// print form of its value and CR LF, in the system's 8-bit encoding. Empty with
// error set when a sample index would fall outside the samples.
[[nodiscard]] QByteArray recordBytes(const SharedState &s, QString &error);

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
    QIODevice &m_device;
    int m_lineNumber = 0;
    bool m_pendingLf = false;
};
