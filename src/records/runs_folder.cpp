#include "runs_folder.h"

#include <QStandardPaths>

namespace runs {

QString folder()
{
    // Asked with the name explicitly rather than through the running
    // application's, so that a tool with another name still finds it.
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty())
        return {};
    return data + QLatin1Char('/') + QLatin1String(kApplicationName) + QStringLiteral("/runs");
}

} // namespace runs
