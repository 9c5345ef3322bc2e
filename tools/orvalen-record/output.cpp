#include "output.h"

#include "records/record_format.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QFileInfo>
#include <QSaveFile>
#endif

namespace recordtool {

namespace {

const QString kNeverReplaced = QStringLiteral("it is not a regular file but %1, and is never replaced");

bool writeStandardOutput(const QByteArray &bytes, QString &why)
{
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) == std::size_t(bytes.size())
        && std::fflush(stdout) == 0)
        return true;
    why = QStringLiteral("standard output cannot be written: %1")
                  .arg(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

#ifdef Q_OS_UNIX

QByteArray nativeName(const QString &name) { return encodeRecordText(name); }

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    return QStringLiteral("a socket");
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool writeFile(const QString &name, const QByteArray &bytes, QString &why)
{
    QByteArray target = nativeName(name);
    struct stat existing
    {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        why = kNeverReplaced.arg(kindOf(existing.st_mode));
        return false;
    }
    // Never around the rights of the file: the rename would need none of it.
    if (exists && ::access(target.constData(), W_OK) != 0) {
        why = systemError(errno);
        return false;
    }
    if (exists) {
        // A link is followed to the file it names, as the program's Save does.
        if (char *real = ::realpath(target.constData(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const qsizetype slash = target.lastIndexOf('/');
    QByteArray temporary = (slash < 0 ? QByteArray() : target.left(slash + 1)) + ".orvalen-record-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        why = systemError(errno);
        return false;
    }
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
        // Where allowed (as root); first, as a change of owner clears set-id bits.
        if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // All of it on the disk before it takes the target's place: a full disk
    // leaves the target as it was.
    bool ok = writeAll(fd, bytes) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.constData());
        why = systemError(error);
    }
    return ok;
}

#else

bool writeFile(const QString &name, const QByteArray &bytes, QString &why)
{
    const QFileInfo existing(name);
    if (existing.exists() && !existing.isFile()) {
        why = kNeverReplaced.arg(existing.isDir() ? QStringLiteral("a folder") : QStringLiteral("a device"));
        return false;
    }
    QSaveFile f(name);
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && f.write(bytes) == bytes.size();
    if (ok && existing.exists())
        ok = f.setPermissions(existing.permissions());
    if (ok)
        ok = f.commit();
    if (!ok) {
        why = f.errorString();
        f.cancelWriting();
    }
    return ok;
}

#endif

} // namespace

QString argumentText(const char *arg)
{
#ifdef Q_OS_UNIX
    return decodeRecordText(QByteArrayView(arg));
#else
    return QString::fromLocal8Bit(arg);
#endif
}

QString shownName(const QString &name) { return readableRecordText(name); }

QString readableName(const QString &name)
{
#ifdef Q_OS_LINUX
    // Qt cannot spell a name with carried bytes; the file it names can be
    // reached through a descriptor of it, which stays open while the tool runs.
    if (shownName(name) != name) {
        const int fd = ::open(nativeName(name).constData(), O_PATH | O_CLOEXEC);
        if (fd >= 0)
            return QStringLiteral("/proc/self/fd/%1").arg(fd);
    }
#endif
    return name;
}

bool sameFile(const QString &a, const QString &b)
{
#ifdef Q_OS_UNIX
    struct stat sa
    {};
    struct stat sb
    {};
    return ::stat(nativeName(a).constData(), &sa) == 0 && ::stat(nativeName(b).constData(), &sb) == 0
           && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
#else
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
#endif
}

bool writeOutput(const QString &name, const QByteArray &bytes, QString &why)
{
    return name.isEmpty() ? writeStandardOutput(bytes, why) : writeFile(name, bytes, why);
}

} // namespace recordtool
