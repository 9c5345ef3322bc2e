// Any bytes as a record file: Open must not crash, read outside an array or
// grow without bound, and every record it does not draw must be explained
// to the operator.
#include "fakes.h"

#include "records/record_file.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QString path = QDir::temp().filePath(QStringLiteral("orvalen-fuzz-%1.dbf").arg(::getpid()));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    Rig rig;
    rig.files.answers << path;
    openfile_Click(rig.c);
    const bool drawn = rig.form.drawing.gridLines == 26;
    const bool told = !rig.messages.texts.isEmpty();
    if (!drawn && !told)
        std::abort(); // refused without a word
    if (rig.form.drawing.strokes.size() > 510)
        std::abort(); // more segments than a record can hold
    return 0;
}
