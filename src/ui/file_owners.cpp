#include "file_owners.h"

#include <QFile>
#include <qplatformdefs.h>

#ifdef Q_OS_UNIX
#include <unistd.h>

void SystemFileOwners::keepOwner(const QString &replaced, QFileDevice &written)
{
    QT_STATBUF st{};
    if (QT_STAT(QFile::encodeName(replaced).constData(), &st) != 0 || written.handle() < 0)
        return;
    // Only root may give a file away; anyone may give it a group of their own.
    if (::fchown(written.handle(), st.st_uid, st.st_gid) != 0
        && ::fchown(written.handle(), uid_t(-1), st.st_gid) != 0) {
        // Not allowed: the file stays the writer's, as any new file would.
    }
}

#else

void SystemFileOwners::keepOwner(const QString &, QFileDevice &) {}

#endif
