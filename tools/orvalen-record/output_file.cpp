#include "output_file.h"

#include "cli.h"

#include <QFileInfo>
#include <QSaveFile>

namespace cli {

bool writeOutputFile(const QString &path, const QByteArray &bytes)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        say(QStringLiteral("orvalen-record: %1 is not a regular file; it is never written.").arg(path));
        return false;
    }
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.commit())
        return true;
    say(QStringLiteral("orvalen-record: %1 cannot be written: %2").arg(path, f.errorString()));
    return false;
}

} // namespace cli
