#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// Files and record texts the tests write and read back.
namespace testfiles {

// The whole file; empty when it cannot be read.
[[nodiscard]] inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// True when all of bytes were written.
[[nodiscard]] inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A record file's bytes stamped 9 May 2024 14:03:27 with the profile
// 150 60 230 90 220 40, the sample count as given and then the samples.
[[nodiscard]] inline QByteArray recordText(int count, const QList<QByteArray> &samples)
{
    QByteArray r = " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n";
    r += ' ' + QByteArray::number(count) + " \r\n150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";
    for (const QByteArray &s : samples)
        r += s + "\r\n";
    return r;
}

} // namespace testfiles
