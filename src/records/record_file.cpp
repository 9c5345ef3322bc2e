#include "record_file.h"

#include "state/chart.h"
#include "state/context.h"
#include "state/profile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <qplatformdefs.h>

#include <cmath>

namespace {

constexpr QFileDevice::Permissions kModeBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                               | QFileDevice::ExeOwner | QFileDevice::ReadGroup
                                               | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                               | QFileDevice::ReadOther | QFileDevice::WriteOther
                                               | QFileDevice::ExeOther;

// What has reached the disk of the file being written.
qint64 writtenSize(const QFileDevice &file)
{
    QT_STATBUF st{};
    return QT_FSTAT(file.handle(), &st) == 0 ? qint64(st.st_size) : -1;
}

} // namespace

void savefile_Click(Context &c)
{
    c.services.Timer1.setEnabled(false);
    const QString fileName = c.services.files.saveFileName(QString::fromLatin1(kRecordFilter),
                                                           kRecordFilterSelected);
    if (fileName.isEmpty())
        return;
    SharedState &s = c.state;
    Outcome<QByteArray> record = recordBytes(s);
    const double n = s.runTicks.leadingNumber();
    s.loopIndex = n >= 1 ? std::floor(n - 1) + 1 : 0; // where the sample loop ends
    if (!record) {
        c.services.messages.show(QStringLiteral("The run was not saved: %1.").arg(record.error()),
                                 MessageService::Kind::Error);
        return;
    }
    const QByteArray bytes = std::move(record.value());
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
    // A record written over keeps its owner where allowed, and its mode. Only
    // the owner, group and other bits: Qt adds the user's own rights to the
    // owner's, and root may write anything, so a read-only record would turn
    // writable.
    if (ok && existing.exists()) {
        if (c.services.owners)
            c.services.owners->keepOwner(fileName, file);
        ok = file.setPermissions(existing.permissions() & kModeBits);
    }
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
    const Status opened = openRecordFile(file);
    if (!opened) {
        c.services.messages.show(
                QStringLiteral("The record %1 cannot be opened:\n%2").arg(fileName, opened.error()),
                MessageService::Kind::Error);
        return;
    }
    const RecordContent record = readRecord(file);
    storeRecord(record, s);
    if (record.profileComplete()) {
        showProfile(c);
        const auto &st = s.recordStamp;
        form.setCaption(Form::Caption::Label5,
                        st[0].plainForm() + u'-' + st[1].plainForm() + u'-' + st[2].plainForm());
        form.setCaption(Form::Caption::Label6,
                        st[3].plainForm() + u':' + st[4].plainForm() + u':' + st[5].plainForm());
    }
    if (!record.samples.isEmpty()) // the sample loop's counter at its last pass
        s.loopIndex = double(record.samples.size() - 1);
    if (record.refusal) {
        if (record.countValue) // stopped in the sample loop, at the sample it could not read
            s.loopIndex = double(record.samples.size());
        c.services.messages.show(refusalMessage(fileName, *record.refusal), MessageService::Kind::Error);
        return;
    }
    file.close();
    chart::drawGrid(form.chart(), s.loopIndex);
    const std::optional<int> bad = chart::drawRecordedCurve(form.chart(), s,
                                                            s.fileSampleCount.leadingNumber());
    if (bad) {
        c.services.messages.show(sampleNotDrawnMessage(fileName, *bad, s.samples[std::size_t(*bad)].text()),
                                 MessageService::Kind::Warning);
    }
}
