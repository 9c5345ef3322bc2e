#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
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

// What is at path, and its bytes where it is a file: what a write must not
// replace is the same before and after. A pipe is never opened.
[[nodiscard]] inline QByteArray whatIsAt(const QString &path)
{
    const QFileInfo i(path);
    return !i.exists() ? "nothing" : i.isDir() ? "folder" : !i.isFile() ? "other" : "file:" + readFile(path);
}

// A record file's bytes stamped "Y M D h m s" (9 May 2024 14:03:27 unless
// given) with the profile 150 60 230 90 220 40, the sample count as given and
// then the samples.
[[nodiscard]] inline QByteArray
recordText(int count, const QList<QByteArray> &samples, const QByteArray &stamp = "2024 5 9 14 3 27")
{
    QByteArray r;
    for (const QByteArray &field : stamp.split(' '))
        r += ' ' + field + " \r\n";
    r += ' ' + QByteArray::number(count) + " \r\n150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";
    for (const QByteArray &s : samples)
        r += s + "\r\n";
    return r;
}

} // namespace testfiles
